#include "app/app.h"

#include "config/slots.h"
#include "console/console.h"
#include "console/text.h"
#include "mail/mail.h"
#include "setup/choose.h"
#include "setup/setup.h"
#include "spool/reprint.h"
#include "spool/watcher.h"

namespace {

void writeBanner() {
  writeOutputLine("Welcome to ferrin 5");
  writeOutputLine("Ferrin is the Halverdon utility, which can be used to print from DOS");
  writeOutputLine("applications that do not support windows printers.");
  writeOutputLine("It is made above all for the Tillwright POS point-of-sale system,");
  writeOutputLine("which you can get from www.tillwright.example.com, where the");
  writeOutputLine("Tillwright forums also offer help with ferrin and its printers.");
  writeOutputLine("Ferrin " FERRIN_VERSION " is made by Halverdon Software Works, 2026.");
  writeOutputLine("Running in directory: " + currentDirectory());
}

}  // namespace

int runMain() {
  cycleEvent = createCycleEvent();
  loadSlot(0);
  writeBanner();

  std::string::size_type found = upperCase(commandLineText()).find("-LISTPRINTERS");
  std::string::size_type position = found == std::string::npos ? 0 : found + 1;
  if (position == 1 || position == 2) {
    std::uint32_t flags = 2;
    listPrinters(flags);
  }

  cleanUpAtStart();
  // The receipt printer's watcher always runs; every other slot's when its
  // section names a printer.
  for (int slot = 0; slot < kSlotCount; ++slot)
    if (slotIsWatched(slot)) startThread(runWatcher, slot);
  // Mails waiting from an earlier run are sent too, whatever the settings now.
  startThread(runMailer, 0);

  writeOutputLine("Starting ferrin...");
  writeOutputLine("Press X to exit the application or S to change settings.");

  std::string lastKey;
  while (upperCase(lastKey) != "X") {
    lastKey = waitKey();
    if (lastKey == "S" || lastKey == "s") runSetup();
    if (lastKey == "R" || lastKey == "r") runReprintKey();
  }
  // A printout in hand is finished (handed over and deleted, or queued)
  // before the process ends, so that it is not printed again at the next start.
  stopWork(kStopWaitMilliseconds);
  closeCycleEvent(cycleEvent);
  return 0;
}
