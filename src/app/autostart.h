// ferrin --autostart on|off: ferrin started with the user's session, in the
// folder the switch is given in. autostart_win32.cpp keeps a shortcut in the
// user's Startup folder, autostart_posix.cpp a systemd user unit; the switch
// itself is read in autostart.cpp.
#pragma once

#include <string>

// What turning autostart on or off did: the exit code (0 when autostart is
// now as asked) and one line that says what was done, or why it was not.
struct AutostartResult {
  int code;
  std::string message;
};

// Makes ferrin start minimized (on POSIX: headless, as a user service) in
// `folder` with each session, or no longer. Another folder's autostart is
// left alone.
AutostartResult setAutostart(bool on, const std::string& folder);

// Handles "--autostart on|off" when it is the first argument: does it, writes
// its one line (to standard output when it worked, to standard error when
// not) and returns true with the exit code in *code. False for every other
// command line. Like --help, it runs before the console is set up and starts
// no watcher.
bool answerAutostartArgument(int argc, char** argv, int* code);
