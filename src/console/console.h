// The console: standard-output lines, screen text, keys and typed lines.
// console_win32.cpp and console_posix.cpp implement the platform half;
// lineedit.cpp holds the line editor on top of it for both.
#pragma once

#include <string>

// Restores the console (terminal modes) and ends the process with `code`,
// cutting off every other thread wherever it stands.
[[noreturn]] void endProcess(int code);

// Lets no new printout begin and waits until the one in hand has ended, at
// most the given time, saying why ferrin has not ended yet once the wait is
// long. True when nothing was left in hand.
bool stopWork(unsigned timeoutMilliseconds);

// Sets up the console before the main procedure runs. argv is kept for
// commandLineText() on platforms that have no command-line call.
void consoleStartup(int argc, char** argv);

// Standard output: the text's bytes (nothing when empty), then CR LF, as two
// separate writes, each under the process-wide file-system lock.
void writeOutputLine(const std::string& text);

// Screen text at the cursor, every byte shown as its code page 437 glyph.
void writeScreenText(const std::string& text);

// Moves the screen cursor to column 0 of the next row.
void endScreenLine();

// The next key press: one character, or NUL and the PC scan code for keys
// without a character. Never empty.
std::string waitKey();

// Shows the prompt, reads one edited line and returns its first field.
std::string inputLine(const std::string& prompt);

// Sends standard-output lines (each followed by a line end) and screen text
// into the given strings instead of the console, for tests; nullptr for both
// ends it. The strings are written under the console's own locks.
void captureConsole(std::string* output, std::string* screen);

// The command line without the program's name.
std::string commandLineText();

// The working directory's full path.
std::string currentDirectory();
