// Autostart on POSIX: the systemd user unit for the folder, enabled and
// started with "systemctl --user". A folder below the home folder is served
// by the template user unit ferrin@.service that the Debian package ships
// (the instance is the folder below the home folder, escaped as
// "systemd-escape --path" does it), when that template is installed; any
// other folder gets a unit of its own, ferrin-<escaped folder>.service,
// written into the user's unit folder ($XDG_CONFIG_HOME/systemd/user, by
// default ~/.config/systemd/user) and removed again by "off".
#include "app/autostart.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

const char* const kTemplateUnit = "ferrin@.service";

// The folders systemd looks in for user units that a package or an
// administrator installs.
const char* const kSystemUnitFolders[] = {"/etc/systemd/user", "/usr/local/lib/systemd/user", "/usr/lib/systemd/user",
                                          "/lib/systemd/user"};

bool isFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* user = getpwuid(getuid());
  return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// Where the user's own units go, as systemd finds them.
std::string userUnitFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config != nullptr && config[0] == '/' ? std::string(config) : homeFolder() + "/.config";
  return base + "/systemd/user";
}

std::string canonical(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// A path as "systemd-escape --path" writes it: no slash at either end, each
// inner slash a "-", letters, digits, ":", "_" and (but for a leading one)
// "." as they are, every other byte as \xNN.
std::string escapeUnitPath(const std::string& path) {
  std::string out;
  std::string::size_type begin = path.find_first_not_of('/');
  if (begin == std::string::npos) return "-";
  std::string::size_type end = path.find_last_not_of('/') + 1;
  bool slash = false;
  for (std::string::size_type i = begin; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '/') {
      slash = true;
      continue;
    }
    if (slash) out += '-';
    slash = false;
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
                 c == '_' || (c == '.' && !out.empty());
    if (plain) {
      out += static_cast<char>(c);
    } else {
      const char* const digits = "0123456789abcdef";
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 0xF];
    }
  }
  return out;
}

// A unit file's value with its specifiers kept literal.
std::string unitText(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

// A program's path as one quoted word of ExecStart=.
std::string commandWord(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return unitText(out + "\"");
}

std::string ownProgram() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string("/usr/bin/ferrin");
}

// The unit of its own for a folder that the template cannot serve; its
// service settings are the template's.
std::string ownUnitText(const std::string& folder) {
  return "# Written by \"ferrin --autostart on\" in " + folder +
         ": ferrin in the user's session\n"
         "# for that folder. \"ferrin --autostart off\" there disables and removes it.\n"
         "[Unit]\n"
         "Description=ferrin, printing for DOS programs from " + unitText(folder) + "\n"
         "Documentation=man:ferrin(1)\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "WorkingDirectory=" + unitText(folder) + "\n"
         "ExecStart=" + commandWord(ownProgram()) + "\n"
         "StandardInput=null\n"
         "StandardOutput=journal\n"
         "StandardError=journal\n"
         "Restart=on-failure\n"
         "RestartSec=5s\n"
         "KillSignal=SIGTERM\n"
         "TimeoutStopSec=90s\n"
         "UMask=0077\n"
         "NoNewPrivileges=yes\n"
         "LockPersonality=yes\n"
         "RestrictRealtime=yes\n"
         "RestrictSUIDSGID=yes\n"
         "\n"
         "[Install]\n"
         "WantedBy=default.target\n";
}

// Written aside and renamed into place, so that systemd never reads half a unit.
bool writeFile(const std::string& path, const std::string& text, std::string* why) {
  std::string aside = path + ".new";
  std::FILE* file = std::fopen(aside.c_str(), "w");
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && std::fclose(file) != 0) written = false;
  if (written && std::rename(aside.c_str(), path.c_str()) == 0) return true;
  *why = std::strerror(errno);
  (void)std::remove(aside.c_str());
  return false;
}

