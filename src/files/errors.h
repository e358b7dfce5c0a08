// The calling thread's error code: 0 for none, otherwise 1 to 255. A failing
// operation sets it and returns a neutral result; a successful one leaves it.
#pragma once

void clearError();
int lastError();
// Sets the calling thread's code. Codes of 241 and above are fatal platform
// failures: the process ends at once with exit code 255.
void setError(int code);
