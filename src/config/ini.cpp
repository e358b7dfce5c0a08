#include "config/ini.h"

#include <vector>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The file's lines without their line ends (LF, CR LF or a lone CR).
std::vector<std::string> splitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < content.size(); ++i) {
    char c = content[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// A section header: a line whose first non-blank is '['. The name runs to the
// first ']' (or the end of a line that lacks one).
bool sectionName(const std::string& line, std::string* name) {
  std::string t = trim(line);
  if (t.empty() || t[0] != '[') return false;
  std::size_t close = t.find(']');
  *name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// A key line: the name before the first '=', the value after it; a line
// without '=' is a key with an empty value.
void keyAndValue(const std::string& line, std::string* key, std::string* value) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    *key = trim(line);
    value->clear();
    return;
  }
  *key = trim(line.substr(0, eq));
  std::string v = trim(line.substr(eq + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v[v.size() - 1] == v[0]) v = v.substr(1, v.size() - 2);
  *value = v;
}

// Index of the first line of the first section with that name, or -1.
long findSection(const std::vector<std::string>& lines, const std::string& section) {
  std::string name;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (sectionName(lines[i], &name) && sameName(name, trim(section))) return static_cast<long>(i);
  return -1;
}

}  // namespace

bool iniLookup(const std::string& content, const std::string& section, const std::string& key, std::string* value) {
  std::vector<std::string> lines = splitLines(content);
  long start = findSection(lines, section);
  if (start < 0) return false;
  std::string name, k, v;
  for (std::size_t i = static_cast<std::size_t>(start) + 1; i < lines.size(); ++i) {
    if (sectionName(lines[i], &name)) break;
    if (trim(lines[i]).empty()) continue;
    keyAndValue(lines[i], &k, &v);
    if (sameName(k, trim(key))) {
      *value = v;
      return true;
    }
  }
  return false;
}

std::string iniUpdate(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value) {
  std::string clean = value.substr(0, value.find_first_of("\r\n"));
  std::vector<std::string> lines = splitLines(content);
  std::string wantedKey = trim(key);
  long start = findSection(lines, section);
  if (start < 0) {
    lines.push_back("[" + trim(section) + "]");
    lines.push_back(wantedKey + "=" + clean);
  } else {
    std::size_t insertAt = static_cast<std::size_t>(start) + 1;
    bool replaced = false;
    std::string name, k, v;
    for (std::size_t i = static_cast<std::size_t>(start) + 1; i < lines.size(); ++i) {
      if (sectionName(lines[i], &name)) break;
      if (trim(lines[i]).empty()) continue;
      insertAt = i + 1;
      keyAndValue(lines[i], &k, &v);
      if (sameName(k, wantedKey)) {
        lines[i] = k + "=" + clean;
        replaced = true;
        break;
      }
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<long>(insertAt), wantedKey + "=" + clean);
  }
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}
