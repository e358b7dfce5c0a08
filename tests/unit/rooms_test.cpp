// The rooms of the source keep to what they may include (README, "Source
// layout"): the printer languages only themselves and the standard library,
// the file layer no printer language, the printing layer no spool file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Every "#include" line of the room's sources, as "file: include".
std::vector<std::string> includesOf(const std::string& room) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(FERRIN_SOURCE_DIR) + "/src/" + room)) {
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("#include", 0) == 0) found.push_back(entry.path().filename().string() + ": " + line);
  }
  return found;
}

std::string includedName(const std::string& line) { return line.substr(line.find("#include") + 9); }

TEST(Rooms, EachRoomIncludesWhatItMay) {
  const std::vector<std::string> lang = includesOf("lang");
  ASSERT_FALSE(lang.empty());
  for (const std::string& line : lang) {
    const std::string name = includedName(line);
    // Standard headers are <name> without a folder or an extension.
    const bool standard = name[0] == '<' && name.find_first_of("./") == std::string::npos;
    EXPECT_TRUE(standard || name.rfind("\"lang/", 0) == 0) << line;
  }
  for (const std::string& line : includesOf("files")) EXPECT_EQ(line.find("\"lang/"), std::string::npos) << line;
  for (const std::string& line : includesOf("print")) {
    EXPECT_EQ(line.find("files/spoolfile.h"), std::string::npos) << line;
    EXPECT_EQ(line.find("\"spool/"), std::string::npos) << line;
  }
}

}  // namespace
