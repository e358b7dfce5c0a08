// The built-in "Save as PDF" printer: every document becomes a PDF file of
// its own in the folder "printed" under the working directory.
#pragma once

#include <string>

#include "device/cups_posix.h"

extern const char* const SAVE_AS_PDF_PRINTER;  // "Save as PDF"
extern const char* const SAVE_AS_PDF_FOLDER;   // "printed"

// The paper of the user's locale (Letter where LC_PAPER says so, A4
// otherwise) with a quarter-inch unprintable border.
void localePaper(CupsMedia* media);

// A file to write a document into while it is being laid out. With
// inFolder the file is made inside the folder (created when needed) so that
// it can later be put in place without copying; *path receives its name.
// Only its owner can read it until it is published.
// Otherwise, or when the folder cannot be written, it is an unnamed file in
// the temporary folder and *path is empty. -1 when no file can be made.
int openScratchFile(bool inFolder, std::string* path);

// A file to write a document into that is to become `target`: made
// private, beside it (so that it can be renamed into place), with its name in
// *path. -1 when it cannot be made.
int openScratchBeside(const std::string& target, std::string* path);

// Puts a finished document into the folder under a new name that no earlier
// file has: the scratch file is renamed when it is already there, otherwise
// its content is copied first. Never overwrites a file. The file gets the
// usual mode of new files (0666 less the umask) narrowed by fileMode, and
// nothing more whatever the umask. True with the final name in *finalPath
// when the whole document is in place.
// With a name (see deviceSetDocumentName) the file gets that name, its
// folders made inside the folder as needed; where a folder cannot be made
// or is not a plain folder of its own (a link, say), the usual name instead.
bool publishPdf(int fd, const std::string& scratchPath, unsigned fileMode, const std::string& name,
                std::string* finalPath);

// Whether deviceSetDocumentName may take the name: inside the folder, no
// empty, "." or ".." folder, no more than a few folders deep.
bool savedNameAllowed(const std::string& name);

// The PDF keywords that carry a printout's identity.
std::string savedPdfKeywords(const std::string& identity);

// True when a PDF in the folder or the folders inside it (a few deep, a
// bounded number of entries), saved no earlier than `since` (seconds since
// 1970, less a little for clocks), carries the identity.
bool findSavedPdf(const std::string& identity, long long since);

// Removes the scratch files of documents whose layout was cut off (by a
// crash or a kill) from the folder. A scratch file is locked while its
// document is written, so one still in use by another ferrin is left alone.
void removeStaleScratchFiles();
