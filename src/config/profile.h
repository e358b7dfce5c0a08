// The settings file ".\ferrin.ini" in the working directory, one key at a time.
// profile_win32.cpp uses the private-profile calls; profile_posix.cpp uses the
// INI reader and writer in ini.cpp.
#pragma once

#include <cstddef>
#include <string>

// The key's value with outer blanks removed, cut to bufferSize-1 bytes; empty
// when the file, section or key is missing. Names match without regard to case.
std::string readProfileString(const std::string& section, const std::string& key, std::size_t bufferSize);

// Writes one key, creating the file or the section when needed and keeping
// every other line. False when the file could not be written.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value);
