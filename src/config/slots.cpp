#include "config/slots.h"

#include <algorithm>
#include <cstring>

#include <vector>

#include "config/pdfname.h"
#include "config/profile.h"
#include "console/codepage.h"
#include "console/console.h"
#include "platform/system.h"
#include "console/text.h"

ProcessLock SlotLock;

namespace {
// What the settings have said once already (each slot's memory of it).
ProcessLock SayLock;
}  // namespace

PrinterSlot printerSlots[kSlotCount];

namespace {
// The ferrin.ini generation each slot was last loaded from; 0 when the slot
// was changed in memory since (by the setup), so that the next load reads
// the file again whatever it holds.
unsigned long loadedGeneration[kSlotCount] = {};
}  // namespace

std::string slotSection(int slotNumber) { return "printer " + numberText(slotNumber); }

const SlotKeyInfo kSlotKeys[kSlotKeyCount] = {
    {"printername", {nullptr}, "a printer's name, as the setup lists it", "none (printouts wait)"},
    {"filename", {nullptr}, "a file name in ferrin's folder", "none (nothing is printed)"},
    {"fontname", {nullptr}, "a font's name", kDefaultFontName},
    {"fontsize", {nullptr}, "a size in points", "8"},
    {"codepage", {nullptr}, "437, 850, 852, 855, 857, 858, 860-866, 869, 874, 1250-1258",
     "the Windows code page on Windows, 437 elsewhere"},
    {"lineends", {"dos", "any", nullptr}, nullptr, nullptr},
    {"formfeed", {"line", "exact", nullptr}, nullptr, nullptr},
    {"controls", {"print", "strip", "escp", "escpos", "pcl", "star", "auto", nullptr}, nullptr, nullptr},
    {"mode", {"print", "raw", nullptr}, nullptr, nullptr},
    {"paperwidth", {"80", "58", nullptr}, nullptr, nullptr},
    {"journal", {nullptr}, "a number of days, 0 to 36500", "0 (nothing is kept)"},
    {"pdfname", {nullptr}, "a name template: %Y %m %d %H %M %S, %n, %p, %t; / makes folders",
     "print-%Y%m%d-%H%M%S-%n"},
    {"drawer", {"none", "raw", nullptr}, nullptr, nullptr},
    {"cut", {"none", "raw", nullptr}, nullptr, nullptr},
    {"overlay", {nullptr}, "a PNG file, in ferrin's folder or by its full path", "none (no form)"},
    {"overlaypages", {"all", "first", "rest", nullptr}, nullptr, nullptr},
    {"overlayoffset", {nullptr}, "X,Y in mm (-1000 to 1000, e.g. 2.5,-1)", "0,0"},
    {"copies", {nullptr}, "a number, 1 to 99", "1"},
    {"alsoto", {nullptr}, "printer numbers 0 to 7 separated by commas", "none (this printer only)"},
    {"mailto", {nullptr}, "mail addresses separated by commas", "none (nothing is mailed)"},
    {"mailfrom", {nullptr}, "a mail address", "the first address of mailto"},
    {"smtp", {nullptr}, "a mail server, HOST or HOST:PORT", "none (mails wait)"},
    {"smtpsecurity", {"starttls", "tls", "none", nullptr}, nullptr, nullptr},
    {"smtpuser", {nullptr}, "a user name of the mail server", "none (no login)"},
    {"smtppassword", {nullptr}, "that user's password", "none"},
    {"smtpca", {nullptr}, "a PEM file of certificates, in ferrin's folder or by its full path",
     "none (the system's certificates)"},
};

std::string slotKeyValues(const SlotKeyInfo& key) {
  if (key.choices[0] == nullptr) return key.values;
  std::string text = key.choices[0];
  for (int i = 1; key.choices[i] != nullptr; ++i) text += std::string(", ") + key.choices[i];
  return text;
}

std::string slotKeyDefault(const SlotKeyInfo& key) {
  return key.choices[0] != nullptr ? key.choices[0] : key.fallback;
}

