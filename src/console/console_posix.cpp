// The console on a POSIX terminal. Standard-output lines go to standard
// output; screen text, prompts and keys use the controlling terminal, so
// standard output can be redirected while the screen keeps working. Without a
// controlling terminal ferrin runs headless: screen text goes to standard
// error and no key is ever read.
#include "console/console.h"
#include "console/console_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "console/cp437.h"
#include "platform/system.h"

namespace {

int terminalFd = -1;
bool terminalRaw = false;
struct termios savedModes;
int screenColumn = 0;  // our idea of the terminal cursor's column
bool outputIsTerminal = false;
std::vector<std::string> arguments;

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // output failures are not reported
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void writeTerminal(const std::string& bytes) {
  writeAll(terminalFd >= 0 ? terminalFd : STDERR_FILENO, bytes.data(), bytes.size());
}

void restoreTerminal() {
  if (terminalRaw) {
    tcsetattr(terminalFd, TCSAFLUSH, &savedModes);
    terminalRaw = false;
  }
}

// SIGTERM, SIGINT and SIGHUP are blocked in every thread and taken here, so
// that ending ferrin can wait for a printout in hand like X does.
void* endSignalThread(void* raw) {
  sigset_t* signals = static_cast<sigset_t*>(raw);
  int received = 0;
  while (sigwait(signals, &received) != 0) {
  }
  stopWork(kStopWaitMilliseconds);
  endProcess(0);
}

void onCrashSignal(int sig) {
  if (terminalRaw) tcsetattr(terminalFd, TCSAFLUSH, &savedModes);
  // Nothing to do if these fail: the process is going down either way.
  (void)signal(sig, SIG_DFL);
  (void)raise(sig);
}

int terminalWidth() {
  struct winsize ws;
  if (terminalFd >= 0 && ioctl(terminalFd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// One byte from the terminal, waiting at most timeoutMs (-1: for ever).
int readTerminalByte(int timeoutMs) {
  for (;;) {
    struct pollfd pfd = {terminalFd, POLLIN, 0};
    int r = poll(&pfd, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    unsigned char c;
    ssize_t n = read(terminalFd, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (n < 0 && errno != EAGAIN)) {
      // The terminal went away: nothing more can be typed.
      for (;;) pause(1000);
    }
  }
}

std::string scanKey(unsigned char scanCode) { return std::string(1, '\0') + static_cast<char>(scanCode); }

// PC keyboard scan codes of letters and digits, for Alt combinations.
unsigned char letterScanCode(int c) {
  static const unsigned char letters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                            0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                            0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  if (c >= 'a' && c <= 'z') return letters[c - 'a'];
  if (c >= 'A' && c <= 'Z') return letters[c - 'A'];
  if (c >= '1' && c <= '9') return static_cast<unsigned char>(0x02 + (c - '1'));
  if (c == '0') return 0x0B;
  return 0;
}

// The scan code of an escape sequence's key, 0 for one we do not know.
unsigned char sequenceScanCode(const std::string& params, int final) {
  switch (final) {
    case 'A': return 0x48;  // Up
    case 'B': return 0x50;  // Down
    case 'C': return 0x4D;  // Right
    case 'D': return 0x4B;  // Left
    case 'H': return 0x47;  // Home
    case 'F': return 0x4F;  // End
    case 'P': return 0x3B;  // F1 to F4 as SS3 or CSI 1;m P
    case 'Q': return 0x3C;
    case 'R': return 0x3D;
    case 'S': return 0x3E;
    case 'E': return 0x4C;  // keypad 5
    case 'Z': return 0x0F;  // Shift+Tab
    default: break;
  }
  if (final != '~') return 0;
  int n = static_cast<int>(std::strtol(params.c_str(), nullptr, 10));
  switch (n) {
    case 1: case 7: return 0x47;
    case 2: return 0x52;
    case 3: return 0x53;
    case 4: case 8: return 0x4F;
    case 5: return 0x49;
    case 6: return 0x51;
    case 11: return 0x3B;
    case 12: return 0x3C;
    case 13: return 0x3D;
    case 14: return 0x3E;
    case 15: return 0x3F;
    case 17: return 0x40;
    case 18: return 0x41;
    case 19: return 0x42;
    case 20: return 0x43;
    case 21: return 0x44;
    case 23: return 0x85;
    case 24: return 0x86;
    default: return 0;
  }
}

// One key from the terminal bytes; empty for bytes that make no key.
std::string decodeKey(int first) {
  if (first == 0x1B) {
    int next = readTerminalByte(30);
    if (next < 0) return std::string(1, '\x1b');  // Esc alone
    if (next == '[' || next == 'O') {
      std::string params;
      int c;
      while ((c = readTerminalByte(30)) >= 0 && (c < 0x40 || c > 0x7E)) {
        if (params.size() < 32) params += static_cast<char>(c);
      }
      if (c < 0) return std::string();
      unsigned char scan = sequenceScanCode(params, c);
      return scan ? scanKey(scan) : std::string();
    }
    unsigned char scan = letterScanCode(next);  // Alt with a letter or digit
    return scan ? scanKey(scan) : std::string();
  }
  if (first == 0x7F) return std::string(1, '\b');  // the terminal's Backspace
  if (first == 0) return scanKey(0x03);             // Ctrl+@
  if (first >= 0xC0) {
    // A UTF-8 character: shown to ferrin as its code page 437 byte, if any.
    int extra = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : 1;
    std::uint32_t cp = static_cast<std::uint32_t>(first) & (0x3Fu >> extra);
    for (int i = 0; i < extra; ++i) {
      int c = readTerminalByte(30);
      if (c < 0 || (c & 0xC0) != 0x80) return std::string();
      cp = (cp << 6) | (static_cast<std::uint32_t>(c) & 0x3F);
    }
    int b = cp437FromCodePoint(cp);
    return b >= 0 ? std::string(1, static_cast<char>(b)) : std::string();
  }
  if (first >= 0x80) return std::string();  // a stray continuation byte
  return std::string(1, static_cast<char>(first));
}

}  // namespace

void consoleStartup(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) arguments.push_back(argv[i]);
  outputIsTerminal = isatty(STDOUT_FILENO) != 0;

  terminalFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminalFd >= 0 && tcgetattr(terminalFd, &savedModes) == 0) {
    struct termios raw = savedModes;
    // No line editing, echo or signal keys: Ctrl+C arrives as the byte 3.
    raw.c_iflag &= static_cast<tcflag_t>(~(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON));
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(terminalFd, TCSAFLUSH, &raw) == 0) terminalRaw = true;
  } else if (terminalFd >= 0) {
    close(terminalFd);
    terminalFd = -1;
  }

  // Blocked before any other thread starts, so every thread inherits the mask.
  static sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
  pthread_t signalThread;
  if (pthread_create(&signalThread, nullptr, endSignalThread, &endSignals) == 0) pthread_detach(signalThread);

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = onCrashSignal;
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
  sigaction(SIGABRT, &sa, nullptr);
  sigaction(SIGFPE, &sa, nullptr);
  (void)signal(SIGPIPE, SIG_IGN);  // cannot fail for a valid signal
}

void endProcess(int code) {
  restoreTerminal();
  _exit(code);
}

void writeOutputLine(const std::string& text) {
  if (capturedOutputLine(text)) return;
  if (!text.empty()) {
    LockGuard lock(FileSystemLock);
    writeAll(STDOUT_FILENO, text.data(), text.size());
  }
  {
    LockGuard lock(FileSystemLock);
    writeAll(STDOUT_FILENO, "\r\n", 2);
  }
  if (outputIsTerminal) {
    LockGuard lock(ScreenLock);
    screenColumn = 0;
  }
}

void writeScreenText(const std::string& text) {
  if (capturedScreenText(text)) return;
  LockGuard lock(ScreenLock);
  if (terminalFd < 0) {
    writeTerminal(cp437ToUtf8(text));
    return;
  }
  int width = terminalWidth();
  if (screenColumn >= width) screenColumn = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t room = static_cast<std::size_t>(width - screenColumn);
    std::size_t n = text.size() - pos < room ? text.size() - pos : room;
    std::string chunk = cp437ToUtf8(text.substr(pos, n));
    pos += n;
    screenColumn += static_cast<int>(n);
    if (screenColumn >= width) {
      // The row is full: the next cell is column 0 of the next row.
      chunk += "\r\n";
      screenColumn = 0;
    }
    writeTerminal(chunk);
  }
}

