#include "config/slots.h"

#include <cstring>

#include "config/profile.h"
#include "console/system.h"
#include "console/text.h"

PrinterSlot printerSlots[kSlotCount];

std::string slotSection(int slotNumber) { return "printer " + numberText(slotNumber); }

void loadSlot(int slotNumber) {
  if (slotNumber < 0 || slotNumber >= kSlotCount) return;
  std::string section = slotSection(slotNumber);
  // Four separate reads, in this order; the record is filled first and then
  // stored at once.
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
  storeField(slot.printername, sizeof slot.printername, readProfileString(section, "printername", kProfileValueSize));
  storeField(slot.filename, sizeof slot.filename, readProfileString(section, "filename", kProfileValueSize));
  storeField(slot.fontname, sizeof slot.fontname, readProfileString(section, "fontname", kProfileValueSize));
  if (slot.fontname[0] == '\0') storeField(slot.fontname, sizeof slot.fontname, kDefaultFontName);
  slot.fontsize = storeInt16(textToNumber(readProfileString(section, "fontsize", kProfileValueSize)));

  LockGuard lock(SlotLock);
  printerSlots[slotNumber] = slot;
}

bool writeSlotValue(const std::string& section, const std::string& key, const std::string& value) {
  std::string cut = value.substr(0, value.find('\0'));
  if (cut.size() > kProfileValueSize - 1) cut.resize(kProfileValueSize - 1);
  return writeProfileString(section, key, cut);
}

PrinterSlot slotSnapshot(int slotNumber) {
  LockGuard lock(SlotLock);
  return printerSlots[slotNumber];
}

void storeSlotPrinterName(int slotNumber, const std::string& name) {
  LockGuard lock(SlotLock);
  storeField(printerSlots[slotNumber].printername, sizeof printerSlots[slotNumber].printername, name);
}

void storeSlotFileName(int slotNumber, const std::string& name) {
  LockGuard lock(SlotLock);
  storeField(printerSlots[slotNumber].filename, sizeof printerSlots[slotNumber].filename, name);
}

void storeSlotFontSize(int slotNumber, std::int16_t size) {
  LockGuard lock(SlotLock);
  printerSlots[slotNumber].fontsize = size;
}