namespace {

// Indices into kSlotKeys.
enum SlotKey {
  kPrinterName, kFileName, kFontName, kFontSize, kCodePage, kLineEnds, kFormFeed, kControls, kMode, kPaperWidth, kJournal,
  kPdfName,
  kDrawer, kCut,
  kOverlay, kOverlayPages, kOverlayOffset,
  kCopies, kAlsoTo,
  kMailTo, kMailFrom, kSmtp, kSmtpSecurity, kSmtpUser, kSmtpPassword, kSmtpCa,
  kKeyCount
};
static_assert(kKeyCount == kSlotKeyCount, "one entry of kSlotKeys per key");

// The last unknown value said for each slot and option, so it is said once.
std::string saidUnknown[kSlotCount][kKeyCount];

std::string lowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The index of the value among the key's choices (matched without regard to
// case), or -1; an empty value is the first choice.
int choiceOf(const std::string& value, SlotKey key) {
  if (value.empty()) return 0;
  const char* const* choices = kSlotKeys[key].choices;
  for (int index = 0; choices[index] != nullptr; ++index)
    if (lowerCase(value) == choices[index]) return index;
  return -1;
}

// Days of the journal: a whole number up to a hundred years; -1 otherwise.
int journalDaysOf(const std::string& value) {
  if (value.empty()) return 0;
  if (value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) return -1;
  int days = std::stoi(value);
  return days <= kMaxJournalDays ? days : -1;
}

// Copies of each printout: 1 to 99; -1 otherwise (an empty value is 1).
int copiesOf(const std::string& value) {
  if (value.empty()) return 1;
  if (value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos) return -1;
  int copies = std::stoi(value);
  return copies >= 1 ? copies : -1;
}

// The further printers of a slot as bits, 1 << K for printer #K: numbers 0
// to 7 separated by commas (blanks around them allowed), never the slot's
// own; -1 for anything else. An empty value is none.
int alsoToOf(int slotNumber, const std::string& value) {
  int bits = 0;
  std::string::size_type at = 0;
  while (at <= value.size() && !value.empty()) {
    std::string::size_type comma = value.find(',', at);
    std::string part = value.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    std::string::size_type first = part.find_first_not_of(' '), last = part.find_last_not_of(' ');
    part = first == std::string::npos ? std::string() : part.substr(first, last - first + 1);
    if (part.size() != 1 || part[0] < '0' || part[0] >= '0' + kSlotCount || part[0] - '0' == slotNumber) return -1;
    bits |= 1 << (part[0] - '0');
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return bits;
}

int codePageOf(const std::string& value) {
  if (value.empty()) return 0;
  if (value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) return -1;
  int number = std::stoi(value);
  return codePageSupported(number) ? number : -1;
}

// Millimetres with up to two decimals, -1000 to 1000, as hundredths; false
// for anything else.
bool millimetresOf(const std::string& text, int* hundredths) {
  std::size_t at = 0;
  bool negative = at < text.size() && (text[at] == '-' || text[at] == '+') && text[at++] == '-';
  long whole = 0;
  std::size_t digits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 5; ++at, ++digits)
    whole = whole * 10 + (text[at] - '0');
  long part = 0;
  int decimals = 0;
  if (at < text.size() && text[at] == '.')
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9' && decimals < 2; ++at, ++decimals)
      part = part * 10 + (text[at] - '0');
  if (decimals == 1) part *= 10;
  if (digits + decimals == 0 || at != text.size() || whole > 1000 || (whole == 1000 && part > 0)) return false;
  *hundredths = static_cast<int>(negative ? -(whole * 100 + part) : whole * 100 + part);
  return true;
}

// "X,Y": 0 with both set; -1 otherwise. Blanks around the numbers are allowed.
int offsetOf(std::string value, int* x, int* y) {
  *x = *y = 0;
  value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
  if (value.empty()) return 0;
  std::size_t comma = value.find(',');
  if (comma == std::string::npos || !millimetresOf(value.substr(0, comma), x) ||
      !millimetresOf(value.substr(comma + 1), y)) {
    *x = *y = 0;
    return -1;
  }
  return 0;
}

// -1 (unknown) becomes 0, the default, and is said once.
int knownOrDefault(int slotNumber, SlotKey key, const std::string& value, int choice) {
  std::string& said = saidUnknown[slotNumber][key];
  if (choice >= 0) {
    said.clear();
    return choice;
  }
  if (said != value) {
    said = value;
    writeOutputLine("Printer #" + numberText(slotNumber) + ": ferrin.ini sets " + kSlotKeys[key].name + " to \"" +
                    value + "\", which ferrin does not know, so the default is used. Use one of: " +
                    slotKeyValues(kSlotKeys[key]) + ".");
  }
  return 0;
}

// pdfname: a template that cannot name files safely gives the usual names,
// and that is said once.
void storePdfName(int slotNumber, const std::string& value, SlotOptions* options) {
  std::string& said = saidUnknown[slotNumber][kPdfName];
  std::string problem = pdfNameProblem(value);
  if (value.empty() || !problem.empty()) {
    options->pdfName[0] = '\0';
  } else {
    storeField(options->pdfName, sizeof options->pdfName, value);
  }
  if (problem.empty() || value.empty()) {
    said.clear();
  } else if (said != value) {
    said = value;
    std::string shown = value;
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    writeOutputLine("Printer #" + numberText(slotNumber) + ": ferrin.ini sets pdfname to \"" + shown + "\", which " +
                    problem + ", so the PDFs it saves get the usual names.");
  }
}

// The mail keys, checked when a mail is sent (mail/mail.h); the security
// word as any other choice.
void storeMailSettings(int slotNumber, const std::vector<std::string>& values, MailSettings* m) {
  storeField(m->to, sizeof m->to, values[kMailTo]);
  storeField(m->from, sizeof m->from, values[kMailFrom]);
  storeField(m->server, sizeof m->server, values[kSmtp]);
  m->security = static_cast<SmtpSecurity>(knownOrDefault(slotNumber, kSmtpSecurity, values[kSmtpSecurity],
                                                         choiceOf(values[kSmtpSecurity], kSmtpSecurity)));
  storeField(m->user, sizeof m->user, values[kSmtpUser]);
  storeField(m->password, sizeof m->password, values[kSmtpPassword]);
  storeField(m->ca, sizeof m->ca, values[kSmtpCa]);
}

}  // namespace

