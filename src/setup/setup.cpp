// Placeholder until the setup dialogue lands.
#include "setup/setup.h"

void runSetup() {}
