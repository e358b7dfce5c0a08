// A property check for the fuzz targets: a broken property prints what was
// expected and aborts, which libFuzzer reports as a crash and saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                   \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, \
                   #cond);                                                      \
      std::fprintf(stderr, __VA_ARGS__);                                        \
      std::fputc('\n', stderr);                                                 \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
