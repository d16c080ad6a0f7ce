#pragma once
// An invariant check for fuzz targets: abort (so libFuzzer keeps the input) with the condition.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                            \
    do {                                                                 \
        if (!(condition)) {                                              \
            std::fprintf(stderr, "fuzz check failed: %s\n", #condition); \
            std::abort();                                                \
        }                                                                \
    } while (0)
