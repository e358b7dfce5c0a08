// The recording printer device: see device_fake.h.
#include "fake/device_fake.h"

#include <algorithm>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

#include "device/device.h"

FakeDevice fakeDevice;

namespace {

// Handles are small numbers in ranges of their own, so that a handle of one
// kind passed as another is noticed.
const std::intptr_t kPrinterBase = 0x10000;
const std::intptr_t kContextBase = 0x20000;
const std::intptr_t kFontBase = 0x30000;
const int kStockFont = 0xFFFF;
const int kOpaqueMode = 2;

struct Printer {
  std::string name;
  bool open;
  int rawJob;  // index into fakeDevice.rawJobs + 1 while a raw job is open, else 0
  bool rawPageOpen;
};

// GetLastError of the calling thread: what the last failing call set.
thread_local std::uint32_t lastErrorCode = 0;
const std::uint32_t kGeneralFailure = 31;  // ERROR_GEN_FAILURE

struct Context {
  std::string printer;
  bool alive;
  bool documentOpen;
  int document;  // index into fakeDevice.documents + 1, 0 for none
  bool pageOpen;
  int page;
  int font;
  std::uint32_t align;
  std::uint32_t textColor;
  std::uint32_t bkColor;
  int bkMode;
  int x;
  int y;
  unsigned fileMode;
  int copies;
};

struct Font {
  LogFont logicalFont;
  bool alive;
};

struct Arm {
  int remaining;
  bool persist;
};

std::map<int, Printer> printers;
std::map<int, Context> contexts;
std::map<int, Font> fonts;
std::map<std::string, Arm> armed;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return buffer;
}

bool shouldFail(const char* operation) {
  auto it = armed.find(operation);
  if (it == armed.end()) return false;
  if (it->second.remaining > 1) {
    --it->second.remaining;
    return false;
  }
  if (!it->second.persist) armed.erase(it);
  lastErrorCode = fakeDevice.failError != 0 ? fakeDevice.failError : kGeneralFailure;
  return true;
}

void logCall(const std::string& line) { fakeDevice.calls.push_back(line); }
void misuse(const std::string& what) { fakeDevice.misuse.push_back(what); }

