// A dot product whose order is fixed by the length alone: four partial sums over index mod 4, the tail
// into the first, added pairwise. The same bits on every target and instruction set (no vectorised
// reduction decides the order), with four independent chains instead of one long one.
#pragma once

#include <cstddef>

namespace rcnet::kernels {

inline double FixedOrderDot(const double* a, const double* b, size_t n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

}  // namespace rcnet::kernels