void endScreenLine() {
  if (capturedScreenText("\n")) return;
  LockGuard lock(ScreenLock);
  writeTerminal(terminalFd >= 0 ? "\r\n" : "\n");
  screenColumn = 0;
}

void eraseLastScreenCell() {
  LockGuard lock(ScreenLock);
  if (terminalFd < 0) return;
  if (screenColumn > 0) {
    writeTerminal("\b \b");
    --screenColumn;
    return;
  }
  // From column 0 back to the last column of the row above.
  std::string width = std::to_string(terminalWidth());
  writeTerminal("\x1b[A\x1b[" + width + "G \x1b[" + width + "G");
  screenColumn = terminalWidth() - 1;
}

std::string readKey() {
  if (terminalFd < 0) {
    for (;;) pause(1000);  // headless: no key ever comes
  }
  for (;;) {
    int c = readTerminalByte(-1);
    if (c < 0) continue;
    std::string key = decodeKey(c);
    if (!key.empty()) return key;
  }
}

std::string waitKey() { return readKey(); }

std::string platformCommandLine() {
  std::string line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    if (i == 0 && arguments[i].find_first_of(" \t") != std::string::npos) line += '"' + arguments[i] + '"';
    else line += arguments[i];
  }
  return line;
}

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (!getcwd(buffer.data(), buffer.size())) return std::string();
  return std::string(buffer.data());
}
