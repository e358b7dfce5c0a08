// Placeholder until spool file access lands.
#include "files/spoolfile.h"
