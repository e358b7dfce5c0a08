#include "lang/language.h"

#include <cstring>

// Each language's table, in the language's own file.
extern const PrinterLanguage kPclLanguage;
extern const PrinterLanguage kStarLanguage;
extern const PrinterLanguage kEscPosLanguage;
extern const PrinterLanguage kEscPLanguage;

namespace {

// In the order controls=auto asks them: a laser printer's commands first
// (dot-matrix printers share some of their letters), then a receipt
// printer's (Star Line Mode before ESC/POS: its ESC GS a looks like ESC/POS's
// GS a), then any command at all.
const PrinterLanguage* const kLanguages[] = {&kPclLanguage, &kStarLanguage, &kEscPosLanguage, &kEscPLanguage};

}  // namespace

const PrinterLanguage* findLanguage(const char* name) {
  if (name == nullptr) return nullptr;
  for (const PrinterLanguage* language : kLanguages)
    if (std::strcmp(language->name, name) == 0) return language;
  return nullptr;
}

const PrinterLanguage* languageOfPrintout(const PrintoutProbe& probe) {
  for (const PrinterLanguage* language : kLanguages)
    if (language->recognises(probe)) return language;
  return nullptr;
}
