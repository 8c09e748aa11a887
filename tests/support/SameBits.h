// Bit-for-bit equality of doubles: NaN equals the same NaN, and -0 differs from +0.
#pragma once

#include <cstdint>
#include <cstring>

#include "src/Types.h"

namespace rcnet::test {

inline uint64_t Bits(double x) {
    uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

inline bool SameBits(const Vector& a, const Vector& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline bool SameBits(const Matrix& a, const Matrix& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameBits(a[i], b[i])) return false;
    return true;
}

}  // namespace rcnet::test
