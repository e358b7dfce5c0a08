#include "app/autostart.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/text.h"

namespace {

// Nothing to do when an output is gone: the process ends at once.
void writeLineTo(std::FILE* stream, const std::string& text) {
  (void)std::fputs(text.c_str(), stream);
  (void)std::fputc('\n', stream);
  (void)std::fflush(stream);
}

}  // namespace

bool answerAutostartArgument(int argc, char** argv, int* code) {
  if (argc < 2 || upperCase(argv[1]) != "--AUTOSTART") return false;
  std::string setting = argc == 3 ? upperCase(argv[2]) : std::string();
  if (setting != "ON" && setting != "OFF") {
    writeLineTo(stderr, "ferrin --autostart takes on or off: \"ferrin --autostart on\" starts ferrin in this folder "
                        "with each session, \"ferrin --autostart off\" no longer.");
    *code = 2;
    return true;
  }
  std::string folder = currentDirectory();
  AutostartResult result = folder.empty()
                               ? AutostartResult{1, "ferrin could not tell which folder it is in, so autostart is unchanged."}
                               : setAutostart(setting == "ON", folder);
  writeLineTo(result.code == 0 ? stdout : stderr, result.message);
  *code = result.code;
  return true;
}
