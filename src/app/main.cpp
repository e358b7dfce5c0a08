#include "app/app.h"
#include "app/usage.h"
#include "console/console.h"
#include "console/system.h"

int main(int argc, char** argv) {
  // --help and --version answer before the console is touched.
  if (answerInfoArgument(argc, argv)) return 0;
  int reprinted;
  if (answerReprintArgument(argc, argv, &reprinted)) return reprinted;
  consoleStartup(argc, argv);
  int code = runMain();
  // Watchers are cut off wherever they stand, in the middle of a job too.
  endProcess(code);
}
