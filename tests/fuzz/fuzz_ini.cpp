// The INI reader and writer on arbitrary file text. Input: section NUL key
// NUL value NUL file text. After iniUpdate the key reads back as the value
// would be read from the file (cut at its first CR or LF, outer blanks and one
// pair of enclosing quotes removed), every other key keeps its value, and a
// second identical update changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ini.h"
#include "fuzz/check.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
  std::string x = trimmed(a), y = trimmed(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    char p = x[i], q = y[i];
    if (p >= 'a' && p <= 'z') p = static_cast<char>(p - 32);
    if (q >= 'a' && q <= 'z') q = static_cast<char>(q - 32);
    if (p != q) return false;
  }
  return true;
}

// The value as a reader sees it once written.
std::string readBack(const std::string& value) {
  std::string v = trimmed(value.substr(0, value.find_first_of("\r\n")));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

// Every name in the text that could be a section or a key, so that their
// values can be compared before and after the update.
void candidateNames(const std::string& content, std::vector<std::string>* sections, std::vector<std::string>* keys) {
  std::size_t start = 0;
  while (start <= content.size() && sections->size() < 24 && keys->size() < 24) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = content.size();
    std::string line = trimmed(content.substr(start, end - start));
    if (!line.empty() && line[0] == '[') {
      sections->push_back(line.substr(1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - 1));
    } else if (!line.empty()) {
      keys->push_back(line.substr(0, line.find('=')));
    }
    start = end + 1;
  }
}

// Names a program would use: one line, no '=' in a key, no ']' in a section,
// a key that does not look like a section header.
bool usableNames(const std::string& section, const std::string& key) {
  if (section.find_first_of("\r\n]") != std::string::npos) return false;
  if (key.find_first_of("\r\n=") != std::string::npos) return false;
  std::string k = trimmed(key);
  return k.empty() || k[0] != '[';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string parts[3];
  std::size_t pos = 0;
  for (std::string& part : parts) {
    std::size_t nul = input.find('\0', pos);
    if (nul == std::string::npos) return 0;
    part = input.substr(pos, nul - pos);
    pos = nul + 1;
  }
  const std::string& section = parts[0];
  const std::string& key = parts[1];
  const std::string& value = parts[2];
  std::string content = input.substr(pos);
  if (!usableNames(section, key)) return 0;

  std::vector<std::string> sections, keys;
  candidateNames(content, &sections, &keys);
  sections.push_back(section);
  keys.push_back(key);

  std::string updated = iniUpdate(content, section, key, value);

  std::string got;
  FUZZ_CHECK(iniLookup(updated, section, key, &got), "written key [%s] %s not found", section.c_str(), key.c_str());
  FUZZ_CHECK(got == readBack(value), "key %s reads back as '%s', expected '%s'", key.c_str(), got.c_str(),
             readBack(value).c_str());

  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      if (sameName(s, section) && sameName(k, key)) continue;
      std::string before, after;
      bool hadIt = iniLookup(content, s, k, &before);
      bool hasIt = iniLookup(updated, s, k, &after);
      FUZZ_CHECK(hadIt == hasIt && before == after, "[%s] %s changed from %s'%s' to %s'%s'", s.c_str(), k.c_str(),
                 hadIt ? "" : "(missing) ", before.c_str(), hasIt ? "" : "(missing) ", after.c_str());
    }
  }

  FUZZ_CHECK(iniUpdate(updated, section, key, value) == updated, "a second identical update changed the file");
  return 0;
}
