// The console on Windows: standard output through WriteFile, screen text
// written cell by cell into the console screen buffer, keys from CONIN$ in
// raw mode.
#include "console/console.h"
#include "console/console_platform.h"

#include <windows.h>

#include "platform/system.h"

namespace {

HANDLE outputHandle = INVALID_HANDLE_VALUE;
HANDLE screenHandle = INVALID_HANDLE_VALUE;
HANDLE keyboardHandle = INVALID_HANDLE_VALUE;
bool scrollPending = false;

const WORD kCellAttribute = 0x07;

// How long closing the window, logging off or shutting down waits for the
// printout in hand: Windows ends a process about five seconds after it was
// told, whatever it is doing.
const unsigned kSessionEndWaitMilliseconds = 4500;

// The window closed, the user logging off, Windows shutting down: the
// printout in hand is finished (handed over and deleted, or queued) before
// ferrin ends, as X does, so that it is neither lost nor printed again.
[[noreturn]] void endWithSession() {
  stopWork(kSessionEndWaitMilliseconds);
  endProcess(0);
}

BOOL WINAPI handleControlEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: case CTRL_BREAK_EVENT:
      return TRUE;  // Ctrl+C and Ctrl+Break never end ferrin
    case CTRL_CLOSE_EVENT: case CTRL_LOGOFF_EVENT: case CTRL_SHUTDOWN_EVENT:
      endWithSession();
    default:
      return FALSE;
  }
}

// A program that uses GDI is told of log-off and shut-down through its
// windows rather than the console: a hidden window on a thread of its own
// hears them.
LRESULT CALLBACK sessionWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION && wParam) endWithSession();
  return DefWindowProcA(window, message, wParam, lParam);
}

void runSessionWindow(int) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = sessionWindowProcedure;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "ferrin session";
  if (!RegisterClassA(&windowClass)) return;
  if (!CreateWindowA(windowClass.lpszClassName, "ferrin", 0, 0, 0, 0, 0, NULL, NULL, windowClass.hInstance, NULL))
    return;
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
}

bool isConsole(HANDLE handle) {
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && handle != NULL && GetConsoleMode(handle, &mode);
}

void scrollUpOneRow(const CONSOLE_SCREEN_BUFFER_INFO& info) {
  SMALL_RECT rect = {0, 1, static_cast<SHORT>(info.dwSize.X - 1), static_cast<SHORT>(info.dwSize.Y - 1)};
  COORD destination = {0, 0};
  CHAR_INFO fill;
  fill.Char.AsciiChar = ' ';
  fill.Attributes = kCellAttribute;
  ScrollConsoleScreenBufferA(screenHandle, &rect, NULL, destination, &fill);
}

bool isModifierKey(WORD virtualKey) {
  switch (virtualKey) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
      return true;
    default:
      return false;
  }
}

}  // namespace

