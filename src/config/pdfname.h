// The names "Save as PDF" gives its files (the key pdfname): a template of
// fields (%Y %m %d %H %M %S the time, %n the counter, %p the printer number,
// %t the printout's first line of text made safe, %% a percent sign) and
// literal text, with / (or \) making folders inside the folder "printed".
#pragma once

#include <string>

#include "platform/system.h"

// Where the counter goes in an expanded name: the device tries 001, 002, ...
// until the name is free.
const char kPdfCounterMark = '\x01';
// The most folders a template makes, one inside the other.
const int kMaxPdfNameFolders = 4;

// Why the template cannot name files safely on every platform (it would
// leave the folder, names a folder or file Windows reserves, holds a control
// character or one that Windows refuses, ends in %, has a field ferrin does
// not know, or could give a name too long), as the end of a sentence
// beginning "which"; empty when it can.
std::string pdfNameProblem(const std::string& pattern);

// A printout's first line of text as part of a file name: its letters and
// digits, '-' and '_', blanks and other characters as single '_', at most 40
// characters; "printout" when nothing is left.
std::string fileNameText(const std::string& text);

// The template (one that pdfNameProblem accepts) filled in: a name relative
// to the folder, folders separated by '/', without ".pdf", with
// kPdfCounterMark where %n stands.
std::string expandPdfName(const std::string& pattern, const LocalTime& time, int printerNumber,
                          const std::string& firstLine);