std::string quoted(const char* text, int count) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (int i = 0; i < count; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += format("\\x%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8Of(const char16_t* text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 between quotes, with quotes, backslashes and control characters
// escaped as quoted() does; other characters as they are.
std::string quotedUtf8(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      out += format("\\x%02X", c);
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string quoted(const char* text) { return quoted(text, text == nullptr ? 0 : static_cast<int>(std::strlen(text))); }

int handleNumber(const void* handle, std::intptr_t base) {
  std::intptr_t v = reinterpret_cast<std::intptr_t>(handle) - base;
  return v > 0 && v <= 0xFFFF ? static_cast<int>(v) : 0;
}

std::string printerName(PrinterHandle h) {
  int n = handleNumber(h, kPrinterBase);
  return n ? format("printer%d", n) : (h ? "badprinter" : "null");
}
std::string contextName(DeviceContext dc) {
  int n = handleNumber(dc, kContextBase);
  return n ? format("dc%d", n) : (dc ? "baddc" : "null");
}
std::string fontName(FontHandle f) {
  if (f == DEVICE_SELECT_ERROR) return "HGDI_ERROR";
  int n = handleNumber(f, kFontBase);
  if (n == kStockFont) return "stockfont";
  return n ? format("font%d", n) : (f ? "badfont" : "null");
}
FontHandle fontHandle(int n) { return reinterpret_cast<FontHandle>(kFontBase + n); }

Printer* findPrinter(PrinterHandle h, const char* operation) {
  auto it = printers.find(handleNumber(h, kPrinterBase));
  if (it == printers.end() || !it->second.open) {
    misuse(std::string(operation) + " on " + printerName(h) + ", which is not open");
    return nullptr;
  }
  return &it->second;
}

Context* findContext(DeviceContext dc, const char* operation) {
  auto it = contexts.find(handleNumber(dc, kContextBase));
  if (it == contexts.end() || !it->second.alive) {
    misuse(std::string(operation) + " on " + contextName(dc) + ", which does not exist");
    return nullptr;
  }
  return &it->second;
}

bool knownPrinter(const char* name) {
  if (name == nullptr) return false;
  for (const std::string& p : fakeDevice.printers)
    if (p == name) return true;
  return false;
}

// The settings record DocumentProperties hands out for a printer: its name
// first, as in a DEVMODE, then a pattern the fake can recognise later.
unsigned char settingsByte(const std::string& printer, int i) {
  if (i < 32) return i < static_cast<int>(printer.size()) ? static_cast<unsigned char>(printer[i]) : 0;
  return static_cast<unsigned char>(i * 7 + 3);
}

std::string settingsName(const std::string& printer, const void* settings) {
  if (settings == nullptr) return "null";
  const unsigned char* bytes = static_cast<const unsigned char*>(settings);
  for (int i = 0; i < fakeDevice.settingsSize; ++i)
    if (bytes[i] != settingsByte(printer, i)) {
      misuse("settings passed for " + printer + " are not the ones DocumentProperties gave");
      return "othersettings";
    }
  return "settings";
}

int fontHeight(int font) {
  if (font == kStockFont) return -(fakeDevice.dotsPerInch / 6);
  return fonts[font].logicalFont.lfHeight;
}

std::string fontFace(int font) { return font == kStockFont ? "stock" : fonts[font].logicalFont.lfFaceName; }

// The copies SetCopies asked for, by the settings record they were asked
// for in; CreateDC takes them from the record it is given.
std::map<const void*, int> recordCopies;

std::string yesNo(bool ok) { return ok ? "1" : "0"; }

}  // namespace

namespace {
thread_local std::string nextIdentity;

// The operation named in crashAt ends the run here, once.
void crashIfAsked(const char* operation) {
  if (fakeDevice.crashAt != operation) return;
  fakeDevice.crashAt.clear();
  throw FakeCrash();
}

std::string takeIdentity() {
  std::string identity = nextIdentity;
  nextIdentity.clear();
  return identity;
}

bool lastEndUncertain = false;
// The last job number StartDoc or StartDocPrinter gave out.
std::uint32_t lastJob = 0;
}  // namespace

void resetFakeDevice() {
  fakeDevice = FakeDevice();
  nextIdentity.clear();
  lastEndUncertain = false;
  lastJob = 0;
  fakeDevice.printers = {"Receipt", "Report"};
  fakeDevice.dotsPerInch = 600;
  fakeDevice.pageWidth = 4960;
  fakeDevice.pageHeight = 7016;
  fakeDevice.offsetX = 0;
  fakeDevice.offsetY = 0;
  fakeDevice.charWidth = 10;
  fakeDevice.cellHeight = 0;
  fakeDevice.externalLeading = 0;
  fakeDevice.settingsSize = 220;
  fakeDevice.writeLimit = 0;
  lastErrorCode = 0;
  printers.clear();
  contexts.clear();
  fonts.clear();
  armed.clear();
  recordCopies.clear();
}

void failDeviceCall(const std::string& operation, int nth, bool persist) {
  armed[operation] = Arm{nth < 1 ? 1 : nth, persist};
}

std::vector<std::string> fakeCallsOf(const std::string& operation) {
  std::vector<std::string> out;
  for (const std::string& line : fakeDevice.calls)
    if (line.compare(0, operation.size() + 1, operation + "(") == 0) out.push_back(line);
  return out;
}

std::string fakeCallLog() {
  std::string out;
  for (const std::string& line : fakeDevice.calls) out += line + "\n";
  return out;
}

bool deviceOpenPrinter(const char* name, PrinterHandle* handle) {
  bool ok = !shouldFail("OpenPrinter") && knownPrinter(name) && handle != nullptr;
  if (ok) {
    int n = static_cast<int>(printers.size()) + 1;
    printers[n] = Printer{name, true, 0, false};
    *handle = reinterpret_cast<PrinterHandle>(kPrinterBase + n);
    ++fakeDevice.openPrinters;
  }
  logCall("OpenPrinter(" + quoted(name) + ")=" + (ok ? printerName(*handle) : "0"));
  return ok;
}

std::int32_t deviceDocumentProperties(PrinterHandle handle, const char* name, void* output, int mode) {
  std::int32_t result = -1;
  Printer* p = findPrinter(handle, "DocumentProperties");
  if (p != nullptr && !shouldFail("DocumentProperties")) {
    if (name == nullptr || p->name != name) misuse("DocumentProperties with a name other than the handle's printer");
    if (mode == 0 && output == nullptr) {
      result = fakeDevice.settingsSize;
    } else if (mode == kDeviceDmOutBuffer && output != nullptr) {
      unsigned char* bytes = static_cast<unsigned char*>(output);
      for (int i = 0; i < fakeDevice.settingsSize; ++i) bytes[i] = settingsByte(p->name, i);
      result = 1;
    } else {
      misuse(format("DocumentProperties with mode %d and %s output", mode, output ? "an" : "no"));
    }
  }
  logCall(format("DocumentProperties(%s,%s,%s,%d)=%d", printerName(handle).c_str(), quoted(name).c_str(),
                 output ? "buffer" : "null", mode, result));
  return result;
}

bool deviceClosePrinter(PrinterHandle handle) {
  Printer* p = findPrinter(handle, "ClosePrinter");
  bool ok = p != nullptr && !shouldFail("ClosePrinter");
  if (ok) {
    if (p->rawJob != 0) misuse("ClosePrinter with a raw job open on " + printerName(handle));
    p->open = false;
    --fakeDevice.openPrinters;
  }
  logCall("ClosePrinter(" + printerName(handle) + ")=" + yesNo(ok));
  return ok;
}

bool refusesRaw(const std::string& printer) {
  for (const std::string& p : fakeDevice.rawRefused)
    if (p == printer) return true;
  return false;
}

std::uint32_t deviceStartDocPrinter(PrinterHandle handle, const char* documentName, const char* datatype) {
  Printer* p = findPrinter(handle, "StartDocPrinter");
  std::uint32_t job = 0;
  if (p != nullptr && !shouldFail("StartDocPrinter")) {
    if (p->rawJob != 0) {
      misuse("StartDocPrinter while a raw job is open on " + printerName(handle));
      lastErrorCode = kGeneralFailure;
    } else if (refusesRaw(p->name)) {
      lastErrorCode = kDeviceErrorInvalidDatatype;
    } else {
      fakeDevice.rawJobs.push_back(FakeRawJob{p->name, documentName ? documentName : "", datatype ? datatype : "",
                                              "", 0, false, false});
      fakeDevice.rawJobs.back().identity = takeIdentity();
      fakeDevice.rawJobs.back().job = job = ++lastJob;
      fakeDevice.rawJobs.back().submitted = static_cast<long long>(std::time(nullptr));
      p->rawJob = static_cast<int>(fakeDevice.rawJobs.size());
    }
  }
  logCall(format("StartDocPrinter(%s,1,%s,null,%s)=%u", printerName(handle).c_str(), quoted(documentName).c_str(),
                 quoted(datatype).c_str(), job));
  crashIfAsked("StartDocPrinter");
  return job;
}

// The printer's open raw job, or nullptr (a misuse) when it has none.
FakeRawJob* openRawJob(Printer* p, PrinterHandle handle, const char* operation) {
  if (p->rawJob == 0) {
    misuse(std::string(operation) + " without a raw job on " + printerName(handle));
    return nullptr;
  }
  return &fakeDevice.rawJobs[p->rawJob - 1];
}

bool deviceStartPagePrinter(PrinterHandle handle) {
  Printer* p = findPrinter(handle, "StartPagePrinter");
  bool ok = p != nullptr && !shouldFail("StartPagePrinter") && openRawJob(p, handle, "StartPagePrinter") != nullptr;
  if (ok && p->rawPageOpen) {
    misuse("StartPagePrinter inside a page on " + printerName(handle));
    ok = false;
  }
  if (ok) p->rawPageOpen = true;
  logCall("StartPagePrinter(" + printerName(handle) + ")=" + yesNo(ok));
  return ok;
}

bool deviceWritePrinter(PrinterHandle handle, const void* data, std::uint32_t size, std::uint32_t* written) {
  Printer* p = findPrinter(handle, "WritePrinter");
  *written = 0;
  FakeRawJob* job = p != nullptr && !shouldFail("WritePrinter") ? openRawJob(p, handle, "WritePrinter") : nullptr;
  if (job != nullptr) {
    if (!p->rawPageOpen) misuse("WritePrinter outside a page on " + printerName(handle));
    *written = fakeDevice.writeLimit > 0 && size > fakeDevice.writeLimit ? fakeDevice.writeLimit : size;
    job->data.append(static_cast<const char*>(data), *written);
  }
  logCall(format("WritePrinter(%s,%u)=%s written=%u", printerName(handle).c_str(), size, yesNo(job != nullptr).c_str(),
                 *written));
  return job != nullptr;
}

bool deviceEndPagePrinter(PrinterHandle handle) {
  Printer* p = findPrinter(handle, "EndPagePrinter");
  FakeRawJob* job = p != nullptr && !shouldFail("EndPagePrinter") ? openRawJob(p, handle, "EndPagePrinter") : nullptr;
  bool ok = job != nullptr && p->rawPageOpen;
  if (job != nullptr && !p->rawPageOpen) misuse("EndPagePrinter without a page on " + printerName(handle));
  if (ok) {
    p->rawPageOpen = false;
    ++job->pages;
  }
  logCall("EndPagePrinter(" + printerName(handle) + ")=" + yesNo(ok));
  crashIfAsked("EndPagePrinter");
  return ok;
}

// A failed EndDocPrinter leaves the job neither handed over nor open.
bool deviceEndDocPrinter(PrinterHandle handle) {
  Printer* p = findPrinter(handle, "EndDocPrinter");
  FakeRawJob* job = p != nullptr ? openRawJob(p, handle, "EndDocPrinter") : nullptr;
  bool ok = job != nullptr && !shouldFail("EndDocPrinter");
  if (job != nullptr) {
    if (p->rawPageOpen) misuse("EndDocPrinter inside a page on " + printerName(handle));
    job->ended = ok;
    job->reached = ok || fakeDevice.failedEndReaches;
    lastEndUncertain = !ok && fakeDevice.failedEndReaches;
    p->rawJob = 0;
    p->rawPageOpen = false;
  }
  logCall("EndDocPrinter(" + printerName(handle) + ")=" + yesNo(ok));
  crashIfAsked("EndDocPrinter");
  return ok;
}

bool deviceAbortPrinter(PrinterHandle handle) {
  Printer* p = findPrinter(handle, "AbortPrinter");
  FakeRawJob* job = p != nullptr && !shouldFail("AbortPrinter") ? openRawJob(p, handle, "AbortPrinter") : nullptr;
  if (job != nullptr) {
    job->aborted = true;
    p->rawJob = 0;
    p->rawPageOpen = false;
  }
  logCall("AbortPrinter(" + printerName(handle) + ")=" + yesNo(job != nullptr));
  return job != nullptr;
}

std::uint32_t deviceLastError() { return lastErrorCode; }

DeviceContext deviceCreateDC(const char* name, const void* settings) {
  std::string how = name ? settingsName(name, settings) : "null";
  DeviceContext dc = nullptr;
  if (!shouldFail("CreateDC") && knownPrinter(name)) {
    int n = static_cast<int>(contexts.size()) + 1;
    Context c{};
    c.printer = name;
    c.alive = true;
    c.font = kStockFont;
    c.bkColor = 0xFFFFFF;
    c.bkMode = kOpaqueMode;
    c.fileMode = 0777;
    auto asked = recordCopies.find(settings);
    c.copies = asked != recordCopies.end() ? asked->second : 1;
    // The next record may lie at the same address.
    if (asked != recordCopies.end()) recordCopies.erase(asked);
    contexts[n] = c;
    dc = reinterpret_cast<DeviceContext>(kContextBase + n);
    ++fakeDevice.liveContexts;
  }
  logCall("CreateDC(" + quoted(name) + "," + how + ")=" + (dc ? contextName(dc) : "0"));
  return dc;
}

// The fake printer keeps its own paper, as a real one does.
bool deviceSetRollPaper(DeviceContext dc, int, int) {
  findContext(dc, "SetRollPaper");
  return false;
}

// The fake's pages have one shape: the call is recorded, the record left as
// DocumentProperties gave it.
bool deviceSetOrientation(void* settings, bool landscape) {
  const bool ok = settings != nullptr && !shouldFail("SetOrientation");
  logCall(format("SetOrientation(%s,%d)=%s", settings != nullptr ? "settings" : "null", landscape ? 1 : 0,
                 yesNo(ok).c_str()));
  return ok;
}

bool deviceSetCopies(const char* name, void* settings, int copies) {
  bool copying = name != nullptr && std::find(fakeDevice.copying.begin(), fakeDevice.copying.end(),
                                              std::string(name)) != fakeDevice.copying.end();
  const bool ok = settings != nullptr && copying && copies >= 1 && !shouldFail("SetCopies");
  if (ok) recordCopies[settings] = copies;
  logCall(format("SetCopies(%s,%s,%d)=%s", quoted(name).c_str(), settings != nullptr ? "settings" : "null", copies,
                 yesNo(ok).c_str()));
  return ok;
}

bool deviceSetDocumentFileMode(DeviceContext dc, unsigned mode) {
  Context* c = findContext(dc, "SetDocumentFileMode");
  bool ok = c != nullptr && !shouldFail("SetDocumentFileMode");
  if (ok) {
    if (c->documentOpen) misuse("SetDocumentFileMode while a document is open on " + contextName(dc));
    if (mode > 0777) misuse(format("SetDocumentFileMode with mode 0%o", mode));
    c->fileMode = mode;
  }
  logCall(format("SetDocumentFileMode(%s,0%03o)=%s", contextName(dc).c_str(), mode, yesNo(ok).c_str()));
  return ok;
}

int deviceStartDoc(DeviceContext dc, const char* documentName) {
  Context* c = findContext(dc, "StartDoc");
  int result = -1;
  if (c != nullptr && !shouldFail("StartDoc")) {
    if (c->documentOpen) {
      misuse("StartDoc while a document is open on " + contextName(dc));
    } else {
      fakeDevice.documents.push_back(
          FakeDocument{c->printer, documentName ? documentName : "", 0, false, false, c->fileMode});
      fakeDevice.documents.back().identity = takeIdentity();
      fakeDevice.documents.back().copies = c->copies;
      fakeDevice.documents.back().job = ++lastJob;
      fakeDevice.documents.back().submitted = static_cast<long long>(std::time(nullptr));
      c->documentOpen = true;
      c->document = static_cast<int>(fakeDevice.documents.size());
      c->page = 0;
      result = static_cast<int>(lastJob);
    }
  }
  logCall("StartDoc(" + contextName(dc) + "," + quoted(documentName) + ")=" + std::to_string(result));
  crashIfAsked("StartDoc");
  return result;
}

int deviceGetDeviceCaps(DeviceContext dc, int index) {
  Context* c = findContext(dc, "GetDeviceCaps");
  int result = 0;
  if (c != nullptr && !shouldFail("GetDeviceCaps")) {
    if (index == kDeviceLogPixelsY || index == kDeviceLogPixelsX) result = fakeDevice.dotsPerInch;
    if (index == kDeviceVertRes) result = fakeDevice.pageHeight;
    if (index == kDeviceHorzRes) result = fakeDevice.pageWidth;
    if (index == kDevicePhysicalOffsetX) result = fakeDevice.offsetX;
    if (index == kDevicePhysicalOffsetY) result = fakeDevice.offsetY;
  }
  logCall(format("GetDeviceCaps(%s,%d)=%d", contextName(dc).c_str(), index, result));
  return result;
}

FontHandle deviceCreateFontIndirect(const LogFont* lf) {
  FontHandle font = nullptr;
  std::string args = "null";
  if (lf != nullptr) {
    char face[33] = {};
    std::memcpy(face, lf->lfFaceName, 32);
    args = format("h=%d,w=%d,esc=%d,orient=%d,weight=%d,italic=%d,underline=%d,strikeout=%d,charset=%d,"
                  "out=%d,clip=%d,quality=%d,pitch=%d,face=%s",
                  lf->lfHeight, lf->lfWidth, lf->lfEscapement, lf->lfOrientation, lf->lfWeight, lf->lfItalic,
                  lf->lfUnderline, lf->lfStrikeOut, lf->lfCharSet, lf->lfOutPrecision, lf->lfClipPrecision,
                  lf->lfQuality, lf->lfPitchAndFamily, face);
    if (!shouldFail("CreateFontIndirect")) {
      int n = static_cast<int>(fonts.size()) + 1;
      fonts[n] = Font{*lf, true};
      font = fontHandle(n);
      ++fakeDevice.liveFonts;
    }
  } else {
    misuse("CreateFontIndirect without a LOGFONT");
  }
  logCall("CreateFontIndirect(" + args + ")=" + (font ? fontName(font) : "0"));
  return font;
}

FontHandle deviceSelectObject(DeviceContext dc, FontHandle font) {
  Context* c = findContext(dc, "SelectObject");
  FontHandle previous = nullptr;
  if (c != nullptr && !shouldFail("SelectObject")) {
    int n = handleNumber(font, kFontBase);
    if (n != kStockFont && (fonts.count(n) == 0 || !fonts[n].alive)) {
      misuse("SelectObject of " + fontName(font) + ", which is not a live font");
    } else {
      previous = fontHandle(c->font);
      c->font = n;
    }
  }
  logCall("SelectObject(" + contextName(dc) + "," + fontName(font) + ")=" + fontName(previous));
  return previous;
}

bool deviceGetTextMetrics(DeviceContext dc, TextMetrics* metrics) {
  Context* c = findContext(dc, "GetTextMetrics");
  bool ok = c != nullptr && metrics != nullptr && !shouldFail("GetTextMetrics");
  if (ok) {
    int h = fontHeight(c->font);
    int height = fakeDevice.cellHeight > 0 ? fakeDevice.cellHeight : (h < 0 ? -h : h);
    metrics->tmHeight = height;
    metrics->tmAscent = height * 4 / 5;
    metrics->tmDescent = height - metrics->tmAscent;
    metrics->tmExternalLeading = fakeDevice.externalLeading;
    int w = c->font == kStockFont ? 0 : fonts[c->font].logicalFont.lfWidth;
    metrics->tmAveCharWidth = w > 0 ? w : fakeDevice.charWidth;
    logCall(format("GetTextMetrics(%s)=1 height=%d external=%d", contextName(dc).c_str(), height,
                   fakeDevice.externalLeading));
  } else {
    logCall("GetTextMetrics(" + contextName(dc) + ")=0");
  }
  return ok;
}

// This starts the device context over: the stock font, default colours, no
// alignment, position (0, 0). Whoever draws next must set them again.
DeviceContext deviceResetDC(DeviceContext dc, const void* settings) {
  Context* c = findContext(dc, "ResetDC");
  DeviceContext result = nullptr;
  std::string how = c ? settingsName(c->printer, settings) : "null";
  if (c != nullptr && !shouldFail("ResetDC")) {
    if (c->pageOpen) misuse("ResetDC inside a page on " + contextName(dc));
    c->font = kStockFont;
    c->textColor = 0;
    c->bkColor = 0xFFFFFF;
    c->bkMode = kOpaqueMode;
    c->align = 0;
    c->x = c->y = 0;
    result = dc;
  }
  logCall("ResetDC(" + contextName(dc) + "," + how + ")=" + (result ? contextName(result) : "0"));
  return result;
}

std::uint32_t deviceSetTextColor(DeviceContext dc, std::uint32_t color) {
  Context* c = findContext(dc, "SetTextColor");
  std::uint32_t result = 0xFFFFFFFFu;
  if (c != nullptr && !shouldFail("SetTextColor")) {
    result = c->textColor;
    c->textColor = color;
  }
  logCall(format("SetTextColor(%s,0x%06X)=0x%06X", contextName(dc).c_str(), color, result));
  return result;
}

std::uint32_t deviceSetBkColor(DeviceContext dc, std::uint32_t color) {
  Context* c = findContext(dc, "SetBkColor");
  std::uint32_t result = 0xFFFFFFFFu;
  if (c != nullptr && !shouldFail("SetBkColor")) {
    result = c->bkColor;
    c->bkColor = color;
  }
  logCall(format("SetBkColor(%s,0x%06X)=0x%06X", contextName(dc).c_str(), color, result));
  return result;
}

int deviceSetBkMode(DeviceContext dc, int mode) {
  Context* c = findContext(dc, "SetBkMode");
  int result = 0;
  if (c != nullptr && !shouldFail("SetBkMode")) {
    result = c->bkMode;
    c->bkMode = mode;
  }
  logCall(format("SetBkMode(%s,%d)=%d", contextName(dc).c_str(), mode, result));
  return result;
}

int deviceStartPage(DeviceContext dc) {
  Context* c = findContext(dc, "StartPage");
  int result = -1;
  if (c != nullptr && !shouldFail("StartPage")) {
    if (!c->documentOpen || c->pageOpen) {
      misuse("StartPage on " + contextName(dc) + (c->pageOpen ? " inside a page" : " without a document"));
    } else {
      c->pageOpen = true;
      ++c->page;
      result = 1;
    }
  }
  logCall("StartPage(" + contextName(dc) + ")=" + std::to_string(result));
  return result;
}

std::uint32_t deviceSetTextAlign(DeviceContext dc, std::uint32_t align) {
  Context* c = findContext(dc, "SetTextAlign");
  std::uint32_t result = kDeviceAlignError;
  if (c != nullptr && !shouldFail("SetTextAlign")) {
    result = c->align;
    c->align = align;
  }
  logCall(format("SetTextAlign(%s,%u)=%d", contextName(dc).c_str(), align, static_cast<int>(result)));
  return result;
}

bool deviceMoveTo(DeviceContext dc, int x, int y) {
  Context* c = findContext(dc, "MoveToEx");
  bool ok = c != nullptr && !shouldFail("MoveToEx");
  if (ok) {
    c->x = x;
    c->y = y;
  }
  logCall(format("MoveToEx(%s,%d,%d)=%s", contextName(dc).c_str(), x, y, yesNo(ok).c_str()));
  return ok;
}

bool deviceTextOut(DeviceContext dc, int x, int y, const char* text, int count) {
  Context* c = findContext(dc, "TextOut");
  bool ok = c != nullptr && text != nullptr && count >= 0 && !shouldFail("TextOut");
  if (ok) {
    if (!c->pageOpen) misuse("TextOut outside a page on " + contextName(dc));
    bool update = (c->align & kDeviceTaUpdateCp) != 0;
    FakeText drawn{c->document,      c->pageOpen ? c->page : 0, update ? c->x : x, update ? c->y : y,
                   std::string(text, static_cast<std::size_t>(count)), false, fontFace(c->font),
                   fontHeight(c->font)};
    fakeDevice.texts.push_back(drawn);
    if (update) c->x += count * fakeDevice.charWidth;
  }
  logCall(format("TextOut(%s,%d,%d,%s,%d)=%s", contextName(dc).c_str(), x, y,
                 quoted(text, text ? count : 0).c_str(), count, yesNo(ok).c_str()));
  return ok;
}

bool deviceTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count) {
  Context* c = findContext(dc, "TextOutW");
  bool ok = c != nullptr && text != nullptr && count >= 0 && !shouldFail("TextOutW");
  std::string utf8 = text != nullptr && count > 0 ? utf8Of(text, count) : std::string();
  if (ok) {
    if (!c->pageOpen) misuse("TextOutW outside a page on " + contextName(dc));
    bool update = (c->align & kDeviceTaUpdateCp) != 0;
    FakeText drawn{c->document, c->pageOpen ? c->page : 0, update ? c->x : x, update ? c->y : y, utf8, true,
                   fontFace(c->font), fontHeight(c->font)};
    fakeDevice.texts.push_back(drawn);
    if (update) c->x += count * fakeDevice.charWidth;
  }
  logCall(format("TextOutW(%s,%d,%d,%s,%d)=%s", contextName(dc).c_str(), x, y,
                 text != nullptr ? quotedUtf8(utf8).c_str() : "null", count,
                 yesNo(ok).c_str()));
  return ok;
}

bool deviceExtTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx) {
  Context* c = findContext(dc, "ExtTextOutW");
  bool ok = c != nullptr && text != nullptr && count >= 0 && dx != nullptr && !shouldFail("ExtTextOutW");
  std::string utf8 = text != nullptr && count > 0 ? utf8Of(text, count) : std::string();
  if (ok) {
    if (!c->pageOpen) misuse("ExtTextOutW outside a page on " + contextName(dc));
    bool update = (c->align & kDeviceTaUpdateCp) != 0;
    FakeText drawn{c->document, c->pageOpen ? c->page : 0, update ? c->x : x, update ? c->y : y, utf8, true,
                   fontFace(c->font), fontHeight(c->font)};
    if (c->font != kStockFont) {
      const LogFont& lf = fonts[c->font].logicalFont;
      drawn.fontWidth = lf.lfWidth;
      drawn.weight = lf.lfWeight;
      drawn.italic = lf.lfItalic != 0;
      drawn.underline = lf.lfUnderline != 0;
    }
    drawn.advances.assign(dx, dx + count);
    fakeDevice.texts.push_back(drawn);
    if (update)
      for (int i = 0; i < count; ++i) c->x += dx[i];
  }
  logCall(format("ExtTextOutW(%s,%d,%d,%s,%d)=%s", contextName(dc).c_str(), x, y,
                 text != nullptr ? quotedUtf8(utf8).c_str() : "null", count, yesNo(ok).c_str()));
  return ok;
}

int deviceStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                            const void* bits) {
  Context* c = findContext(dc, "StretchDIBits");
  bool ok = c != nullptr && info != nullptr && bits != nullptr && info->width > 0 && info->height > 0 &&
            !shouldFail("StretchDIBits");
  int rows = 0;
  if (ok) {
    if (!c->pageOpen) misuse("StretchDIBits outside a page on " + contextName(dc));
    // Every byte of every row is read, as GDI would: a short buffer shows up
    // under the address sanitizer.
    std::size_t stride = (static_cast<std::size_t>(info->width) + 31) / 32 * 4;
    const unsigned char* row = static_cast<const unsigned char*>(bits);
    int inked = 0;
    for (int r = 0; r < info->height; ++r, row += stride)
      for (int i = 0; i < info->width; ++i)
        if (row[i / 8] & (0x80 >> (i % 8))) ++inked;
    fakeDevice.images.push_back(FakeImage{c->document, c->pageOpen ? c->page : 0, x, y, destWidth, destHeight,
                                          info->width, info->height, inked});
    rows = info->height;
  }
  logCall(format("StretchDIBits(%s,%d,%d,%d,%d,%dx%d)=%d", contextName(dc).c_str(), x, y, destWidth, destHeight,
                 info != nullptr ? info->width : 0, info != nullptr ? info->height : 0, rows));
  return rows;
}

int deviceStretchColorBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight,
                             const ColorBitmapInfo* info, const void* bits) {
  Context* c = findContext(dc, "StretchDIBits");
  bool ok = c != nullptr && info != nullptr && bits != nullptr && info->width > 0 && info->height > 0 &&
            !shouldFail("StretchDIBits");
  int rows = 0;
  if (ok) {
    if (!c->pageOpen) misuse("StretchDIBits outside a page on " + contextName(dc));
    // Every pixel is read, as GDI would.
    const unsigned char* pixel = static_cast<const unsigned char*>(bits);
    std::size_t count = static_cast<std::size_t>(info->width) * static_cast<std::size_t>(info->height);
    int inked = 0;
    for (std::size_t i = 0; i < count; ++i, pixel += 4)
      if (pixel[0] != 0xFF || pixel[1] != 0xFF || pixel[2] != 0xFF) ++inked;
    const unsigned char* first = static_cast<const unsigned char*>(bits);
    FakeImage image{c->document, c->pageOpen ? c->page : 0, x, y, destWidth, destHeight,
                    info->width, info->height, inked};
    image.colour = true;
    image.firstPixel = static_cast<std::uint32_t>(first[2]) << 16 | static_cast<std::uint32_t>(first[1]) << 8 | first[0];
    image.callIndex = fakeDevice.calls.size();
    fakeDevice.images.push_back(image);
    rows = info->height;
  }
  logCall(format("StretchDIBits(%s,%d,%d,%d,%d,%dx%d,colour)=%d", contextName(dc).c_str(), x, y, destWidth,
                 destHeight, info != nullptr ? info->width : 0, info != nullptr ? info->height : 0, rows));
  return rows;
}

