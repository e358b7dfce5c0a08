// The settings reference is the table of keys in config/slots, which loadSlot
// reads and --help lists. The README's settings table, the manual page and
// the Windows README must describe every one of those keys with the same
// values and default, and no key the program does not read: a key added to
// the program without its documentation, or documentation left behind by a
// change, fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/usage.h"
#include "config/slots.h"

namespace {

std::string sourceFile(const std::string& path) {
  std::ifstream in(std::string(FERRIN_SOURCE_DIR) + "/" + path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (std::string::size_type at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

// Text as a reader sees it: roff's escapes and Markdown's code marks gone,
// every run of white space one blank, no blank at either end.
std::string plain(std::string text) {
  replaceAll(text, "\\-", "-");
  replaceAll(text, "\\(aq", "'");
  for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP", "`"}) replaceAll(text, font, "");
  std::string out;
  for (char c : text) {
    bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (!blank) out += c;
    else if (!out.empty() && out.back() != ' ') out += ' ';
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::set<std::string> programKeys() {
  std::set<std::string> keys;
  for (const SlotKeyInfo& key : kSlotKeys) keys.insert(key.name);
  return keys;
}

const SlotKeyInfo* keyNamed(const std::string& name) {
  for (const SlotKeyInfo& key : kSlotKeys)
    if (name == key.name) return &key;
  return nullptr;
}

// Each document's entry of a key: its text, by key name.
using Entries = std::map<std::string, std::string>;

// The lines from the heading `start` up to the next line that `ends` accepts.
template <typename Ends>
std::vector<std::string> sectionOf(const std::vector<std::string>& lines, const std::string& start, Ends ends) {
  std::vector<std::string> section;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!inside) {
      inside = lines[i] == start;
      continue;
    }
    if (ends(lines, i)) break;
    section.push_back(lines[i]);
  }
  return section;
}

// README.md: the rows of the table under "## Settings", as "values|default".
Entries readmeEntries(const std::string& text) {
  Entries entries;
  auto nextHeading = [](const std::vector<std::string>& l, std::size_t i) { return l[i].rfind("## ", 0) == 0; };
  for (const std::string& row : sectionOf(linesOf(text), "## Settings", nextHeading)) {
    if (row.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) cells.push_back(plain(cell));
    if (cells.size() < 3) continue;
    entries[cells[0]] = cells[1] + "|" + cells[2];
  }
  return entries;
}

// The manual page: the ".TP" entries of ".SH SETTINGS" whose tag is ".B key".
Entries manEntries(const std::string& text) {
  Entries entries;
  auto nextSection = [](const std::vector<std::string>& l, std::size_t i) { return l[i].rfind(".SH ", 0) == 0; };
  std::string key;
  bool tagNext = false;  // the line after ".TP" is the entry's tag
  for (const std::string& line : sectionOf(linesOf(text), ".SH SETTINGS", nextSection)) {
    if (line == ".TP" || line == ".PP") {
      key.clear();
      tagNext = line == ".TP";
    } else if (tagNext) {
      key = line.rfind(".B ", 0) == 0 ? line.substr(3) : line;
      entries[key];
      tagNext = false;
    } else if (!key.empty()) {
      entries[key] += " " + (line.rfind(".B ", 0) == 0 || line.rfind(".I ", 0) == 0 ? line.substr(3) : line);
    }
  }
  for (auto& entry : entries) entry.second = plain(entry.second);
  return entries;
}

// The Windows README: under "Settings", an entry begins with the key at the
// start of a line and ends at a blank line.
Entries windowsEntries(const std::string& text) {
  Entries entries;
  auto nextHeading = [](const std::vector<std::string>& l, std::size_t i) {
    return i + 1 < l.size() && !l[i].empty() && l[i + 1].find_first_not_of('-') == std::string::npos &&
           !l[i + 1].empty();
  };
  std::string key;
  for (const std::string& line : sectionOf(linesOf(text), "Settings", nextHeading)) {
    if (line.empty()) {
      key.clear();
    } else if (key.empty() && line[0] >= 'a' && line[0] <= 'z' && line.find("  ") != std::string::npos) {
      key = line.substr(0, line.find(' '));
      entries[key] = line.substr(key.size());
    } else if (!key.empty()) {
      entries[key] += " " + line;
    }
  }
  for (auto& entry : entries) entry.second = plain(entry.second);
  return entries;
}

std::set<std::string> keysOf(const Entries& entries) {
  std::set<std::string> keys;
  for (const auto& entry : entries) keys.insert(entry.first);
  return keys;
}

// Values and default in the "Values: ... Default: ..." form of the manual
// page and the Windows README.
void expectValuesAndDefault(const Entries& entries, const std::string& document) {
  EXPECT_EQ(keysOf(entries), programKeys()) << document << " lists other keys than the program reads";
  for (const auto& entry : entries) {
    const SlotKeyInfo* key = keyNamed(entry.first);
    if (key == nullptr) continue;
    std::string values = "Values: " + slotKeyValues(*key) + ".";
    std::string fallback = "Default: " + slotKeyDefault(*key) + ".";
    EXPECT_NE(entry.second.find(values), std::string::npos)
        << document << ", " << entry.first << ": expected \"" << values << "\" in: " << entry.second;
    EXPECT_NE(entry.second.find(fallback), std::string::npos)
        << document << ", " << entry.first << ": expected \"" << fallback << "\" in: " << entry.second;
  }
}

}  // namespace

TEST(SettingsReference, ReadmeTableHasEveryKeyWithItsValuesAndDefault) {
  std::string readme = sourceFile("README.md");
  ASSERT_FALSE(readme.empty()) << "README.md is missing";
  Entries entries = readmeEntries(readme);
  EXPECT_EQ(keysOf(entries), programKeys()) << "the table under \"## Settings\" lists other keys than the program reads";
  for (const auto& entry : entries) {
    const SlotKeyInfo* key = keyNamed(entry.first);
    if (key != nullptr) EXPECT_EQ(entry.second, slotKeyValues(*key) + "|" + slotKeyDefault(*key)) << entry.first;
  }
}

TEST(SettingsReference, ManualPageAndWindowsReadmeDescribeEveryKeyAlike) {
  std::string man = sourceFile("packaging/ferrin.1.in");
  std::string windows = sourceFile("packaging/README-win32.txt.in");
  ASSERT_FALSE(man.empty()) << "packaging/ferrin.1.in is missing";
  ASSERT_FALSE(windows.empty()) << "packaging/README-win32.txt.in is missing";
  expectValuesAndDefault(manEntries(man), "the manual page");
  expectValuesAndDefault(windowsEntries(windows), "the Windows README");
}

// A key read anywhere in the program by its name is one of the table's.
TEST(SettingsReference, EveryKeyTheSourceReadsIsInTheTable) {
  const std::regex keyRead("readProfileString\\([^,;]*,\\s*\"([^\"]+)\"");
  int found = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(std::string(FERRIN_SOURCE_DIR) + "/src")) {
    if (!file.is_regular_file()) continue;
    std::string text = sourceFile(std::filesystem::relative(file.path(), FERRIN_SOURCE_DIR).string());
    for (std::sregex_iterator m(text.begin(), text.end(), keyRead), end; m != end; ++m, ++found)
      EXPECT_NE(keyNamed((*m)[1].str()), nullptr) << file.path() << " reads the key " << (*m)[1] << ", not in kSlotKeys";
  }
  EXPECT_GT(found, 0) << "no key read by name found under src/: the pattern no longer matches the source";
}

TEST(SettingsReference, HelpListsEveryKeyWithItsValues) {
  std::string help;
  for (const std::string& line : usageLines()) help += line + "\n";
  for (const SlotKeyInfo& key : kSlotKeys) {
    std::string line = help.substr(help.find("\n  " + std::string(key.name) + " ") + 1);
    EXPECT_NE(plain(line).find(slotKeyValues(key) + ". Default: " + slotKeyDefault(key) + "."), std::string::npos)
        << key.name << " in:\n" << help;
  }
}

// What a shop technician reads first: short enough to read, the two commands
// for a fresh machine, and the waiting queue wherever printouts are described.
TEST(UserDocuments, ReadmeIsShortAndKeepsItsCommandsAndEveryDocumentHasTheQueue) {
  std::string readme = sourceFile("README.md");
  EXPECT_LT(linesOf(readme).size(), 300u) << "README.md is for users; building and measuring go to docs/development.md";
  for (const char* script : {"scripts/demo.sh", "scripts/test.sh"}) {
    EXPECT_NE(readme.find(std::string("bash ") + script), std::string::npos) << "README.md lost " << script;
    EXPECT_FALSE(sourceFile(script).empty()) << script << " is missing";
  }
  for (const char* document : {"README.md", "packaging/ferrin.1.in", "packaging/README-win32.txt.in"}) {
    std::string text = plain(sourceFile(document));
    EXPECT_NE(text.find("in the folder waiting"), std::string::npos) << document << " does not describe the queue";
  }
}

// Every switch --help lists is described in the manual page's OPTIONS and
// named in both READMEs.
TEST(UserDocuments, EverySwitchOfTheUsageIsDocumented) {
  std::vector<std::string> switches;
  for (const std::string& line : usageLines())
    if (line.rfind("  -", 0) == 0) switches.push_back(line.substr(2, line.find(' ', 2) - 2));
  EXPECT_GE(switches.size(), 4u) << "the usage no longer lists its switches as \"  -SWITCH  what it does\"";
  auto nextSection = [](const std::vector<std::string>& l, std::size_t i) { return l[i].rfind(".SH ", 0) == 0; };
  std::string options;
  for (const std::string& line : sectionOf(linesOf(sourceFile("packaging/ferrin.1.in")), ".SH OPTIONS", nextSection))
    options += line + "\n";
  options = plain(options);
  std::string readme = plain(sourceFile("README.md"));
  std::string windows = plain(sourceFile("packaging/README-win32.txt.in"));
  for (const std::string& name : switches) {
    EXPECT_NE(options.find(name), std::string::npos) << "the manual page's OPTIONS lack " << name;
    EXPECT_NE(readme.find(name), std::string::npos) << "README.md does not name " << name;
    EXPECT_NE(windows.find(name), std::string::npos) << "the Windows README does not name " << name;
  }
}
