// Autostart on Windows: a shortcut in the user's Startup folder that starts
// this ferrin.exe minimized, without taking the focus, in the folder. Its
// name carries the folder's path, so that each till folder has one of its
// own. "off" removes the shortcuts there that start ferrin.exe in this folder,
// whatever their names, and leaves every other one alone (the DOS program's
// own shortcut may well start in the same folder). The shell's link object
// makes and reads the shortcuts; ole32 and shell32 are loaded only here, so
// that an ordinary start of ferrin loads neither.
#include "app/autostart.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/text.h"  // numberText

namespace {

typedef HRESULT(WINAPI* CoInitializeExCall)(LPVOID, DWORD);
typedef HRESULT(WINAPI* CoCreateInstanceCall)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef void(WINAPI* CoUninitializeCall)();
typedef HRESULT(WINAPI* SHGetFolderPathACall)(HWND, int, HANDLE, DWORD, LPSTR);

struct ShellCalls {
  HMODULE ole32 = nullptr;
  HMODULE shell32 = nullptr;
  CoCreateInstanceCall createInstance = nullptr;
  CoUninitializeCall uninitialize = nullptr;
  SHGetFolderPathACall folderPath = nullptr;
  bool initialized = false;
};

std::string errorText(unsigned long code) {
  char text[32];
  std::snprintf(text, sizeof text, "(error 0x%08lx)", code);
  return text;
}

// Loads the two libraries and starts COM on this thread.
bool openShell(ShellCalls* shell, std::string* why) {
  shell->ole32 = LoadLibraryA("ole32.dll");
  shell->shell32 = LoadLibraryA("shell32.dll");
  if (shell->ole32 == nullptr || shell->shell32 == nullptr) {
    *why = "Windows' shell libraries could not be loaded " + errorText(GetLastError());
    return false;
  }
  // The casts go through a plain function pointer type, as GetProcAddress's
  // result has to.
  CoInitializeExCall initialize =
      reinterpret_cast<CoInitializeExCall>(reinterpret_cast<void (*)()>(GetProcAddress(shell->ole32, "CoInitializeEx")));
  shell->createInstance = reinterpret_cast<CoCreateInstanceCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(shell->ole32, "CoCreateInstance")));
  shell->uninitialize = reinterpret_cast<CoUninitializeCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(shell->ole32, "CoUninitialize")));
  shell->folderPath = reinterpret_cast<SHGetFolderPathACall>(
      reinterpret_cast<void (*)()>(GetProcAddress(shell->shell32, "SHGetFolderPathA")));
  if (initialize == nullptr || shell->createInstance == nullptr || shell->uninitialize == nullptr ||
      shell->folderPath == nullptr) {
    *why = "Windows' shell lacks the calls for shortcuts";
    return false;
  }
  HRESULT started = initialize(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(started)) {
    *why = "COM could not be started " + errorText(static_cast<unsigned long>(started));
    return false;
  }
  shell->initialized = true;
  return true;
}

void closeShell(ShellCalls* shell) {
  if (shell->initialized) shell->uninitialize();
  if (shell->shell32 != nullptr) FreeLibrary(shell->shell32);
  if (shell->ole32 != nullptr) FreeLibrary(shell->ole32);
}

