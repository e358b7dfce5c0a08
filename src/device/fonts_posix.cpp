#include "device/fonts_posix.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "console/cp437.h"

// One loaded font file, with the numbers the metrics are computed from.
struct FontFile {
  FT_Face ft;
  cairo_font_face_t* face;
  std::string family;
  int unitsPerEm;
  int winAscent;
  int winDescent;
  int lineGap;      // hhea line gap
  int hheaHeight;   // hhea ascender - descender
  int averageWidth; // OS/2 xAvgCharWidth: what Windows reports as tmAveCharWidth
  int underlinePosition;   // centre of the underline, above the baseline (negative below)
  int underlineThickness;
  unsigned long glyph[256];
  long advanceUnits[256];
  // Every UTF-16 unit's glyph and advance, for wide text: looked up once,
  // the first time the file draws wide text, and never changed after.
  std::once_flag wideOnce;
  std::vector<std::uint32_t> wideGlyphs;
  std::vector<std::int32_t> wideAdvanceUnits;
};

namespace {

// fontconfig and FreeType are not safe to use from two threads at once, and
// loaded files are kept for the life of the process (a handful at most).
std::mutex fontMutex;
FT_Library library = nullptr;
// Never destroyed: watchers may still use them while the process ends.
std::map<std::pair<std::string, int>, FontFile*>& loadedFiles() {
  static auto* files = new std::map<std::pair<std::string, int>, FontFile*>();
  return *files;
}
// Keyed by file, em and lfWidth.
std::map<std::pair<FontFile*, std::pair<int, int>>, SizedFont*>& sizedFonts() {
  static auto* fonts = new std::map<std::pair<FontFile*, std::pair<int, int>>, SizedFont*>();
  return *fonts;
}

FontFile* loadFile(const std::string& path, int index, const std::string& family) {
  auto key = std::make_pair(path, index);
  auto found = loadedFiles().find(key);
  if (found != loadedFiles().end()) return found->second;
  if (library == nullptr && FT_Init_FreeType(&library) != 0) return nullptr;
  FT_Face ft = nullptr;
  if (FT_New_Face(library, path.c_str(), index, &ft) != 0) return nullptr;
  if (ft->units_per_EM == 0) {
    FT_Done_Face(ft);
    return nullptr;
  }
  FontFile* file = new FontFile();
  file->ft = ft;
  file->family = family;
  file->unitsPerEm = ft->units_per_EM;
  int hheaAscender = ft->ascender;
  int hheaDescender = ft->descender;  // negative below the baseline
  file->hheaHeight = hheaAscender - hheaDescender;
  file->lineGap = ft->height - file->hheaHeight;
  const TT_HoriHeader* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HHEA));
  if (hhea != nullptr) {
    file->hheaHeight = hhea->Ascender - hhea->Descender;
    file->lineGap = hhea->Line_Gap;
  }
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    file->winAscent = os2->usWinAscent;
    file->winDescent = os2->usWinDescent;
  } else {
    file->winAscent = hheaAscender;
    file->winDescent = -hheaDescender;
  }
  file->averageWidth = os2 != nullptr && os2->version != 0xFFFF && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : 0;
  file->underlinePosition = ft->underline_position;
  file->underlineThickness = ft->underline_thickness;
  if (file->underlineThickness <= 0) {
    file->underlinePosition = -file->unitsPerEm / 10;
    file->underlineThickness = file->unitsPerEm / 20;
  }
  if (file->winAscent + file->winDescent <= 0) {
    file->winAscent = file->unitsPerEm;
    file->winDescent = 0;
  }
  for (int byte = 0; byte < 256; byte++) {
    std::uint32_t codePoint = cp437Glyph(static_cast<unsigned char>(byte));
    if (codePoint == 0) codePoint = 0x20;  // NUL shows as a blank
    file->glyph[byte] = FT_Get_Char_Index(ft, codePoint);
    FT_Fixed advance = 0;
    FT_Get_Advance(ft, static_cast<FT_UInt>(file->glyph[byte]), FT_LOAD_NO_SCALE, &advance);
    file->advanceUnits[byte] = advance;
  }
  if (file->averageWidth == 0) file->averageWidth = static_cast<int>(file->advanceUnits[0x20]);
  if (file->averageWidth <= 0) file->averageWidth = file->unitsPerEm / 2;
  file->face = cairo_ft_font_face_create_for_ft_face(ft, FT_LOAD_NO_HINTING);
  loadedFiles()[key] = file;
  return file;
}

// The file fontconfig picks for the request; it always picks one.
FontFile* matchFile(const LogFont& logical) {
  FcPattern* pattern = FcPatternCreate();
  char face[sizeof logical.lfFaceName + 1];
  std::memcpy(face, logical.lfFaceName, sizeof logical.lfFaceName);
  face[sizeof logical.lfFaceName] = '\0';
  if (face[0] != '\0') {
    std::string utf8 = cp437ToUtf8(face);
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
  }
  if (logical.lfWeight > 0)
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(logical.lfWeight));
  FcPatternAddInteger(pattern, FC_SLANT, logical.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) return nullptr;
  FcChar8* path = nullptr;
  FcChar8* family = nullptr;
  int index = 0;
  FontFile* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) != FcResultMatch) family = nullptr;
    file = loadFile(reinterpret_cast<const char*>(path), index,
                    family != nullptr ? reinterpret_cast<const char*>(family) : "");
  }
  FcPatternDestroy(match);
  return file;
}