bool deviceGetCurrentPosition(DeviceContext dc, int* x, int* y) {
  Context* c = findContext(dc, "GetCurrentPositionEx");
  bool ok = c != nullptr && !shouldFail("GetCurrentPositionEx");
  if (ok) {
    *x = c->x;
    *y = c->y;
    logCall(format("GetCurrentPositionEx(%s)=1 (%d,%d)", contextName(dc).c_str(), c->x, c->y));
  } else {
    logCall("GetCurrentPositionEx(" + contextName(dc) + ")=0");
  }
  return ok;
}

int deviceEndPage(DeviceContext dc) {
  Context* c = findContext(dc, "EndPage");
  int result = -1;
  if (c != nullptr && !shouldFail("EndPage")) {
    if (!c->pageOpen) {
      misuse("EndPage without a page on " + contextName(dc));
    } else {
      c->pageOpen = false;
      ++fakeDevice.documents[c->document - 1].pages;
      result = 1;
    }
  }
  logCall("EndPage(" + contextName(dc) + ")=" + std::to_string(result));
  crashIfAsked("EndPage");
  return result;
}

// A failed EndDoc leaves no document behind either: the job is simply not
// handed over.
int deviceEndDoc(DeviceContext dc) {
  Context* c = findContext(dc, "EndDoc");
  int result = -1;
  if (c != nullptr) {
    if (!c->documentOpen) {
      misuse("EndDoc without a document on " + contextName(dc));
    } else {
      FakeDocument& d = fakeDevice.documents[c->document - 1];
      bool failed = shouldFail("EndDoc");
      if (c->pageOpen && !failed) ++d.pages;
      c->pageOpen = false;
      c->documentOpen = false;
      d.ended = !failed;
      d.reached = !failed || fakeDevice.failedEndReaches;
      lastEndUncertain = failed && fakeDevice.failedEndReaches;
      result = failed ? -1 : 1;
    }
  }
  logCall("EndDoc(" + contextName(dc) + ")=" + std::to_string(result));
  crashIfAsked("EndDoc");
  return result;
}

