// The library's random generator and its link weights, written out in 64-bit arithmetic, independently
// of the library's 32-bit wrap-around: what its draws must be.
#pragma once

#include <cstdint>

namespace rcnet::test {

struct ModelRandom {
    uint64_t state;
    int Next() {
        state = (state * 214013 + 2531011) % 4294967296ull;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
    double Weight() { return (2.0 * Next() - 32767.0) / 32767.0; }
};

}  // namespace rcnet::test
