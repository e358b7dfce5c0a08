#include "setup/choose.h"

#include "console/console.h"
#include "platform/system.h"
#include "console/text.h"

namespace {

const std::uint32_t kAllPrinterFlags = 0x46;
const std::uint32_t kChoiceFlags = 6;  // local and connected printers
const unsigned kChoicePause = 700;

bool blankText(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

std::vector<PrinterEntry> writeList(std::uint32_t flags) {
  std::vector<PrinterEntry> printers = enumeratePrinters(flags);
  for (std::size_t i = 0; i < printers.size(); ++i) {
    std::string line = printerListLine(printers, i);
    if (!line.empty()) writeOutputLine(line);
  }
  return printers;
}

}  // namespace

std::string printerListLine(const std::vector<PrinterEntry>& printers, std::size_t i) {
  if (blankText(printers[i].name) || blankText(printers[i].port)) return std::string();
  return numberText(static_cast<long long>(i) + 1) + ":" + printers[i].name;
}

long chosenPrinterIndex(const std::string& answer, std::size_t count) {
  long double v = textToNumber(answer);
  if (!(v > 0 && v <= static_cast<long double>(count))) return -1;
  // An answer above 0 but below 0.5 rounds to no printer: asked again.
  long long k = roundToInteger(v - 1);
  if (k < 0) return -1;
  return static_cast<long>(k);
}

void listPrinters(std::uint32_t& enumFlags) {
  if (enumFlags == 0xFFFFFFFFu) enumFlags = kAllPrinterFlags;
  writeList(enumFlags);
}

std::string choosePrinter(bool* found) {
  std::vector<PrinterEntry> printers = writeList(kChoiceFlags);
  if (printers.empty()) {
    // No answer could ever pass: say so instead of asking for ever.
    writeOutputLine("No printers found, so the settings of this printer are left as they were. Install a printer,"
                    " then press S again.");
    if (found) *found = false;
    return std::string();
  }
  long k = -1;
  while (k < 0) k = chosenPrinterIndex(inputLine("enter printer number:"), printers.size());
  const std::string& name = printers[static_cast<std::size_t>(k)].name;
  writeOutputLine("Selected " + name + "... saving now");
  pause(kChoicePause);
  if (found) *found = true;
  return name;
}
