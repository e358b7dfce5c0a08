// Whether a spool file name from ferrin.ini stays inside ferrin's working
// folder. ferrin.ini lies in the spool folder, which DOS programs (often on
// other machines, through a network share) can write; a name that led out of
// the folder would make ferrin print, and then delete, any file it can reach.
// The check reads the text of the name only: it touches no file, so it gives
// the same answer whatever the disk holds.
#pragma once

#include <string>

// Why a name is refused; kSpoolNameInside when it is not.
enum SpoolNameCheck {
  kSpoolNameInside,
  kSpoolNameEmpty,
  kSpoolNameNulByte,   // the system would end the name at the NUL
  kSpoolNameAbsolute,  // begins at a root: "/x", and under Windows rules "\x", "\\server\share", "\\?\x"
  kSpoolNameDrive,     // a drive letter: "C:x", "C:\x"
  kSpoolNameParent,    // a ".." element; under Windows rules also any element of
                       // dots and blanks only other than ".", which Windows trims
                       // to ".." or to nothing
  kSpoolNameStream,    // under Windows rules a colon past the drive: "x:stream"
  kSpoolNameDevice,    // under Windows rules a device: CON, PRN, AUX, NUL, COM0-9,
                       // LPT0-9, CONIN$, CONOUT$, CLOCK$, with any extension
  kSpoolNameNoFile,    // ends in a separator or in ".": a folder, not a file
};

// Checks a name by the rules of Windows (separators / and \, drives, streams,
// devices, trailing dots and blanks trimmed) or of POSIX (separator / only).
// Wildcards are not looked at: they name nothing outside the folder, and the
// file layer refuses * and ? when it opens a spool file.
SpoolNameCheck checkSpoolName(const std::string& name, bool windowsRules);

// True when the name stays inside the working folder.
bool spoolNameConfined(const std::string& name, bool windowsRules);

// The same by the rules of the platform ferrin is built for.
bool spoolNameConfinedHere(const std::string& name);
