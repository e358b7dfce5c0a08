// Which spool file names stay inside ferrin's folder, by the rules of each
// platform: one table of names with the verdict under POSIX and under Windows.
#include <gtest/gtest.h>

#include <string>

#include "files/confine.h"

namespace {

struct NameCase {
  std::string name;
  SpoolNameCheck posix;
  SpoolNameCheck windows;
};

const SpoolNameCheck kIn = kSpoolNameInside;

}  // namespace

TEST(SpoolNameConfinement, NamesByTheRulesOfEachPlatform) {
  const NameCase cases[] = {
      // Names that stay in the folder.
      {"WLSDFKJN.DRY", kIn, kIn},
      {"sub/WLSDFKJN.DRY", kIn, kIn},
      {"sub\\X.DRY", kIn, kIn},  // a plain file name with a backslash on POSIX
      {"./X", kIn, kIn},
      {"sub//X", kIn, kIn},
      {"sub/./deeper/X.DRY", kIn, kIn},
      {".hidden", kIn, kIn},
      {"x..y", kIn, kIn},
      {"X.DRY.", kIn, kIn},  // Windows trims the dot: still X.DRY here
      {"CONSOLE.TXT", kIn, kIn},
      {"COM10", kIn, kIn},
      {"LPTX.DRY", kIn, kIn},
      {"*.DRY", kIn, kIn},  // wildcards are the file layer's affair
      // Empty, NUL, roots and drives.
      {"", kSpoolNameEmpty, kSpoolNameEmpty},
      {std::string("X\0/../../y", 10), kSpoolNameNulByte, kSpoolNameNulByte},
      {"/etc/passwd", kSpoolNameAbsolute, kSpoolNameAbsolute},
      {"//server/share/x", kSpoolNameAbsolute, kSpoolNameAbsolute},
      {"\\x", kIn, kSpoolNameAbsolute},
      {"\\\\server\\share\\x", kIn, kSpoolNameAbsolute},
      {"\\\\?\\C:\\x", kIn, kSpoolNameAbsolute},
      {"\\\\.\\COM1", kIn, kSpoolNameAbsolute},
      {"C:\\x", kSpoolNameDrive, kSpoolNameDrive},
      {"C:x", kSpoolNameDrive, kSpoolNameDrive},
      {"z:/tmp/x", kSpoolNameDrive, kSpoolNameDrive},
      {"x:", kSpoolNameDrive, kSpoolNameDrive},
      // Parent folders, anywhere, even where the name comes back inside.
      {"..", kSpoolNameParent, kSpoolNameParent},
      {"../victim.txt", kSpoolNameParent, kSpoolNameParent},
      {"sub/../X", kSpoolNameParent, kSpoolNameParent},
      {"sub/..", kSpoolNameParent, kSpoolNameParent},
      {"..\\victim.txt", kIn, kSpoolNameParent},
      {"sub\\..\\..\\x", kIn, kSpoolNameParent},
      {"sub/..\\x", kIn, kSpoolNameParent},
      // Elements that Windows trims to ".." or to nothing.
      {".. /x", kIn, kSpoolNameParent},
      {".../x", kIn, kSpoolNameParent},
      {".. ./x", kIn, kSpoolNameParent},
      {"sub/ ../x", kIn, kSpoolNameParent},
      {"sub/ /x", kIn, kSpoolNameParent},
      {"x/. ", kIn, kSpoolNameParent},
      // Streams and devices.
      {"X.DRY:hidden", kIn, kSpoolNameStream},
      {"X.DRY::$DATA", kIn, kSpoolNameStream},
      {"sub/C:x", kIn, kSpoolNameStream},
      {"CON", kIn, kSpoolNameDevice},
      {"nul.txt", kIn, kSpoolNameDevice},
      {"sub/Com1.DRY", kIn, kSpoolNameDevice},
      {"LPT9", kIn, kSpoolNameDevice},
      {"aux .dry", kIn, kSpoolNameDevice},
      {"CONIN$", kIn, kSpoolNameDevice},
      {"com\xb9", kIn, kSpoolNameDevice},
      {"PRN/x", kIn, kSpoolNameDevice},
      // Folders, not files.
      {"sub/", kSpoolNameNoFile, kSpoolNameNoFile},
      {".", kSpoolNameNoFile, kSpoolNameNoFile},
      {"sub/.", kSpoolNameNoFile, kSpoolNameNoFile},
      {"sub\\", kIn, kSpoolNameNoFile},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(checkSpoolName(c.name, false), c.posix) << "POSIX rules: \"" << c.name << '"';
    EXPECT_EQ(checkSpoolName(c.name, true), c.windows) << "Windows rules: \"" << c.name << '"';
    EXPECT_EQ(spoolNameConfined(c.name, false), c.posix == kIn) << c.name;
    EXPECT_EQ(spoolNameConfined(c.name, true), c.windows == kIn) << c.name;
    // This build follows its own platform's rules.
#ifdef _WIN32
    EXPECT_EQ(spoolNameConfinedHere(c.name), c.windows == kIn) << c.name;
#else
    EXPECT_EQ(spoolNameConfinedHere(c.name), c.posix == kIn) << c.name;
#endif
  }
}
