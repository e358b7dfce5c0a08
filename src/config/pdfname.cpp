#include "config/pdfname.h"

#include <cstdio>
#include <vector>

namespace {

const std::size_t kMaxTextField = 40;
// Bounds on the longest name a template can give: a file or folder name,
// and the whole name inside "printed".
const std::size_t kMaxComponent = 120;
const std::size_t kMaxWhole = 200;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The longest text a field gives; 0 for a field ferrin does not know.
std::size_t fieldLength(char field) {
  switch (field) {
    case 'Y': return 4;
    case 'm': case 'd': case 'H': case 'M': case 'S': return 2;
    case 'n': return 4;
    case 'p': return 1;
    case 't': return kMaxTextField;
    case '%': return 1;
    default: return 0;
  }
}

std::string upperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension.
bool reservedOnWindows(const std::string& component) {
  std::string base = upperCase(component.substr(0, component.find('.')));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// The template's components, split at separators.
std::vector<std::string> componentsOf(const std::string& pattern) {
  std::vector<std::string> parts(1);
  for (char c : pattern) {
    if (isSeparator(c)) parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

// The problem of one component (the text of the template between two
// separators); *longest receives the longest text it can give.
std::string componentProblem(const std::string& part, std::size_t* longest) {
  *longest = 0;
  if (part.empty()) return "has an empty folder name";
  if (part == "." || part == "..") return "would leave the folder printed";
  if (reservedOnWindows(part)) return "names a file that Windows reserves (" + part + ")";
  if (part.back() == '.' || part.back() == ' ') return "has a name ending in a dot or a blank, which Windows drops";
  for (std::size_t i = 0; i < part.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(part[i]);
    if (c < 0x20 || c == 0x7F) return "holds a control character";
    if (std::string("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos)
      return std::string("holds the character ") + static_cast<char>(c) + ", which Windows refuses in names";
    if (c != '%') {
      ++*longest;
      continue;
    }
    if (i + 1 == part.size()) return "ends in %";
    std::size_t length = fieldLength(part[++i]);
    if (length == 0) return std::string("has the field %") + part[i] + ", which ferrin does not know";
    *longest += length;
  }
  if (*longest > kMaxComponent) return "could give a name too long for a file";
  return std::string();
}

std::string twoDigits(int value) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "%02d", value);  // two digits always fit
  return text;
}

// What a field stands for.
std::string fieldText(char field, const LocalTime& time, int printerNumber, const std::string& text) {
  switch (field) {
    case 'Y': return std::to_string(time.year);
    case 'm': return twoDigits(time.month);
    case 'd': return twoDigits(time.day);
    case 'H': return twoDigits(time.hour);
    case 'M': return twoDigits(time.minute);
    case 'S': return twoDigits(time.second);
    case 'n': return std::string(1, kPdfCounterMark);
    case 'p': return std::to_string(printerNumber);
    case 't': return text;
    default: return "%";
  }
}

}  // namespace

std::string pdfNameProblem(const std::string& pattern) {
  if (!pattern.empty() && isSeparator(pattern[0])) return "is not a name inside the folder printed";
  std::vector<std::string> parts = componentsOf(pattern);
  if (parts.size() > static_cast<std::size_t>(kMaxPdfNameFolders) + 1)
    return "makes more than " + std::to_string(kMaxPdfNameFolders) + " folders one inside the other";
  std::size_t whole = parts.size() - 1;
  for (const std::string& part : parts) {
    std::size_t longest;
    std::string problem = componentProblem(part, &longest);
    if (!problem.empty()) return problem;
    whole += longest;
  }
  if (whole > kMaxWhole) return "could give a name too long for a file";
  return std::string();
}

std::string fileNameText(const std::string& text) {
  std::string safe;
  for (char c : text) {
    if (safe.size() >= kMaxTextField) break;
    bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (kept) safe += c;
    else if (!safe.empty() && safe.back() != '_') safe += '_';
  }
  // Blanks around the text leave no '_' at either end.
  while (!safe.empty() && safe.back() == '_') safe.pop_back();
  safe.erase(0, safe.find_first_not_of('_'));
  return safe.empty() ? "printout" : safe;
}

std::string expandPdfName(const std::string& pattern, const LocalTime& time, int printerNumber,
                          const std::string& firstLine) {
  const std::string text = fileNameText(firstLine);
  std::string name;
  std::string part;
  auto endPart = [&name, &part](bool last) {
    // A name the line's text made reserved on Windows (a printout whose
    // first line is "con") is kept apart from it.
    if (reservedOnWindows(part)) part += '_';
    name += part;
    if (!last) name += '/';
    part.clear();
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (isSeparator(pattern[i])) endPart(false);
    else if (pattern[i] != '%' || i + 1 == pattern.size()) part += pattern[i];
    else part += fieldText(pattern[++i], time, printerNumber, text);
  }
  endPart(true);
  // The device adds ".pdf" itself.
  if (name.size() > 4 && upperCase(name.substr(name.size() - 4)) == ".PDF") name.resize(name.size() - 4);
  return name;
}
