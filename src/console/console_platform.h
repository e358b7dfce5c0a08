// The platform half of the console that only the console's own code uses:
// console_win32.cpp and console_posix.cpp implement it for lineedit.cpp.
#pragma once

#include <string>

#include "platform/system.h"

// One screen text plus its line end.
extern ProcessLock ScreenLock;

// The next key as waitKey gives it.
std::string readKey();
// One cell back with a blank written there (Backspace).
void eraseLastScreenCell();

// What captureConsole asked for: true when the text went into a capture
// (and so must not reach the console).
bool capturedOutputLine(const std::string& text);
bool capturedScreenText(const std::string& text);

// The raw command line, program name included.
std::string platformCommandLine();
