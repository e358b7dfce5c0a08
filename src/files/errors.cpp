#include "files/errors.h"

#include "console/console.h"

#include "platform/system.h"

namespace {
thread_local int threadError = 0;
}

void clearError() { threadError = 0; }

int lastError() { return threadError; }

void setError(int code) {
  threadError = code;
  if (code >= 241) endProcess(255);
}
