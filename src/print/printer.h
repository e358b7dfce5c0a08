// The printing layer: one print job per attachment, lines drawn top-down at
// the left edge of the printable area, pages begun lazily. It reaches the
// printer only through device/device.h.
//
// Failures set the calling thread's error code (files/errors.h) and return
// normally: kPrinterOpenError when attachPrinter cannot open the printer or
// start the document (the device refusing the document's file mode
// included), kPrinterDeviceError when no printer is attached or the device
// refuses to begin a page, draw text, end a page or take the finished
// document, kPrinterFontError when selectFont cannot make or select its font. A successful call leaves the code as it was.
//
// There is one printer state for the whole process (print/printer_state.h,
// private to this room) and no lock: a caller holds it alone from its
// attachPrinter to its detachPrinter.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"
#include "print/overlay.h"

const int kPrinterOpenError = 68;
const int kPrinterDeviceError = 57;
const int kPrinterFontError = 5;
// The device could not store the finished document: a disk is full.
const int kPrinterDiskFull = 61;

const char kPrintJobName[] = "Print job";
// The built-in printer of the POSIX build that saves each document as a PDF
// in the folder "printed".
const char kSaveAsPdfName[] = "Save as PDF";
const char kSavedPdfFolder[] = "printed";
const char kDefaultPrinterFont[] = "Courier New";
const std::size_t kMaxPrinterName = 261;
// JobOptions::fileMode that narrows nothing.
const unsigned kAnyFileMode = 0777;

// What a document is made of beyond its lines, fixed for one attachment.
struct JobOptions {
  // The code page the text's bytes are in (console/codepage.h): each line is
  // converted and drawn as wide text. 0, or a code page that is not
  // supported: the bytes go to the device as they are, and its own character
  // set decides the glyphs (the ANSI code page on Windows, code page 437 on
  // POSIX).
  int codePage = 0;
  // Permission bits of the printout's source (the spool file). A printer
  // that stores documents as files (POSIX "Save as PDF") gives the file no
  // more than these and its usual mode allow. Nothing on Windows.
  unsigned fileMode = kAnyFileMode;
  // Receipts: the paper's width in mm (80 or 58), 0 for none. A printer that
  // stores documents as files then makes each receipt a page as wide as the
  // paper and as long as the receipt; real printers keep their paper.
  int receiptPaperMm = 0;
  // The name a printer that stores documents as files (POSIX "Save as PDF")
  // gives this one, as deviceSetDocumentName takes it; empty: its usual name.
  std::string savedName;
  // A form drawn under the pages it is chosen for, before anything else of
  // them (print/overlay.h); none by default.
  OverlayChoice overlay;
  // How many times the document prints, as one job (1 to 99): the printer
  // makes the copies where it can (device/device.h, deviceSetCopies);
  // otherwise the caller draws the pages that many times (copiesToDraw).
  int copies = 1;
};

// One print job at a time in the whole process, from attach to detach: the
// printer state is one. A watcher holds it for its whole hand-over.
extern ProcessLock PrinterLock;

// Ends the document in progress, then opens the named printer and starts a
// document named "Print job" with the given options. An empty name attaches
// nothing and is no error. Begins no page.
void attachPrinter(const std::string& printerName, const JobOptions& options = JobOptions());
// Like attachPrinter, but the document is written as a PDF file at `path`
// (replacing a file of that name once it is whole), laid out on the paper of
// "Save as PDF", and reaches no printer. kPrinterOpenError when the file
// cannot be begun; detachPrinter sets kPrinterDeviceError (kPrinterDiskFull)
// when it cannot be finished, and then leaves nothing at `path`.
void attachPdfFile(const std::string& path, const JobOptions& options = JobOptions());
// Begins a page if none is open, then makes the font current. Size 0 is 8
// points. The drawing position does not move.
void selectFont(const std::string& faceName, std::int16_t pointSize);
// Draws the text (unless empty) at the drawing position, then moves to the
// start of the next line. With a code page chosen at attach the bytes are
// drawn as the characters they stand for in it (TextOutW), otherwise as
// they are (TextOut). A text line that would pass the bottom of the
// printable area goes to the top of a new page instead.
void printLine(const std::string& text);
// Ends the open page, if any; the next thing drawn begins a new page.
void formFeed();
// For the canvas (print/canvas.h): begins a page when none is open. False,
// with 57 set, when no printer is attached or the device refuses the page.
bool beginPrinterPage();
// For the canvas: turns the pages from the next one on (landscape or
// portrait) through the printer's settings. False when no printer is
// attached, a page is open, or the device refuses (its settings are then
// left as they were). Sets no error.
bool turnPrinterPages(bool landscape);
// Ends the open page and the document and releases the printer. Sets 57 when
// the device did not take the finished document (61 when it could not store
// it because a disk is full); nothing else is reported.
void detachPrinter();
// Ends the attachment like detachPrinter, but the document is thrown away
// instead of handed over: nothing of it reaches the printer. For a printout
// that could not be read to its end. Never reports an error; does nothing
// when no printer is attached.
void abandonDocument();

