#include "files/confine.h"

#include <cstddef>

namespace {

#ifdef _WIN32
const bool kWindowsPathRules = true;
#else
const bool kWindowsPathRules = false;
#endif

bool isSeparator(char c, bool windowsRules) { return c == '/' || (windowsRules && c == '\\'); }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameWithoutCase(const std::string& text, const char* word) {
  std::size_t i = 0;
  for (; i < text.size() && word[i] != '\0'; ++i) {
    if (upper(text[i]) != word[i]) return false;
  }
  return i == text.size() && word[i] == '\0';
}

// Windows reads an element of dots and blanks only as ".." or as nothing once
// it has trimmed the trailing dots and blanks (".. ", "...", ". "); only "."
// itself is safe.
bool onlyDotsAndBlanks(const std::string& element) {
  return element.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device instead of a file for these names, whatever the
// extension and in any folder: CON would read ferrin's own keyboard, COM1 a
// serial port. The superscript digits are those of code page 1252, which
// Windows also reads as COM and LPT numbers.
bool isDeviceName(const std::string& element) {
  std::string base = element.substr(0, element.find('.'));
  std::size_t end = base.find_last_not_of(' ');
  base = end == std::string::npos ? std::string() : base.substr(0, end + 1);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* device : kDevices) {
    if (sameWithoutCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  std::string stem = base.substr(0, 3);
  if (!sameWithoutCase(stem, "COM") && !sameWithoutCase(stem, "LPT")) return false;
  unsigned char number = static_cast<unsigned char>(base[3]);
  return (number >= '0' && number <= '9') || number == 0xB2 || number == 0xB3 || number == 0xB9;
}

SpoolNameCheck checkElement(const std::string& element, bool windowsRules) {
  if (element == "..") return kSpoolNameParent;
  if (!windowsRules || element.empty() || element == ".") return kSpoolNameInside;
  if (onlyDotsAndBlanks(element)) return kSpoolNameParent;
  if (isDeviceName(element)) return kSpoolNameDevice;
  return kSpoolNameInside;
}

}  // namespace

SpoolNameCheck checkSpoolName(const std::string& name, bool windowsRules) {
  if (name.empty()) return kSpoolNameEmpty;
  if (name.find('\0') != std::string::npos) return kSpoolNameNulByte;
  // A drive means nothing on POSIX, but a name written for one was meant for
  // some other folder than this one.
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') return kSpoolNameDrive;
  if (isSeparator(name[0], windowsRules)) return kSpoolNameAbsolute;
  if (windowsRules && name.find(':') != std::string::npos) return kSpoolNameStream;

  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < name.size() && !isSeparator(name[end], windowsRules)) ++end;
    std::string element = name.substr(start, end - start);
    SpoolNameCheck check = checkElement(element, windowsRules);
    if (check != kSpoolNameInside) return check;
    if (end == name.size()) {
      // The last element is the file itself: "sub/" and "sub/." are folders,
      // and the file layer would read a trailing separator as every file in
      // that folder when it deletes.
      return element.empty() || element == "." ? kSpoolNameNoFile : kSpoolNameInside;
    }
    start = end + 1;
  }
}

bool spoolNameConfined(const std::string& name, bool windowsRules) {
  return checkSpoolName(name, windowsRules) == kSpoolNameInside;
}

bool spoolNameConfinedHere(const std::string& name) { return spoolNameConfined(name, kWindowsPathRules); }