std::wstring wideText(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::vector<wchar_t> wide(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
  return std::wstring(wide.data());
}

// A shell link and its file interface, released at the end of the scope.
struct Link {
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  HRESULT result = E_FAIL;
  explicit Link(const ShellCalls& shell) {
    result = shell.createInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    if (SUCCEEDED(result)) result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  }
  ~Link() {
    if (file != nullptr) file->Release();
    if (link != nullptr) link->Release();
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
};

// A folder's path as compared: backslashes, and none at the end but a
// drive's root one.
std::string comparable(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::string baseName(const std::string& path) {
  std::string::size_type slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Windows' own comparison without regard to case, as its file names are.
bool sameName(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// True when the shortcut file starts a program named like this one in the folder.
bool startsFerrinIn(const ShellCalls& shell, const std::string& path, const std::string& program,
                    const std::string& folder) {
  Link link(shell);
  if (FAILED(link.result) || FAILED(link.file->Load(wideText(path).c_str(), STGM_READ))) return false;
  char target[MAX_PATH] = "";
  char workingFolder[MAX_PATH] = "";
  if (FAILED(link.link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
  if (FAILED(link.link->GetWorkingDirectory(workingFolder, MAX_PATH))) return false;
  return sameName(baseName(target), baseName(program)) && sameName(comparable(workingFolder), comparable(folder));
}

std::vector<std::string> shortcutsFor(const ShellCalls& shell, const std::string& startup, const std::string& program,
                                      const std::string& folder) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((startup + "\\*.lnk").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string path = startup + "\\" + entry.cFileName;
    if (startsFerrinIn(shell, path, program, folder)) found.push_back(path);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

// "ferrin (C-TILL)" for C:\TILL: the folder's path with its drive's colon
// left out and each backslash a hyphen, the end of it where it is long.
std::string shortcutLabel(const std::string& folder) {
  const std::string::size_type longest = 64;
  std::string label;
  for (char c : folder) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == ':') continue;
    if (c == '\\' || c == '/') {
      if (!label.empty() && label.back() != '-') label += '-';
    } else if (byte < 32 || std::string("<>\"|?*").find(c) != std::string::npos) {
      label += '_';
    } else {
      label += c;
    }
  }
  while (!label.empty() && label.back() == '-') label.pop_back();
  if (label.size() > longest) label = label.substr(label.size() - longest);
  return "ferrin (" + label + ")";
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A name in the Startup folder that no other shortcut has.
std::string freeShortcutPath(const std::string& startup, const std::string& folder) {
  std::string label = shortcutLabel(folder);
  std::string path = startup + "\\" + label + ".lnk";
  for (int n = 2; exists(path) && n < 100; ++n) path = startup + "\\" + label + " " + numberText(n) + ".lnk";
  return path;
}

bool writeShortcut(const ShellCalls& shell, const std::string& path, const std::string& program,
                   const std::string& folder, std::string* why) {
  Link link(shell);
  HRESULT result = link.result;
  if (SUCCEEDED(result)) result = link.link->SetPath(program.c_str());
  if (SUCCEEDED(result)) result = link.link->SetWorkingDirectory(folder.c_str());
  if (SUCCEEDED(result)) result = link.link->SetShowCmd(SW_SHOWMINNOACTIVE);
  if (SUCCEEDED(result)) result = link.link->SetDescription(("ferrin for " + folder).c_str());
  if (SUCCEEDED(result)) result = link.file->Save(wideText(path).c_str(), TRUE);
  if (SUCCEEDED(result)) return true;
  *why = errorText(static_cast<unsigned long>(result));
  return false;
}

AutostartResult changeShortcuts(const ShellCalls& shell, bool on, const std::string& folder) {
  char buffer[MAX_PATH] = "";
  HRESULT found = shell.folderPath(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(found))
    return {1, "ferrin could not find the Startup folder " + errorText(static_cast<unsigned long>(found)) +
                   ", so autostart is unchanged."};
  std::string startup(buffer);
  char module[MAX_PATH] = "";
  DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {1, "ferrin could not tell where ferrin.exe is, so autostart is unchanged."};
  std::string program(module, length);

  std::vector<std::string> shortcuts = shortcutsFor(shell, startup, program, folder);
  if (on) {
    // An existing shortcut for this folder is brought up to date, not doubled,
    // and any copy of it goes: each would start another ferrin at logon.
    std::string path = shortcuts.empty() ? freeShortcutPath(startup, folder) : shortcuts[0];
    std::string why;
    if (!writeShortcut(shell, path, program, folder, &why))
      return {1, "ferrin could not write the shortcut \"" + path + "\" " + why + ", so autostart is off."};
    for (std::size_t i = 1; i < shortcuts.size(); ++i) (void)DeleteFileA(shortcuts[i].c_str());
    return {0, "Autostart is on: the shortcut \"" + path + "\" starts ferrin minimized in " + folder +
                   " at each logon."};
  }
  if (shortcuts.empty())
    return {0, "Autostart was not on for " + folder + ": no shortcut in the Startup folder " + startup +
                   " starts ferrin there."};
  for (const std::string& path : shortcuts)
    if (!DeleteFileA(path.c_str()))
      return {1, "ferrin could not remove the shortcut \"" + path + "\" " + errorText(GetLastError()) +
                     ", so autostart is still on."};
  std::string removed = shortcuts.size() == 1 ? "the shortcut \"" + shortcuts[0] + "\" is"
                                              : numberText(static_cast<long long>(shortcuts.size())) +
                                                    " shortcuts in " + startup + " are";
  return {0, "Autostart is off: " + removed + " removed, and ferrin no longer starts in " + folder + " at logon."};
}

}  // namespace

AutostartResult setAutostart(bool on, const std::string& folder) {
  ShellCalls shell;
  std::string why;
  AutostartResult result = openShell(&shell, &why)
                               ? changeShortcuts(shell, on, folder)
                               : AutostartResult{1, "ferrin cannot make shortcuts: " + why + ", so autostart is unchanged."};
  closeShell(&shell);
  return result;
}
