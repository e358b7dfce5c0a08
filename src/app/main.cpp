#include "app/app.h"
#include "console/console.h"
#include "console/system.h"

int main(int argc, char** argv) {
  consoleStartup(argc, argv);
  int code = runMain();
  // Watchers are cut off wherever they stand, in the middle of a job too.
  endProcess(code);
}
