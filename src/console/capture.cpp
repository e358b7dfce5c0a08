#include "console/console.h"
#include "console/console_platform.h"
#include "platform/system.h"

ProcessLock ScreenLock;

namespace {

std::string* outputCapture = nullptr;
std::string* screenCapture = nullptr;

}  // namespace

void captureConsole(std::string* output, std::string* screen) {
  LockGuard outputLock(FileSystemLock);
  LockGuard screenLock(ScreenLock);
  outputCapture = output;
  screenCapture = screen;
}

bool capturedOutputLine(const std::string& text) {
  LockGuard lock(FileSystemLock);
  if (outputCapture == nullptr) return false;
  *outputCapture += text + "\n";
  return true;
}

bool capturedScreenText(const std::string& text) {
  LockGuard lock(ScreenLock);
  if (screenCapture == nullptr) return false;
  *screenCapture += text;
  return true;
}
