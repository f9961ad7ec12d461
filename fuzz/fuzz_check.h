#pragma once

#include <cstdio>
#include <cstdlib>

// A result that breaks an invariant is a fault as much as a crash: abort, so that libFuzzer keeps
// the input and the run fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