// Pages of an abandoned document, the open one included, were never printed;
// the count stays as it was for the tests to see what was drawn.
int deviceAbortDoc(DeviceContext dc) {
  Context* c = findContext(dc, "AbortDoc");
  int result = -1;
  if (c != nullptr && !shouldFail("AbortDoc")) {
    if (!c->documentOpen) {
      misuse("AbortDoc without a document on " + contextName(dc));
    } else {
      c->pageOpen = false;
      c->documentOpen = false;
      fakeDevice.documents[c->document - 1].abandoned = true;
      result = 1;
    }
  }
  logCall("AbortDoc(" + contextName(dc) + ")=" + std::to_string(result));
  return result;
}

bool deviceDeleteDC(DeviceContext dc) {
  Context* c = findContext(dc, "DeleteDC");
  bool ok = c != nullptr && !shouldFail("DeleteDC");
  if (ok) {
    if (c->documentOpen) misuse("DeleteDC with the document still open on " + contextName(dc));
    c->alive = false;
    --fakeDevice.liveContexts;
  }
  logCall("DeleteDC(" + contextName(dc) + ")=" + yesNo(ok));
  return ok;
}

bool deviceDeleteObject(FontHandle font) {
  int n = handleNumber(font, kFontBase);
  bool ok = false;
  if (n == kStockFont || fonts.count(n) == 0 || !fonts[n].alive) {
    misuse("DeleteObject of " + fontName(font) + ", which is not a live font of ours");
  } else if (!shouldFail("DeleteObject")) {
    for (auto& entry : contexts)
      if (entry.second.alive && entry.second.font == n) misuse("DeleteObject of " + fontName(font) + " while selected");
    fonts[n].alive = false;
    --fakeDevice.liveFonts;
    ok = true;
  }
  logCall("DeleteObject(" + fontName(font) + ")=" + yesNo(ok));
  return ok;
}

