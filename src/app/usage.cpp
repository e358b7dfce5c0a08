#include "app/usage.h"

#include <cstdio>
#include <string>

#include "console/text.h"

namespace {

#ifdef _WIN32
const bool kSlashQuestion = true;  // the Windows way of asking for help
const char* const kInfoSynopsis = "       ferrin --help | /? | --version";
#else
const bool kSlashQuestion = false;  // a shell pattern on POSIX, not a question
const char* const kInfoSynopsis = "       ferrin --help | --version";
#endif

const char* const kUsage[] = {
    "Usage: ferrin [-LISTPRINTERS]",
    kInfoSynopsis,
    "",
    "ferrin prints what DOS programs write into a spool file. It watches the",
    "folder it is started in: a file named WLSDFKJN.DRY there is printed on the",
    "receipt printer, WLSDFKJN.DR2 on the report printer, each as one job, and",
    "then deleted. Every printed line is shown on the screen.",
    "",
    "  -LISTPRINTERS  list the printers ferrin can use, then start as usual",
    "  --help         show this text",
    "  --version      show the version",
    "",
    "Keys while ferrin runs:",
    "  S  set up the printers (printer, font size)",
    "  X  end ferrin",
    "",
    "Settings are kept in ferrin.ini in the same folder.",
};

// stdio turns "\n" into the platform's line end (CR LF on Windows).
void writeLine(const std::string& text) {
  // Nothing to do when standard output is gone: the process ends at once.
  (void)std::fputs(text.c_str(), stdout);
  (void)std::fputc('\n', stdout);
}

}  // namespace

bool answerInfoArgument(int argc, char** argv) {
  if (argc < 2) return false;
  std::string first = upperCase(argv[1]);
  if (first == "--VERSION") {
    writeLine("ferrin " FERRIN_VERSION);  // the version set in CMakeLists.txt
  } else if (first == "--HELP" || (kSlashQuestion && first == "/?")) {
    for (const char* line : kUsage) writeLine(line);
  } else {
    return false;
  }
  (void)std::fflush(stdout);
  return true;
}
