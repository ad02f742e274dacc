#pragma once
// The fuzz targets' invariant check: a broken invariant prints where and why and
// aborts, which libFuzzer records as a crash with the input that caused it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(bCondition, pszWhat)                                                            \
    do {                                                                                           \
        if (!(bCondition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__,         \
                         pszWhat, #bCondition);                                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
