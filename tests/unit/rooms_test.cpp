// The rooms of the source keep to what they may include (docs/development.md,
// "Source layout"): the printer languages only themselves and the standard
// library, the file layer no printer language, the printing layer no spool
// file, no room but the device room a device backend's header, and no room
// but the printing layer its printer state. The printing layer stays a small
// part of the program.
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

// Lines of every file under src/ or under one room of it.
std::size_t linesUnder(const std::string& folder) {
  std::size_t lines = 0;
  const std::string root = std::string(FERRIN_SOURCE_DIR) + "/src/" + folder;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) ++lines;
  }
  return lines;
}

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
  // Threads, locks, clocks and folder watching lie below every room and
  // include none of them: only the platform's and the standard headers.
  const std::vector<std::string> platform = includesOf("platform");
  ASSERT_FALSE(platform.empty());
  for (const std::string& line : platform) {
    const std::string name = includedName(line);
    EXPECT_TRUE(name[0] == '<' || name.rfind("\"platform/", 0) == 0) << line;
  }
  for (const std::string& line : includesOf("print")) {
    EXPECT_EQ(line.find("files/spoolfile.h"), std::string::npos) << line;
    EXPECT_EQ(line.find("\"spool/"), std::string::npos) << line;
  }
  // The device room is reached through its seam (device.h) and, by setup,
  // its printer list (printers.h); its backends' headers stay inside it.
  for (const std::string room : {"app", "config", "console", "files", "lang", "platform", "print", "setup", "spool"}) {
    for (const std::string& line : includesOf(room)) {
      const std::string name = includedName(line);
      if (name.rfind("\"device/", 0) != 0) continue;
      EXPECT_TRUE(name == "\"device/device.h\"" || name == "\"device/printers.h\"") << room << "/" << line;
    }
  }
  // The spool room keeps the mail queue; the mail room sends from it, and
  // the spool room knows nothing of mail.
  for (const std::string& line : includesOf("spool")) EXPECT_EQ(line.find("\"mail/"), std::string::npos) << line;
  for (const std::string& line : includesOf("mail")) {
    const std::string name = includedName(line);
    EXPECT_TRUE(name[0] == '<' || name.rfind("\"app/", 0) != 0 && name.rfind("\"setup/", 0) != 0 &&
                                      name.rfind("\"print/", 0) != 0 && name.rfind("\"device/", 0) != 0)
        << line;
  }
  // Setup needs only the list, not the device itself.
  for (const std::string& line : includesOf("setup"))
    EXPECT_EQ(line.find("\"device/device.h\""), std::string::npos) << line;
  // The printer state is the printing layer's own.
  for (const std::string room : {"app", "config", "console", "device", "files", "lang", "setup", "spool"})
    for (const std::string& line : includesOf(room))
      EXPECT_EQ(line.find("\"print/printer_state.h\""), std::string::npos) << room << "/" << line;
}

TEST(Rooms, PrintingLayerIsAtMostAThirdOfTheProgram) {
  const std::size_t all = linesUnder("");
  const std::size_t print = linesUnder("print");
  ASSERT_GT(print, 0u);
  EXPECT_LE(print * 3, all) << print << " of " << all << " lines of src/ are in print/";
}

}  // namespace