// How many times the caller draws the attached document's pages, one copy
// after the other in the same document, each from a new page: 1 when one
// copy was asked for or the printer makes the copies itself.
int copiesToDraw();
// The pages of one copy of the document the calling thread attached last
// (counted as they begin), or -1 when it last sent a raw document
// (print/rawprint.h).
int lastDocumentPages();
// For raw printing: the document's pages are not known.
void noteRawDocument();

// --- Accounting for a printout across a crash ---

// The identity the next document of this thread (attached or raw) carries to
// the printer, where findDelivered can look for it later. With `started`,
// that is called on this thread once the spooler has started the document,
// with the job's number and `context`, before anything of the document is
// drawn or sent: where the printer forgets printed jobs (see
// printerFindsPrintedDocuments), the caller notes the job to ask about.
typedef void (*DocumentStarted)(std::uint32_t job, void* context);
void nameNextDocument(const std::string& identity, DocumentStarted started = nullptr, void* context = nullptr);
// For the printing layer and raw printing, its caller holding the printer
// alone: the next document has started as that job of the printer. Calls
// what nameNextDocument was given, once; the job is remembered as this
// run's (see findDelivered).
void reportDocumentStarted(const std::string& printerName, std::uint32_t job);
// True when the last document of this thread failed in a way that leaves
// open whether it reached the printer.
bool lastHandOverUncertain();
enum Delivery {
  kDelivered,       // the printer has it, not finished yet
  kFinished,        // the printer printed it, or a person cancelled it
  kNotDelivered,    // it never arrived, or the printer gave it up itself
  kDeliveryUnknown, // the printer keeps no history to tell
  kNoAnswer         // the printer cannot be asked now
};
// Whether the document of that identity, handed over no earlier than
// `since` (seconds since 1970), reached the printer. A printer that forgets
// printed jobs, given the number of the document's job (not 0), is asked
// for that job instead: the document's "Print job", submitted no earlier
// than `since`:
//   kDelivered     the spooler still has it, its document ended: it prints,
//                  or has printed, from there
//   kNotDelivered  it has no such job (or has one of the number that is not
//                  this document's: another name, submitted before `since`,
//                  or a job this run started); or the job's document never
//                  ended, and the job is deleted so that what was spooled of
//                  it never prints
//   kNoAnswer      the printer cannot be opened, or the spooler asked fails
//                  otherwise (or will not delete the cut-off job): ask again
// Without a job number such a printer cannot say (kDeliveryUnknown).
Delivery findDelivered(const std::string& printerName, const std::string& identity, std::int64_t since,
                       std::uint32_t job);
// Whether the printer can tell later that a document reached it, even once
// it is printed (on POSIX every printer, by the identity). A Windows
// printer cannot: its spooler forgets a job once it is printed. A hand-over
// to it notes its job's number and the end of its document in its record
// instead (spool/handover.h).
bool printerFindsPrintedDocuments(const std::string& printerName);
// Whether the printer can be asked later whether a document it took was
// printed: printouts handed to it are then kept until it says so.
bool printerConfirmsDelivery(const std::string& printerName);
// Removes what a run cut off by a crash left of its documents (the scratch
// files of PDFs being laid out). For the start.
void removePrinterLeftovers();
