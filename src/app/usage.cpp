#include "app/usage.h"

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "config/slots.h"
#include "console/text.h"
#include "spool/reprint.h"

namespace {

#ifdef _WIN32
const bool kSlashQuestion = true;  // the Windows way of asking for help
const char* const kInfoSynopsis = "       ferrin --help | /? | --version";
const char* const kAutostartWhat = "                 (a shortcut in the Startup folder that starts it minimized),";
#else
const bool kSlashQuestion = false;  // a shell pattern on POSIX, not a question
const char* const kInfoSynopsis = "       ferrin --help | --version";
const char* const kAutostartWhat = "                 (the systemd user unit for this folder),";
#endif

const char* const kUsage[] = {
    "Usage: ferrin [-LISTPRINTERS]",
    "       ferrin --autostart on|off",
    "       ferrin --reprint [N]",
    kInfoSynopsis,
    "",
    "ferrin prints what DOS programs write into a spool file. It watches the",
    "folder it is started in: a file named WLSDFKJN.DRY there is printed on the",
    "receipt printer, WLSDFKJN.DR2 on the report printer, each as one job, and",
    "then deleted. Every printed line is shown on the screen. A printout that",
    "cannot be printed now waits in the folder waiting and is printed, in order,",
    "when the printer is back.",
    "",
    "  -LISTPRINTERS  list the printers ferrin can use, then start as usual",
    "  --autostart on|off",
    "                 start ferrin in this folder with each session",
    kAutostartWhat,
    "                 or no longer; says what it did and ends",
    "  --reprint [N]  print a kept printout again (see journal below): the last",
    "                 one, or number N of today's last nine as key R lists them;",
    "                 it waits in the folder waiting for ferrin to print it",
    "  --help         show this text",
    "  --version      show the version",
    "",
    "Keys while ferrin runs:",
    "  S  set up the printers (printer, font size)",
    "  R  print a kept printout again",
    "  X  end ferrin",
    "",
    "Settings are kept in ferrin.ini in the same folder, in the section",
    "[printer 0] for the receipt printer and [printer 1] for the report printer:",
};

const std::size_t kHelpWidth = 79;
const std::size_t kKeyColumn = 17;  // room for the longest key and two blanks

// One key of the settings: its name, then its values and default, folded at
// the help's width under the values' column.
void addKeyLines(const SlotKeyInfo& key, std::vector<std::string>* lines) {
  std::string text = slotKeyValues(key) + ". Default: " + slotKeyDefault(key) + ".";
  std::string line = "  " + std::string(key.name);
  line.resize(kKeyColumn, ' ');
  std::string::size_type at = 0;
  while (at < text.size()) {
    std::string::size_type room = kHelpWidth - line.size();
    std::string::size_type end = text.size();
    if (end - at > room) {
      end = text.rfind(' ', at + room);
      if (end == std::string::npos || end <= at) end = at + room;
    }
    line += text.substr(at, end - at);
    lines->push_back(line);
    at = text.find_first_not_of(' ', end);
    if (at == std::string::npos) break;
    line.assign(kKeyColumn, ' ');
  }
}

// stdio turns "\n" into the platform's line end (CR LF on Windows).
void writeLine(const std::string& text) {
  // Nothing to do when standard output is gone: the process ends at once.
  (void)std::fputs(text.c_str(), stdout);
  (void)std::fputc('\n', stdout);
}

}  // namespace

std::vector<std::string> usageLines() {
  std::vector<std::string> lines(std::begin(kUsage), std::end(kUsage));
  for (const SlotKeyInfo& key : kSlotKeys) addKeyLines(key, &lines);
  return lines;
}

bool answerReprintArgument(int argc, char** argv, int* code) {
  if (argc < 2 || upperCase(argv[1]) != "--REPRINT") return false;
  int number = 0;
  std::string given = argc > 2 ? argv[2] : "";
  if (argc > 3 || given.size() > 2 || given.find_first_not_of("0123456789") != std::string::npos ||
      (!given.empty() && std::stoi(given) == 0)) {
    writeLine("ferrin --reprint takes the number of one of today's last printouts, 1 to " +
              numberText(kReprintChoices) + ", or none for the last one.");
    *code = 2;
  } else {
    if (!given.empty()) number = std::stoi(given);
    // The printout goes to its slot's spool name, as ferrin.ini sets it.
    for (int slot = 0; slot < kSlotCount; ++slot) loadSlot(slot);
    std::string message;
    *code = reprintPrintout(number, &message) ? 0 : 1;
    writeLine(message);
  }
  (void)std::fflush(stdout);
  return true;
}

bool answerInfoArgument(int argc, char** argv) {
  if (argc < 2) return false;
  std::string first = upperCase(argv[1]);
  if (first == "--VERSION") {
    writeLine("ferrin " FERRIN_VERSION);  // the version set in CMakeLists.txt
  } else if (first == "--HELP" || (kSlashQuestion && first == "/?")) {
    for (const std::string& line : usageLines()) writeLine(line);
  } else {
    return false;
  }
  (void)std::fflush(stdout);
  return true;
}
