// Placeholder until the device lands.
#include "print/device.h"

bool deviceOpenPrinter(const char*, PrinterHandle*) { return false; }
std::int32_t deviceDocumentProperties(PrinterHandle, const char*, void*, int) { return 0; }
bool deviceClosePrinter(PrinterHandle) { return true; }
DeviceContext deviceCreateDC(const char*, const void*) { return nullptr; }
int deviceStartDoc(DeviceContext, const char*) { return 0; }
int deviceGetDeviceCaps(DeviceContext, int) { return 0; }
FontHandle deviceCreateFontIndirect(const LogFont*) { return nullptr; }
FontHandle deviceSelectObject(DeviceContext, FontHandle) { return nullptr; }
bool deviceGetTextMetrics(DeviceContext, TextMetrics*) { return false; }
DeviceContext deviceResetDC(DeviceContext, const void*) { return nullptr; }
std::uint32_t deviceSetTextColor(DeviceContext, std::uint32_t) { return 0; }
std::uint32_t deviceSetBkColor(DeviceContext, std::uint32_t) { return 0; }
int deviceSetBkMode(DeviceContext, int) { return 0; }
int deviceStartPage(DeviceContext) { return 0; }
std::uint32_t deviceSetTextAlign(DeviceContext, std::uint32_t) { return DEVICE_ALIGN_ERROR; }
bool deviceMoveTo(DeviceContext, int, int) { return false; }
bool deviceTextOut(DeviceContext, int, int, const char*, int) { return false; }
bool deviceGetCurrentPosition(DeviceContext, int*, int*) { return false; }
int deviceEndPage(DeviceContext) { return 0; }
int deviceEndDoc(DeviceContext) { return 0; }
bool deviceDeleteDC(DeviceContext) { return false; }
bool deviceDeleteObject(FontHandle) { return false; }