int scaled(long units, int em, int unitsPerEm) {
  return static_cast<int>(std::lround(static_cast<double>(units) * em / unitsPerEm));
}

}  // namespace

bool makeDeviceFont(const LogFont& logical, int dotsPerInch, DeviceFontObject* font) {
  std::lock_guard<std::mutex> guard(fontMutex);
  font->logical = logical;
  font->sized = nullptr;
  font->stock = false;
  FontFile* file = matchFile(logical);
  if (file == nullptr || file->face == nullptr) return false;
  // Negative heights ask for the character height (em), positive ones for
  // the cell height (ascent plus descent), 0 for a default of 10 points.
  int em;
  if (logical.lfHeight < 0) {
    em = -logical.lfHeight;
  } else if (logical.lfHeight > 0) {
    em = scaled(static_cast<long>(logical.lfHeight) * file->unitsPerEm, 1, file->winAscent + file->winDescent);
  } else {
    em = static_cast<int>(std::lround(dotsPerInch * 10.0 / 72.0));
  }
  if (em < 1) em = 1;
  // A width asks for that average character width, as lfWidth does on
  // Windows: the glyphs are scaled across to reach it.
  int width = logical.lfWidth > 0 ? logical.lfWidth : 0;
  double natural = static_cast<double>(file->averageWidth) * em / file->unitsPerEm;
  double scaleX = width > 0 && natural > 0 ? width / natural : 1.0;
  if (scaleX < 0.05) scaleX = 0.05;
  if (scaleX > 20) scaleX = 20;
  auto key = std::make_pair(file, std::make_pair(em, width));
  auto found = sizedFonts().find(key);
  if (found != sizedFonts().end()) {
    font->sized = found->second;
    return true;
  }
  SizedFont* sized = new SizedFont();
  sized->face = file->face;
  sized->file = file;
  sized->family = file->family;
  sized->em = em;
  sized->scaleX = scaleX;
  sized->underlineOffset = scaled(-file->underlinePosition - file->underlineThickness / 2, em, file->unitsPerEm);
  sized->underlineThickness = scaled(file->underlineThickness, em, file->unitsPerEm);
  if (sized->underlineThickness < 1) sized->underlineThickness = 1;
  sized->metrics.tmAveCharWidth = static_cast<int>(std::lround(natural * scaleX));
  // The way the Windows font mapper measures a TrueType font.
  sized->metrics.tmAscent = scaled(file->winAscent, em, file->unitsPerEm);
  sized->metrics.tmDescent = scaled(file->winDescent, em, file->unitsPerEm);
  sized->metrics.tmHeight = sized->metrics.tmAscent + sized->metrics.tmDescent;
  int leading = scaled(file->lineGap - ((file->winAscent + file->winDescent) - file->hheaHeight), em,
                       file->unitsPerEm);
  sized->metrics.tmExternalLeading = leading > 0 ? leading : 0;
  for (int byte = 0; byte < 256; byte++) {
    sized->glyph[byte] = file->glyph[byte];
    sized->advance[byte] = static_cast<int>(std::lround(static_cast<double>(file->advanceUnits[byte]) * scaleX * em / file->unitsPerEm));
  }
  sizedFonts()[key] = sized;
  font->sized = sized;
  return true;
}

namespace {

void loadWideGlyphs(FontFile* file) {
  std::lock_guard<std::mutex> guard(fontMutex);
  file->wideGlyphs.resize(0x10000);
  file->wideAdvanceUnits.resize(0x10000);
  FT_Fixed missingAdvance = 0;
  FT_Get_Advance(file->ft, 0, FT_LOAD_NO_SCALE, &missingAdvance);
  for (std::uint32_t unit = 0; unit < 0x10000; unit++) {
    std::uint32_t codePoint = unit == 0 ? 0x20 : unit;
    FT_UInt index = FT_Get_Char_Index(file->ft, codePoint);
    FT_Fixed advance = missingAdvance;
    if (index != 0) FT_Get_Advance(file->ft, index, FT_LOAD_NO_SCALE, &advance);
    file->wideGlyphs[unit] = index;
    file->wideAdvanceUnits[unit] = static_cast<std::int32_t>(advance);
  }
}

}  // namespace

void wideGlyph(const SizedFont* font, char16_t character, unsigned long* glyph, int* advance) {
  FontFile* file = font->file;
  std::call_once(file->wideOnce, loadWideGlyphs, file);
  *glyph = file->wideGlyphs[character];
  *advance = static_cast<int>(std::lround(file->wideAdvanceUnits[character] * font->scaleX * font->em / file->unitsPerEm));
}
