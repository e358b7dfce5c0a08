// Code pages through iconv: each code page's 256 characters are converted
// once, byte by byte, into a table kept for the life of the process.
#include "console/codepage.h"

#include <iconv.h>

#include <array>
#include <map>
#include <mutex>
#include <string>

namespace {

const int kCodePages[] = {437, 850, 852, 855, 857, 858, 860,  861,  862,  863,  864,  865,  866,
                          869, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
const char16_t kNoCharacter = 0xFFFD;

typedef std::array<char16_t, 256> CodePageTable;

bool listed(int codePage) {
  for (int known : kCodePages)
    if (known == codePage) return true;
  return false;
}

// One byte through the converter: the character it stands for, or
// kNoCharacter. The converter is flushed after each byte, since a few code
// pages (1255, 1258) hold a letter back to combine it with an accent after it.
char16_t convertByte(iconv_t converter, unsigned char byte) {
  char in[1] = {static_cast<char>(byte)};
  char outBytes[16];
  char* inPtr = in;
  size_t inLeft = 1;
  char* outPtr = outBytes;
  size_t outLeft = sizeof outBytes;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
  if (done == static_cast<size_t>(-1) || inLeft != 0) return kNoCharacter;
  iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
  // Exactly one UTF-16 unit, little-endian; anything else has no single
  // character to stand for.
  if (sizeof outBytes - outLeft != 2) return kNoCharacter;
  return static_cast<char16_t>(static_cast<unsigned char>(outBytes[0]) |
                               (static_cast<unsigned char>(outBytes[1]) << 8));
}

bool buildTable(int codePage, CodePageTable* table) {
  std::string name = "CP" + std::to_string(codePage);
  iconv_t converter = iconv_open("UTF-16LE", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  for (int byte = 0; byte < 256; byte++) (*table)[byte] = convertByte(converter, static_cast<unsigned char>(byte));
  iconv_close(converter);
  return true;
}

std::mutex tablesMutex;

// The code page's table, built on first use; nullptr when the code page is
// not supported. Tables are never freed or changed once built, so a pointer
// to one stays good without the lock.
const CodePageTable* findTable(int codePage) {
  if (!listed(codePage)) return nullptr;
  std::lock_guard<std::mutex> guard(tablesMutex);
  // Never destroyed: printing threads may still convert while the process ends.
  static auto* tables = new std::map<int, CodePageTable*>();
  auto found = tables->find(codePage);
  if (found != tables->end()) return found->second;
  CodePageTable* table = new CodePageTable();
  if (!buildTable(codePage, table)) {
    delete table;
    table = nullptr;
  }
  (*tables)[codePage] = table;
  return table;
}

}  // namespace

bool codePageSupported(int codePage) { return findTable(codePage) != nullptr; }

bool codePageToUtf16(int codePage, const std::string& bytes, std::u16string* out) {
  out->clear();
  const CodePageTable* table = findTable(codePage);
  if (table == nullptr) return false;
  out->resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); i++) (*out)[i] = (*table)[static_cast<unsigned char>(bytes[i])];
  return true;
}
