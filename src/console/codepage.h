// DOS and Windows code pages: the character set a printout's bytes were
// written in, turned into UTF-16 for the printer's wide text calls.
// Supported are the single-byte code pages 437, 850, 852, 855, 857, 858,
// 860-866, 869, 874 and 1250-1258, as far as the platform can convert them.
// Safe to call from any thread.
#pragma once

#include <string>

// True when text in the code page can be converted.
bool codePageSupported(int codePage);

// The bytes as UTF-16, one unit per byte; a byte the code page has no
// character for becomes U+FFFD. False, with *out empty, for a code page
// that is not supported.
bool codePageToUtf16(int codePage, const std::string& bytes, std::u16string* out);
