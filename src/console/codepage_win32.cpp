// Code pages through the system's own conversion tables.
#include "console/codepage.h"

#include <windows.h>

#include <climits>
#include <string>

namespace {

const int kCodePages[] = {437, 850, 852, 855, 857, 858, 860,  861,  862,  863,  864,  865,  866,
                          869, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

// Converted in pieces, so that a line of any length fits MultiByteToWideChar's
// int counts. Every supported code page has one byte per character, so a
// piece boundary never splits one.
const size_t kPiece = 1 << 20;

// Code page 858 is 850 with the euro sign in place of the dotless i (0xD5).
// A system without a table for 858 (Wine has none) converts it as 850 and
// puts the euro sign in, so that a receipt in 858 prints as it does where
// the table exists.
const int kEuroPage = 858;
const int kEuroBase = 850;
const unsigned char kEuroByte = 0xD5;
const wchar_t kEuroSign = 0x20AC;

// The table the system converts a code page with; 0 for none.
UINT tableOf(int codePage) {
  if (IsValidCodePage(static_cast<UINT>(codePage)) != 0) return static_cast<UINT>(codePage);
  if (codePage == kEuroPage && IsValidCodePage(kEuroBase) != 0) return kEuroBase;
  return 0;
}

}  // namespace

bool codePageSupported(int codePage) {
  for (int known : kCodePages)
    if (known == codePage) return tableOf(codePage) != 0;
  return false;
}

bool codePageToUtf16(int codePage, const std::string& bytes, std::u16string* out) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
  out->clear();
  if (!codePageSupported(codePage)) return false;
  const UINT table = tableOf(codePage);
  out->resize(bytes.size());
  for (size_t done = 0; done < bytes.size(); done += kPiece) {
    int count = static_cast<int>(bytes.size() - done < kPiece ? bytes.size() - done : kPiece);
    // Flags 0: a byte without a character becomes the code page's default
    // character instead of failing the whole line.
    int made = MultiByteToWideChar(table, 0, bytes.data() + done, count,
                                   reinterpret_cast<wchar_t*>(&(*out)[done]), count);
    if (made != count) {
      out->clear();
      return false;
    }
  }
  if (table != static_cast<UINT>(codePage))
    for (size_t i = 0; i < bytes.size(); ++i)
      if (static_cast<unsigned char>(bytes[i]) == kEuroByte) (*out)[i] = static_cast<char16_t>(kEuroSign);
  return true;
}