const char* controlsWord(ControlCodes controls) {
  return controls >= kControlsPrint && controls <= kControlsAuto ? kSlotKeys[kControls].choices[controls] : "";
}

void loadSlot(int slotNumber) {
  if (slotNumber < 0 || slotNumber >= kSlotCount) return;
  // Nothing to read again while the file reads as it did (the slot in the
  // table is then what it would give). Each slot is loaded by one thread at a
  // time: its watcher, or the main thread before the watchers start.
  unsigned long generation = profileGeneration();
  {
    LockGuard lock(SlotLock);
    if (generation == loadedGeneration[slotNumber]) return;
  }
  std::string section = slotSection(slotNumber);
  std::vector<std::string> keys;
  for (const SlotKeyInfo& key : kSlotKeys) keys.push_back(key.name);
  std::vector<std::string> values = readProfileStrings(section, keys, kProfileValueSize);
  // The record is filled first and then stored at once.
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
  storeField(slot.printername, sizeof slot.printername, values[kPrinterName]);
  storeField(slot.filename, sizeof slot.filename, values[kFileName]);
  storeField(slot.fontname, sizeof slot.fontname, values[kFontName]);
  if (slot.fontname[0] == '\0') storeField(slot.fontname, sizeof slot.fontname, kDefaultFontName);
  slot.fontsize = storeInt16(textToNumber(values[kFontSize]));
  {
    // Each slot is loaded by its own watcher; the memory of what was said is
    // the slot's alone, but slot 0 is also loaded once by the main thread.
    LockGuard said(SayLock);
    SlotOptions& o = slot.options;
    o.codePage = knownOrDefault(slotNumber, kCodePage, values[kCodePage], codePageOf(values[kCodePage]));
    o.lineends = static_cast<LineEnds>(
        knownOrDefault(slotNumber, kLineEnds, values[kLineEnds], choiceOf(values[kLineEnds], kLineEnds)));
    o.formfeed = static_cast<FormFeedRule>(
        knownOrDefault(slotNumber, kFormFeed, values[kFormFeed], choiceOf(values[kFormFeed], kFormFeed)));
    o.controls = static_cast<ControlCodes>(
        knownOrDefault(slotNumber, kControls, values[kControls],
                       choiceOf(values[kControls], kControls)));
    o.mode = static_cast<PrintMode>(
        knownOrDefault(slotNumber, kMode, values[kMode], choiceOf(values[kMode], kMode)));
    o.paperwidth = knownOrDefault(slotNumber, kPaperWidth, values[kPaperWidth],
                                  choiceOf(values[kPaperWidth], kPaperWidth)) == 1 ? 58 : 80;
    o.journalDays = knownOrDefault(slotNumber, kJournal, values[kJournal], journalDaysOf(values[kJournal]));
    storePdfName(slotNumber, values[kPdfName], &o);
    o.drawer = static_cast<RawFollowUp>(
        knownOrDefault(slotNumber, kDrawer, values[kDrawer], choiceOf(values[kDrawer], kDrawer)));
    o.cut = static_cast<RawFollowUp>(knownOrDefault(slotNumber, kCut, values[kCut], choiceOf(values[kCut], kCut)));
    storeField(o.overlay, sizeof o.overlay, values[kOverlay]);
    o.overlayPages = knownOrDefault(slotNumber, kOverlayPages, values[kOverlayPages],
                                    choiceOf(values[kOverlayPages], kOverlayPages));
    knownOrDefault(slotNumber, kOverlayOffset, values[kOverlayOffset],
                   offsetOf(values[kOverlayOffset], &o.overlayOffsetX, &o.overlayOffsetY));
    // An unknown value of these keeps today's behaviour: one copy, this printer only.
    int copies = copiesOf(values[kCopies]);
    o.copies = knownOrDefault(slotNumber, kCopies, values[kCopies], copies) == 0 ? 1 : copies;
    o.alsoTo = static_cast<unsigned>(
        knownOrDefault(slotNumber, kAlsoTo, values[kAlsoTo], alsoToOf(slotNumber, values[kAlsoTo])));
    storeMailSettings(slotNumber, values, &o.mail);
  }

  LockGuard lock(SlotLock);
  printerSlots[slotNumber] = slot;
  loadedGeneration[slotNumber] = generation;
}

int longestJournalDays() {
  int longest = 0;
  for (int slotNumber = 0; slotNumber < kSlotCount; ++slotNumber) {
    std::vector<std::string> keys(1, kSlotKeys[kJournal].name);
    int days = journalDaysOf(readProfileStrings(slotSection(slotNumber), keys, kProfileValueSize)[0]);
    if (days > longest) longest = days;
  }
  return longest;
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
  loadedGeneration[slotNumber] = 0;
  storeField(printerSlots[slotNumber].printername, sizeof printerSlots[slotNumber].printername, name);
}

void storeSlotFileName(int slotNumber, const std::string& name) {
  LockGuard lock(SlotLock);
  loadedGeneration[slotNumber] = 0;
  storeField(printerSlots[slotNumber].filename, sizeof printerSlots[slotNumber].filename, name);
}

void storeSlotFontSize(int slotNumber, std::int16_t size) {
  LockGuard lock(SlotLock);
  loadedGeneration[slotNumber] = 0;
  printerSlots[slotNumber].fontsize = size;
}
