#include "config/profile.h"

#include <windows.h>

#include <vector>

#include "console/system.h"

namespace {
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

unsigned long profileGeneration() {
  static unsigned long generation = 0;
  // Every call counts as a change: each reader reads the file anew.
  LockGuard lock(SlotLock);
  if (++generation == 0) generation = 1;
  return generation;
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value) {
  LockGuard lock(FileSystemLock);
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), kFileName) != 0;
}
