// For a run cut off by a simulated crash (a FakeCrash thrown from a file or
// device call): what it held when it ended a real process would give back as
// it ends, so while a LeaksOfACrashedRun lives, what is allocated is not
// reported as leaked by the leak checker of a sanitizer build.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FERRIN_LEAK_CHECKS 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define FERRIN_LEAK_CHECKS 1
#endif

#ifdef FERRIN_LEAK_CHECKS
#include <sanitizer/lsan_interface.h>

struct LeaksOfACrashedRun {
  LeaksOfACrashedRun() { __lsan_disable(); }
  ~LeaksOfACrashedRun() { __lsan_enable(); }
};
#else
struct LeaksOfACrashedRun {
  LeaksOfACrashedRun() {}
};
#endif
