// The settings file ".\ferrin.ini" in the working directory, one key at a time.
// profile_win32.cpp uses the private-profile calls; profile_posix.cpp uses the
// INI reader and writer in ini.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The key's value with outer blanks removed, cut to bufferSize-1 bytes; empty
// when the file, section or key is missing. Names match without regard to case.
std::string readProfileString(const std::string& section, const std::string& key, std::size_t bufferSize);

// The values of several keys of one section, in the order of `keys`, each as
// readProfileString gives it. POSIX reads and parses the file once for all of
// them (and not at all while the file is unchanged).
std::vector<std::string> readProfileStrings(const std::string& section, const std::vector<std::string>& keys,
                                            std::size_t bufferSize);

// A number that changes whenever ferrin.ini may read differently, so that a
// reader can skip reading it again while it stays the same. Never 0. Both
// platforms tell by the file's size and times (a file written in the last two
// seconds counts as changed every time).
unsigned long profileGeneration();
// Whether others than its owner may read ferrin.ini (POSIX: read permission
// for its group or for all), so that a password in it is not secret. Always
// false on Windows, whose folder permissions decide that.
bool profileReadableByOthers();

// Writes one key, creating the file or the section when needed and keeping
// every other line. False when the file could not be written.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value);
