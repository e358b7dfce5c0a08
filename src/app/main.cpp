#include "app/app.h"
#include "app/autostart.h"
#include "app/usage.h"
#include "console/console.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  // --help and --version answer before the console is touched.
  if (answerInfoArgument(argc, argv)) return 0;
  // So does --autostart, which only changes how ferrin is started.
  int code = 0;
  if (answerAutostartArgument(argc, argv, &code)) return code;
  // And --reprint, which only queues a kept printout for the running ferrin.
  if (answerReprintArgument(argc, argv, &code)) return code;
  consoleStartup(argc, argv);
  code = runMain();
  // Watchers are cut off wherever they stand, in the middle of a job too.
  endProcess(code);
}
