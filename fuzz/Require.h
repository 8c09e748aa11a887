// A property of a fuzz target: when it does not hold, say which and abort, so libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}
