// A printout laid out as a PDF file of its own, for sending it on (by mail,
// say) beside or instead of printing it.
#pragma once

#include <string>

// Lays the printout file out with slot slotNumber's settings (font, size,
// code page, controls: plain text, escp, escpos receipts on receipt-shaped
// pages, pcl) into a PDF at pdfPath, as "Save as PDF" lays it out, and
// replaces a file of that name once the PDF is whole. Nothing is printed on
// the slot's printer, nothing is echoed, and no hand-over record, queue or
// journal is touched; the printout file is read, never changed or removed.
//
// Callable from any thread, while the watchers print: it holds PrinterLock
// (print/printer.h) for the layout, as a watcher does for a hand-over, so it
// waits for a hand-over in progress and holds the next one back until the
// PDF is done. It uses the calling thread's open spool file
// (files/spoolfile.h): one that thread had open is closed.
//
// False on failure, with the thread's error code (files/errors.h) set: the
// printout's open or read error (53, 62, 70...), 64 for a slot number out
// of range, kPrinterOpenError (68) when the PDF cannot be begun, 57 when it
// cannot be finished, 61 when the disk is full; nothing is then left at
// pdfPath. True with the code cleared.
bool layOutPdfCopy(int slotNumber, const std::string& printoutPath, const std::string& pdfPath);
