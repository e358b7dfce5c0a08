#include "setup/setup.h"

#include "config/slots.h"
#include "console/console.h"
#include "console/text.h"
#include "setup/choose.h"

namespace {

// Writes one key of the slot's section; a failure is remembered so that the
// user is told before "Completed Setup." instead of believing it was saved.
void writeSetting(const std::string& section, const std::string& key, const std::string& value, bool* allWritten) {
  if (!writeSlotValue(section, key, value)) *allWritten = false;
}

// Chooses the printer of one slot, asks its font size and writes its section.
void configureSlot(int slot, const char* spoolFileName, std::string& answer, bool* allWritten) {
  std::string section = slotSection(slot);
  bool found = true;
  std::string printer = choosePrinter(&found);
  if (!found) return;  // nothing to choose from: the section stays as it was
  if (printer.size() > kProfileValueSize - 1) printer.resize(kProfileValueSize - 1);
  storeSlotPrinterName(slot, printer);
  writeSetting(section, "printername", printer, allWritten);

  storeSlotFileName(slot, spoolFileName);
  writeSetting(section, "filename", spoolFileName, allWritten);

  while (!isFontSizeAnswer(answer)) answer = inputLine("Enter font point size (12 is normal)");
  std::string typed = answer.substr(0, kProfileValueSize - 1);
  writeSetting(section, "fontsize", typed, allWritten);
  storeSlotFontSize(slot, storeInt16(textToNumber(answer)));

  writeSetting(section, "fontname", kDefaultFontName, allWritten);
}

std::string askYesNo(const char* prompt) {
  std::string answer;
  while (!isYesNoAnswer(answer)) answer = inputLine(prompt);
  return answer;
}

}  // namespace

bool isYesNoAnswer(const std::string& answer) {
  std::string a = upperCase(answer);
  return a == "YES" || a == "Y" || a == "NO" || a == "N";
}

bool isYesAnswer(const std::string& answer) {
  std::string a = upperCase(answer);
  return a == "YES" || a == "Y";
}

bool isFontSizeAnswer(const std::string& answer) {
  long double v = textToNumber(answer);
  return v > 4 && v <= 48;
}

void runSetup() {
  writeOutputLine("Beginning printer configuration");
  bool allWritten = true;

  std::string answer = askYesNo("Do you need ferrin to manage your primary (reciept) printer? (Y/N) ");
  if (isYesAnswer(answer)) configureSlot(0, "WLSDFKJN.DRY", answer, &allWritten);

  answer = askYesNo("Do you need a seperate printer for reports? (Y/N) ");
  if (isYesAnswer(answer)) configureSlot(1, "WLSDFKJN.DR2", answer, &allWritten);

  if (!allWritten)
    writeOutputLine("Some settings could not be saved to ferrin.ini. Check that the file and its folder can be"
                    " written.");
  writeOutputLine("Completed Setup.");
}
