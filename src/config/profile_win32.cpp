#include "config/profile.h"

#include <windows.h>

#include <vector>

#include "platform/system.h"

namespace {

// The profile's generation and the stamp it was counted from.
ProcessLock GenerationLock;
// The relative path keeps the file in the working directory; a bare name
// would put it in the Windows folder.
const char kFileName[] = ".\\ferrin.ini";
}  // namespace

std::string readProfileString(const std::string& section, const std::string& key, std::size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<char> buffer(bufferSize, '\0');
  LockGuard lock(FileSystemLock);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), static_cast<DWORD>(bufferSize),
                                     kFileName);
  if (n >= bufferSize) n = static_cast<DWORD>(bufferSize - 1);
  return std::string(buffer.data(), n);
}

std::vector<std::string> readProfileStrings(const std::string& section, const std::vector<std::string>& keys,
                                            std::size_t bufferSize) {
  std::vector<std::string> values;
  for (const std::string& key : keys) values.push_back(readProfileString(section, key, bufferSize));
  return values;
}

namespace {

// What tells whether ferrin.ini may read differently: its size and times of
// creation and last write (not of last access, which every read changes).
struct ProfileStamp {
  bool present;
  DWORD sizeHigh, sizeLow;
  FILETIME created, written;
};

unsigned long long ticksOf(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

bool sameStamp(const ProfileStamp& a, const ProfileStamp& b) {
  return a.present == b.present && a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow &&
         ticksOf(a.created) == ticksOf(b.created) && ticksOf(a.written) == ticksOf(b.written);
}

// File times may lag behind a write by up to two seconds (FAT keeps them in
// two-second steps): a file written that recently is read anew every time.
const unsigned long long kUntrustedTicks = 2ULL * 10000000ULL;

}  // namespace

unsigned long profileGeneration() {
  static unsigned long generation = 0;
  static ProfileStamp last = {};
  static bool known = false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  ProfileStamp now = {};
  FILETIME clock;
  {
    LockGuard lock(FileSystemLock);
    now.present = GetFileAttributesExA(kFileName, GetFileExInfoStandard, &data) != 0;
    GetSystemTimeAsFileTime(&clock);
  }
  if (now.present) {
    now.sizeHigh = data.nFileSizeHigh;
    now.sizeLow = data.nFileSizeLow;
    now.created = data.ftCreationTime;
    now.written = data.ftLastWriteTime;
  }
  bool recent = now.present && ticksOf(clock) < ticksOf(now.written) + kUntrustedTicks;
  LockGuard lock(GenerationLock);
  if (!known || recent || !sameStamp(now, last)) {
    if (++generation == 0) generation = 1;
    last = now;
    known = true;
  }
  return generation;
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value) {
  LockGuard lock(FileSystemLock);
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), kFileName) != 0;
}

bool profileReadableByOthers() { return false; }