void consoleStartup(int, char**) {
  outputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  keyboardHandle = CreateFileA("CONIN$", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (keyboardHandle == INVALID_HANDLE_VALUE)
    keyboardHandle = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);

  // The screen is standard output when that is the console, else standard
  // error; when both are redirected, the console's own screen buffer.
  if (isConsole(outputHandle)) screenHandle = outputHandle;
  else if (isConsole(GetStdHandle(STD_ERROR_HANDLE))) screenHandle = GetStdHandle(STD_ERROR_HANDLE);
  else
    screenHandle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
  SetConsoleMode(screenHandle, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  SetConsoleMode(keyboardHandle, 0);
  SetConsoleCtrlHandler(handleControlEvent, TRUE);
  startThread(runSessionWindow, 0);

  CONSOLE_CURSOR_INFO cursor;
  if (GetConsoleCursorInfo(screenHandle, &cursor) && cursor.dwSize == 0) {
    cursor.dwSize = 10;
    cursor.bVisible = TRUE;
    SetConsoleCursorInfo(screenHandle, &cursor);
  }
}

void endProcess(int code) {
  if (keyboardHandle != INVALID_HANDLE_VALUE) CloseHandle(keyboardHandle);
  ExitProcess(static_cast<UINT>(code));
}

void writeOutputLine(const std::string& text) {
  if (capturedOutputLine(text)) return;
  DWORD written;
  if (!text.empty()) {
    LockGuard lock(FileSystemLock);
    WriteFile(outputHandle, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  }
  LockGuard lock(FileSystemLock);
  WriteFile(outputHandle, "\r\n", 2, &written, NULL);
}

void writeScreenText(const std::string& text) {
  if (capturedScreenText(text)) return;
  LockGuard lock(ScreenLock);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screenHandle, &info)) return;
  SHORT width = info.dwSize.X;
  SHORT lastRow = static_cast<SHORT>(info.dwSize.Y - 1);
  SHORT x = info.dwCursorPosition.X;
  SHORT y = info.dwCursorPosition.Y;
  CHAR_INFO cells[255];
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (scrollPending) {
      scrollUpOneRow(info);
      scrollPending = false;
    }
    std::size_t n = text.size() - pos;
    if (n > static_cast<std::size_t>(width - x)) n = static_cast<std::size_t>(width - x);
    if (n > 255) n = 255;
    for (std::size_t i = 0; i < n; ++i) {
      cells[i].Char.AsciiChar = text[pos + i];
      cells[i].Attributes = kCellAttribute;
    }
    COORD size = {static_cast<SHORT>(n), 1};
    COORD origin = {0, 0};
    SMALL_RECT region = {x, y, static_cast<SHORT>(x + n - 1), y};
    WriteConsoleOutputA(screenHandle, cells, size, origin, &region);
    pos += n;
    x = static_cast<SHORT>(x + n);
    if (x >= width) {
      x = 0;
      if (y < lastRow) ++y;
      else scrollPending = true;
    }
  }
  COORD cursor = {x, y};
  SetConsoleCursorPosition(screenHandle, cursor);
}

void endScreenLine() {
  if (capturedScreenText("\n")) return;
  LockGuard lock(ScreenLock);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screenHandle, &info)) return;
  SHORT lastRow = static_cast<SHORT>(info.dwSize.Y - 1);
  SHORT y = info.dwCursorPosition.Y;
  if (scrollPending) {
    scrollUpOneRow(info);
    scrollPending = false;
    if (y < lastRow) ++y;
    else scrollUpOneRow(info);
  } else if (y < lastRow) {
    ++y;
  } else {
    scrollUpOneRow(info);
  }
  COORD cursor = {0, y};
  SetConsoleCursorPosition(screenHandle, cursor);
}

void eraseLastScreenCell() {
  LockGuard lock(ScreenLock);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screenHandle, &info)) return;
  COORD at = info.dwCursorPosition;
  if (at.X > 0) {
    --at.X;
  } else if (at.Y > 0) {
    at.X = static_cast<SHORT>(info.dwSize.X - 1);
    --at.Y;
  } else {
    return;
  }
  CHAR_INFO blank;
  blank.Char.AsciiChar = ' ';
  blank.Attributes = kCellAttribute;
  COORD size = {1, 1};
  COORD origin = {0, 0};
  SMALL_RECT region = {at.X, at.Y, at.X, at.Y};
  WriteConsoleOutputA(screenHandle, &blank, size, origin, &region);
  SetConsoleCursorPosition(screenHandle, at);
}

std::string readKey() {
  for (;;) {
    // The console's input handle is signalled while input waits: an idle
    // ferrin sleeps here until a key comes, instead of looking a thousand
    // times a second (under Wine each look costs a round trip to the
    // console). Nothing else needs this thread: the window's close, log-off
    // and shut-down are heard on threads of their own. A handle that cannot
    // be waited on is looked at every millisecond.
    if (WaitForSingleObject(keyboardHandle, INFINITE) == WAIT_FAILED) Sleep(1);
    INPUT_RECORD record;
    DWORD count = 0;
    if (!PeekConsoleInputA(keyboardHandle, &record, 1, &count) || count == 0) continue;
    if (!ReadConsoleInputA(keyboardHandle, &record, 1, &count) || count == 0) continue;
    if (record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || isModifierKey(key.wVirtualKeyCode)) continue;
    bool alt = (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    char c = key.uChar.AsciiChar;
    if (c != 0 && !alt) return std::string(1, c);
    return std::string(1, '\0') + static_cast<char>(key.wVirtualScanCode);
  }
}

std::string waitKey() { return readKey(); }

std::string platformCommandLine() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

std::string currentDirectory() {
  char buffer[260];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}
