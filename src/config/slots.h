// Printer slots: which printer, spool file and font each of ferrin's
// printers uses. Slot 0 is the receipt printer, slot 1 the report printer;
// slots 2 to 7 serve further printers (labels, kitchen) set up by hand in
// ferrin.ini.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

// Settings for real DOS output, each a key of its own in the slot's section.
// Every default is the plain-text behaviour: an existing ferrin.ini prints as
// it always did.
enum LineEnds { kLineEndsDos, kLineEndsAny };            // "lineends": dos, any
enum FormFeedRule { kFormFeedLine, kFormFeedExact };     // "formfeed": line, exact
// "controls": print, strip, or drawn as a dot-matrix (escp) or receipt
// printer (escpos, or star for Star Line Mode) would print them.
// "pcl": drawn as a laser printer speaking PCL 5 would print them; "auto":
// each printout as its first commands show it to be (escp, escpos, pcl, or
// plain text printed).
enum ControlCodes { kControlsPrint, kControlsStrip, kControlsEscP, kControlsEscPos, kControlsPcl, kControlsStar, kControlsAuto };
// The word ferrin.ini gives a controls value ("escp"), which for a printer
// language is the name of its interpreter (lang/language.h); auto is the
// last value.
const char* controlsWord(ControlCodes controls);
enum PrintMode { kModePrint, kModeRaw };                  // "mode": print, raw
// "drawer" and "cut": none, or raw: the drawer pulses (the cuts) of a drawn
// receipt also go to its printer as a raw job after it.
enum RawFollowUp { kFollowNone, kFollowRaw };
// "smtpsecurity": STARTTLS on the submission port (the default), TLS from the
// first byte, or neither.
enum SmtpSecurity { kSmtpStartTls, kSmtpTls, kSmtpNone };
// Every printout of the slot mailed as a PDF (mail/mail.h); to[0] == '\0':
// none is mailed.
struct MailSettings {
  char to[260];        // "mailto": addresses separated by commas
  char from[260];      // "mailfrom"
  char server[260];    // "smtp": HOST or HOST:PORT
  SmtpSecurity security;
  char user[260];      // "smtpuser": "" logs in as nobody
  char password[260];  // "smtppassword"
  char ca[260];        // "smtpca": a PEM file of certificates to trust besides the system's
};
struct SlotOptions {
  int codePage;          // "codepage": 0 draws the bytes as the platform always has
  LineEnds lineends;
  FormFeedRule formfeed;
  ControlCodes controls;
  PrintMode mode;        // raw: the spool file's bytes go to the printer unchanged
  int paperwidth;        // "paperwidth": 80 or 58 (mm), the receipt paper of controls=escpos
  int journalDays;       // "journal": days a copy of every printout is kept; 0 keeps none
  char pdfName[256];     // "pdfname": the names of the PDFs "Save as PDF" saves (config/pdfname.h); "": the usual
  RawFollowUp drawer;    // "drawer"
  RawFollowUp cut;       // "cut"
  char overlay[260];     // "overlay": a PNG form drawn under the pages; "" for none
  int overlayPages;      // "overlaypages": 0 all, 1 the first, 2 all but the first
  int overlayOffsetX;    // "overlayoffset": where the form's corner lies from the paper's, hundredths of a mm
  int overlayOffsetY;
  int copies;            // "copies": each printout prints this many times, as one job (1 to 99)
  unsigned alsoTo;       // "alsoto": bit K set: every printout prints on slot K's printer too
  MailSettings mail;     // "mailto", "mailfrom", "smtp", "smtpsecurity", "smtpuser", "smtppassword", "smtpca"
};

struct PrinterSlot {
  char printername[64];
  char fontname[64];
  char filename[256];
  std::int16_t fontsize;
  SlotOptions options;
};

// Every key ferrin reads in a printer's section, in the order the settings
// reference lists them. A key with choices takes one of those words (matched
// without regard to case), the first being its default; the others take a
// name or a number, described by `values` and `fallback`. The help text is
// made from this table, and a test holds the manual page and both READMEs to
// it, so that each describes every key as the program reads it.
struct SlotKeyInfo {
  const char* name;
  const char* choices[8];  // nullptr-terminated; none for a name or a number
  const char* values;      // without choices: what the key takes
  const char* fallback;    // without choices: what a missing or empty key means
};
const int kSlotKeyCount = 26;
extern const SlotKeyInfo kSlotKeys[kSlotKeyCount];

// The values of a key as the documents give them ("dos, any"), and its default.
std::string slotKeyValues(const SlotKeyInfo& key);
std::string slotKeyDefault(const SlotKeyInfo& key);

const int kMaxJournalDays = 36500;
const int kMaxCopies = 99;

const int kSlotCount = 8;  // the sections "printer 0" to "printer 7"
const char kDefaultFontName[] = "Courier New";
const std::size_t kProfileValueSize = 260;  // a value read or written holds at most 259 characters

// The slot table. Fields are copied in and out under SlotLock (storeSlot,
// slotSnapshot), so a reader never sees a field half written.
extern PrinterSlot printerSlots[kSlotCount];
extern ProcessLock SlotLock;

// "printer " followed by the slot number.
std::string slotSection(int slotNumber);

// Rereads the slot's keys from ferrin.ini into printerSlots[slotNumber]. An
// option with a value it does not know gets its default, and that is said
// once on standard output.
void loadSlot(int slotNumber);

// The longest journal any section of ferrin.ini asks for, in days (0: none),
// so that tidying the journal never removes a day another printer keeps.
int longestJournalDays();

// Writes one key into ferrin.ini. False when the file could not be written.
bool writeSlotValue(const std::string& section, const std::string& key, const std::string& value);

// A copy of one slot, taken under the slot lock.
PrinterSlot slotSnapshot(int slotNumber);

// Stores single fields of one slot under the slot lock.
void storeSlotPrinterName(int slotNumber, const std::string& name);
void storeSlotFileName(int slotNumber, const std::string& name);
void storeSlotFontSize(int slotNumber, std::int16_t size);
