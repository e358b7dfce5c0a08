// An INI reader and writer over the text of a whole file, read and written
// the way the Windows private-profile calls treat such files: section and key
// names match without regard to case, values lose their outer blanks (and one
// pair of enclosing quotes), the first matching section and key win, and a
// write changes one key's line and keeps every other line as it was.
#pragma once

#include <string>

// Looks the key up; false when the section or key is missing.
bool iniLookup(const std::string& content, const std::string& section, const std::string& key, std::string* value);

// The file's text with the key set to the value: the key's line replaced, or
// a line added at the end of the section, or the section added at the end.
// Every line of the result ends in CR LF. A value is cut at its first CR or
// LF so that it cannot break the file's layout.
std::string iniUpdate(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value);
