// The inner loops of both solvers, written so that the compiler vectorises them: no branches, no
// calls, one pass over contiguous entries. Each entry gets exactly the operations of the plain
// entry-by-entry loop, in the same order, so results are bit-identical to it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rcnet::kernels {

// row[i] = row[i] - pivot[i] * factor for i < count, each result strictly inside (-bound, bound) set to
// +0 (a -0 too; NaN stays). Returns whether every result is zero. A flushed zero is +0, so OR-ing the
// results' bits tells whether any is not.
// Always inlined, so that a caller compiled for wider vectors vectorises it with them.
__attribute__((always_inline)) inline bool EliminateFlush(double* row, const double* pivot, double factor,
                                                          size_t count, double bound) {
    uint64_t any = 0;
    for (size_t i = 0; i < count; ++i) {
        double x = row[i] - pivot[i] * factor;
        x = std::fabs(x) < bound ? 0.0 : x;
        row[i] = x;
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        any |= bits;
    }
    return any == 0;
}

inline void Divide(double* row, double coef, size_t count) {
    for (size_t i = 0; i < count; ++i) row[i] = row[i] / coef;
}

// sums[k] = sums[k] + values[k] * factor for i < count.
inline void AddScaled(double* sums, const double* values, double factor, size_t count) {
    for (size_t k = 0; k < count; ++k) sums[k] = sums[k] + values[k] * factor;
}

}  // namespace rcnet::kernels
