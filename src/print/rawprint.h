// Raw printing: a printout's bytes sent to the printer unchanged, for
// printers that understand the DOS program's own printer language (receipt
// printers above all). It does not use the printer state of print/printer.h
// and ends no document there, but shares its error codes; the caller holds
// the printer alone as for a laid-out document.
#pragma once

#include <string>

#include "print/printer.h"

// The printer takes no raw data (POSIX "Save as PDF"): lay the printout out
// with print/printer.h instead. Nothing was sent.
const int kPrinterRawRefused = 73;

// Sends the bytes unchanged to the named printer as one job named "Print
// job", `copies` times one after the other in that job. An empty name or no
// bytes sends nothing and is no error. Failures
// set the calling thread's error code and return normally:
//   kPrinterOpenError   the printer cannot be opened or the job cannot be
//                       started; nothing reached the printer
//   kPrinterRawRefused  the printer takes no raw data; nothing reached the
//                       printer
//   kPrinterDeviceError the device refused the page, some bytes or the
//                       finished job; the job was deleted (or, when the
//                       spooler refused only the finished job, not handed
//                       over), so sending it again prints it once
void printRawDocument(const std::string& printerName, const std::string& bytes, int copies = 1);

// The same for a few commands sent after a document drawn on the printer (a
// receipt's drawer pulses and cuts): the drawn document stays the last
// document printed (lastDocumentPages).
void printRawFollowUp(const std::string& printerName, const std::string& bytes);
