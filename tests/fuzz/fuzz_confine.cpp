// checkSpoolName on arbitrary names, under both rule sets, against a model
// that walks the name lexically with a depth counter: a name it accepts never
// climbs above the folder at any point, never begins at a root, never names a
// drive, holds no NUL and (Windows) no colon. The model decides the plain
// cases itself: a name of ordinary elements that never climbs is accepted.
// A name the Windows rules accept is accepted by the POSIX rules too, and
// putting "../" or "sub/../" before an accepted name makes it refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/confine.h"
#include "fuzz/check.h"

namespace {

struct Walk {
  bool absolute = false;
  bool drive = false;
  bool climbs = false;   // the depth went below 0 somewhere
  bool ordinary = true;  // every element is letters, digits, - and _ with at most one inner dot
};

bool separator(char c, bool windows) { return c == '/' || (windows && c == '\\'); }

std::vector<std::string> elements(const std::string& name, bool windows) {
  std::vector<std::string> out(1);
  for (char c : name) {
    if (separator(c, windows)) out.emplace_back();
    else out.back() += c;
  }
  return out;
}

// What Windows makes of an element: trailing dots and blanks go, except from
// "." and "..". An element left empty by the trimming is counted as "..":
// whether Windows reads it so or not, the model assumes the worse.
std::string windowsElement(const std::string& element) {
  if (element.empty() || element == "." || element == "..") return element;
  std::size_t end = element.find_last_not_of(". ");
  return end == std::string::npos ? ".." : element.substr(0, end + 1);
}

bool ordinaryElement(const std::string& e) {
  if (e.empty() || e.size() > 12) return false;
  std::size_t dots = 0;
  for (char c : e) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (c == '.') ++dots;
    else if (!plain) return false;
  }
  return dots == 0 || (dots == 1 && e.front() != '.' && e.back() != '.');
}

// Windows device names the model knows by itself (before the extension).
bool deviceLike(const std::string& e, bool windows) {
  if (!windows) return false;
  std::string base = e.substr(0, e.find('.'));
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
         base[3] <= '9';
}

Walk walk(const std::string& name, bool windows) {
  Walk w;
  w.absolute = !name.empty() && separator(name[0], windows);
  w.drive = name.size() >= 2 && name[1] == ':' &&
            ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  long depth = 0;
  for (const std::string& raw : elements(name, windows)) {
    std::string e = windows ? windowsElement(raw) : raw;
    if (e == "..") --depth;
    else if (!e.empty() && e != ".") ++depth;
    if (depth < 0) w.climbs = true;
    if (!ordinaryElement(raw) || deviceLike(raw, windows)) w.ordinary = false;
  }
  return w;
}

void checkRules(const std::string& name, bool windows) {
  const char* rules = windows ? "Windows" : "POSIX";
  bool accepted = spoolNameConfined(name, windows);
  Walk w = walk(name, windows);
  if (accepted) {
    FUZZ_CHECK(!name.empty(), "%s rules accepted an empty name", rules);
    FUZZ_CHECK(!w.climbs, "%s rules accepted '%s', which climbs out of the folder", rules, name.c_str());
    FUZZ_CHECK(!w.absolute, "%s rules accepted '%s', which begins at a root", rules, name.c_str());
    FUZZ_CHECK(!w.drive, "%s rules accepted '%s', which names a drive", rules, name.c_str());
    FUZZ_CHECK(name.find('\0') == std::string::npos, "%s rules accepted a name with a NUL", rules);
    FUZZ_CHECK(!windows || name.find(':') == std::string::npos, "Windows rules accepted '%s' with a colon",
               name.c_str());
    FUZZ_CHECK(!spoolNameConfined("../" + name, windows), "%s rules accepted '../%s'", rules, name.c_str());
    FUZZ_CHECK(!spoolNameConfined("sub/../" + name, windows), "%s rules accepted 'sub/../%s'", rules, name.c_str());
  } else if (w.ordinary && !w.climbs && !w.absolute && !w.drive) {
    FUZZ_CHECK(false, "%s rules refused the ordinary name '%s'", rules, name.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  checkRules(name, false);
  checkRules(name, true);
  FUZZ_CHECK(!spoolNameConfined(name, true) || spoolNameConfined(name, false),
             "'%s' is accepted by the Windows rules but not by the POSIX rules", name.c_str());
  return 0;
}
