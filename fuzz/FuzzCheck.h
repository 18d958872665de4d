#pragma once

#include <cstdio>

// CHECK(cond) in a fuzz target: a property that fails stops the run with the
// condition's text, so that libFuzzer keeps the input that broke it.
[[noreturn]] inline void fuzzPropertyFailed(const char* target, const char* what) {
    std::fprintf(stderr, "%s: property failed: %s\n", target, what);
    std::fflush(stderr);
    __builtin_trap();
}

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) fuzzPropertyFailed(kFuzzTarget, #cond);         \
    } while (0)