bool deviceSetDocumentName(DeviceContext dc, const char* name) {
  findContext(dc, "SetDocumentName");
  logCall("SetDocumentName(" + contextName(dc) + "," + quoted(name) + ")");
  return true;
}

void deviceSetPdfFile(const char* path) { logCall("SetPdfFile(" + quoted(path) + ")"); }

void deviceSetNextDocumentIdentity(const char* identity) {
  nextIdentity = identity != nullptr ? identity : "";
}

bool deviceLastHandOverUncertain() { return lastEndUncertain; }

DeviceFinding deviceFindDocument(const char* printerName, const char* identity, std::int64_t) {
  DeviceFinding finding = kDeviceDocumentNotFound;
  std::string wanted = identity != nullptr ? identity : "";
  for (const FakeDocument& d : fakeDevice.documents)
    if (d.reached && !wanted.empty() && d.identity == wanted) finding = kDeviceDocumentFinished;
  for (const FakeRawJob& j : fakeDevice.rawJobs)
    if (j.reached && !wanted.empty() && j.identity == wanted) finding = kDeviceDocumentFinished;
  if (finding == kDeviceDocumentFinished && fakeDevice.jobsPending) finding = kDeviceDocumentFound;
  for (const std::string& lost : fakeDevice.lostIdentities)
    if (lost == wanted) finding = kDeviceDocumentNotFound;
  // Its jobs are finished at once and forgotten.
  if (fakeDevice.noHistory || fakeDevice.forgetsPrinted) finding = kDeviceCannotSay;
  if (fakeDevice.noAnswer) finding = kDeviceNoAnswer;
  logCall("FindDocument(" + quoted(printerName) + "," + quoted(identity) + ")=" + std::to_string(finding));
  return finding;
}