bool makeFolders(const std::string& path, std::string* why) {
  for (std::string::size_type at = path.find('/', 1);; at = path.find('/', at + 1)) {
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      *why = part + ": " + std::strerror(errno);
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

struct Run {
  bool started;
  int status;          // the exit status, -1 when it did not end normally
  std::string output;  // standard output and error together
};

// Runs "systemctl --user <verb> [<option>] [<unit>]" with standard input
// empty and both outputs collected.
Run runSystemctl(const char* verb, const char* option, const std::string& unit) {
  Run run{false, -1, std::string()};
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    run.output = std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  std::vector<std::string> words = {"systemctl", "--user", verb};
  if (option != nullptr) words.push_back(option);
  if (!unit.empty()) words.push_back(unit);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  pid_t child = 0;
  int spawned = posix_spawnp(&child, "systemctl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    run.output = std::string("systemctl: ") + std::strerror(spawned);
    return run;
  }
  run.started = true;
  char buffer[512];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) run.output.append(buffer, static_cast<std::size_t>(n));
    else if (errno != EINTR) break;
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The last line systemctl said: its reason when a step failed.
std::string lastLine(const std::string& output) {
  std::string::size_type end = output.find_last_not_of("\r\n ");
  if (end == std::string::npos) return "systemctl said nothing";
  std::string::size_type begin = output.rfind('\n', end);
  return output.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

bool isEnabled(const std::string& unit) {
  Run run = runSystemctl("is-enabled", nullptr, unit);
  return run.started && run.status == 0 && lastLine(run.output) == "enabled";
}

// The systemd units that could serve the folder: the template's instance
// (empty when the folder is not below the home folder) and a unit of its own.
struct Units {
  std::string instance;
  std::string own;
  std::string ownPath;
};

Units unitsFor(const std::string& folder) {
  Units units;
  std::string home = homeFolder();
  if (!home.empty()) {
    home = canonical(home);
    if (home != "/" && folder.size() > home.size() + 1 && folder.compare(0, home.size() + 1, home + "/") == 0)
      units.instance = "ferrin@" + escapeUnitPath(folder.substr(home.size() + 1)) + ".service";
  }
  units.own = "ferrin-" + escapeUnitPath(folder) + ".service";
  units.ownPath = userUnitFolder() + "/" + units.own;
  return units;
}

bool templateInstalled() {
  if (isFile(userUnitFolder() + "/" + kTemplateUnit)) return true;
  for (const char* folder : kSystemUnitFolders)
    if (isFile(std::string(folder) + "/" + kTemplateUnit)) return true;
  return false;
}

// systemd takes unit names of up to 255 bytes.
const std::string::size_type kLongestUnitName = 255;

AutostartResult turnOn(const std::string& folder) {
  Units units = unitsFor(folder);
  // A unit of its own written before the template was installed stays the
  // folder's unit: enabling the template's instance too would start two.
  bool own = units.instance.empty() || !templateInstalled() || isFile(units.ownPath);
  std::string unit = own ? units.own : units.instance;
  if (folder.find_first_of("\n\r") != std::string::npos)
    return {1, "The folder's path holds a line break, which a unit file cannot hold, so autostart is off."};
  if (unit.size() > kLongestUnitName)
    return {1, "The folder's path is too long for the name of a systemd unit, so autostart is off."};
  std::string why;
  if (own) {
    if (!makeFolders(userUnitFolder(), &why) || !writeFile(units.ownPath, ownUnitText(folder), &why))
      return {1, "ferrin could not write the user unit " + units.ownPath + " (" + why + "), so autostart is off."};
    (void)runSystemctl("daemon-reload", nullptr, std::string());
  }
  std::string where = own ? " (written to " + userUnitFolder() + ")" : std::string();
  Run run = runSystemctl("enable", "--now", unit);
  if (run.started && run.status == 0)
    return {0, "Autostart is on: the user unit " + unit + where + " starts ferrin in " + folder +
                   " with each session, and has started it now."};
  if (isEnabled(unit))
    return {0, "Autostart is on: the user unit " + unit + where + " starts ferrin in " + folder +
                   " with each session; it could not be started now (" + lastLine(run.output) + ")."};
  if (own) {
    (void)std::remove(units.ownPath.c_str());
    (void)runSystemctl("daemon-reload", nullptr, std::string());
  }
  if (!run.started)
    return {1, "ferrin could not run systemctl (" + run.output + "), so autostart is off: it needs systemd."};
  return {1, "systemctl could not enable the user unit " + unit + " (" + lastLine(run.output) +
                 "), so autostart is off."};
}

AutostartResult turnOff(const std::string& folder) {
  Units units = unitsFor(folder);
  std::vector<std::string> done;
  for (const std::string& unit : {units.instance, units.own}) {
    if (unit.empty()) continue;
    bool own = unit == units.own;
    if (own ? !isFile(units.ownPath) : !isEnabled(unit)) continue;
    Run run = runSystemctl("disable", "--now", unit);
    if (isEnabled(unit))
      return {1, "systemctl could not disable the user unit " + unit + " (" + lastLine(run.output) +
                     "), so autostart is still on."};
    if (own) {
      if (std::remove(units.ownPath.c_str()) != 0)
        return {1, "The user unit " + unit + " is disabled, but ferrin could not remove " + units.ownPath + " (" +
                       std::strerror(errno) + ")."};
      (void)runSystemctl("daemon-reload", nullptr, std::string());
    }
    done.push_back(unit);
  }
  if (done.empty()) return {0, "Autostart was not on for " + folder + ": no user unit of ferrin starts it there."};
  std::string names = done[0] + (done.size() > 1 ? " and " + done[1] : std::string());
  return {0, "Autostart is off: " + names + " no longer starts ferrin in " + folder + "."};
}

}  // namespace

AutostartResult setAutostart(bool on, const std::string& folder) {
  return on ? turnOn(folder) : turnOff(folder);
}