void deviceRemoveLeftovers() { logCall("RemoveLeftovers()"); }

bool deviceConfirmsDelivery(const char*) { return fakeDevice.confirmsDelivery; }

bool deviceFindsPrintedDocuments(const char*) { return !fakeDevice.forgetsPrinted; }

namespace {

// The spooler's view of a job begun on the printer: its name, when it was
// submitted, whether its document is still being spooled; nullptr for a
// job it does not have (never begun, deleted, or forgotten).
struct SpooledJob {
  std::string name;
  long long submitted;
  bool spooling;
  bool* deleted;
};

bool findSpooledJob(const std::string& printer, std::uint32_t job, SpooledJob* found) {
  if (fakeDevice.forgetsHanded) return false;
  for (FakeDocument& d : fakeDevice.documents)
    if (d.job == job && d.printer == printer && !d.abandoned) {
      *found = SpooledJob{d.name, d.submitted, !d.ended, &d.abandoned};
      return true;
    }
  for (FakeRawJob& j : fakeDevice.rawJobs)
    if (j.job == job && j.printer == printer && !j.aborted) {
      *found = SpooledJob{j.name, j.submitted, !j.ended, &j.aborted};
      return true;
    }
  return false;
}

// The last error of a GetJob that finds no job: ERROR_INVALID_PARAMETER on
// Windows, none under Wine.
std::uint32_t noSuchJobError() { return fakeDevice.forgetsHanded ? 0 : kDeviceErrorInvalidParameter; }

}  // namespace

bool deviceGetJob(PrinterHandle handle, std::uint32_t job, DeviceJobInfo* info) {
  Printer* p = findPrinter(handle, "GetJob");
  if (!fakeDevice.forgetsPrinted) misuse("GetJob asked of a printer that finds printed documents");
  SpooledJob found;
  bool ok = p != nullptr && !shouldFail("GetJob");
  if (ok && !findSpooledJob(p->name, job, &found)) {
    ok = false;
    lastErrorCode = noSuchJobError();
  }
  if (ok) {
    std::memset(info->document, 0, sizeof info->document);
    std::strncpy(info->document, found.name.c_str(), sizeof info->document - 1);
    info->status = found.spooling ? kDeviceJobStatusSpooling : 0;
    info->submitted = found.submitted;
  }
  logCall(format("GetJob(%s,%u)=%s", printerName(handle).c_str(), job, yesNo(ok).c_str()) +
          (ok ? format(" status=0x%X", info->status) : format(" error=%u", lastErrorCode)));
  return ok;
}

bool deviceSetJob(PrinterHandle handle, std::uint32_t job, std::uint32_t command) {
  Printer* p = findPrinter(handle, "SetJob");
  SpooledJob found;
  bool ok = p != nullptr && !shouldFail("SetJob");
  if (ok && (command != kDeviceJobControlDelete || !findSpooledJob(p->name, job, &found))) {
    ok = false;
    lastErrorCode = kDeviceErrorInvalidParameter;
  }
  if (ok) *found.deleted = true;
  logCall(format("SetJob(%s,%u,%u)=%s", printerName(handle).c_str(), job, command, yesNo(ok).c_str()));
  return ok;
}
