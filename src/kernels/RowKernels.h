// The inner loops of both solvers: one pass over contiguous entries, each entry getting exactly the
// operations of the plain entry-by-entry loop, in the same order, so that the results are bit-identical
// to it. Divide and AddScaled are left to the compiler's vectoriser; the elimination's sweep is written
// over a pack (src/kernels/Vec.h), and kernels::Active().eliminateFlush runs it at the processor's level.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/kernels/Vec.h"

namespace rcnet::kernels {

// x, or +0 where x lies strictly inside (-bound, bound) (a -0 too; NaN stays).
template <typename P>
RCNET_INLINE typename P::V Flush(const typename P::V& x, const typename P::V& bound) {
    return P::ZeroWhere(P::Less(P::Abs(x), bound), x);
}

// row[i] = Flush(row[i] - pivot[i] * factor) for i < count. Returns whether every result is zero: a
// flushed zero is +0, so OR-ing the results' bits tells whether any is not.
template <typename P>
RCNET_INLINE bool EliminateFlushLanes(double* row, const double* pivot, double factor, size_t count,
                                      double bound) {
    constexpr size_t W = P::kLanes;
    const typename P::V f = P::Set(factor), limit = P::Set(bound);
    typename P::U any = P::Bits(P::Set(0.0));
    size_t i = 0;
    for (; i + W <= count; i += W) {
        const typename P::V x = Flush<P>(P::Load(row + i) - P::Load(pivot + i) * f, limit);
        P::Store(row + i, x);
        any = any | P::Bits(x);
    }
    if constexpr (P::kMaskedTail) {
        if (i < count) {
            const size_t n = count - i;
            const typename P::V x =
                Flush<P>(P::LoadFirst(row + i, n) - P::LoadFirst(pivot + i, n) * f, limit);
            P::StoreFirst(row + i, n, x);
            // The lanes past n hold +0 - +0 * f: +0, or NaN when f is not finite, and then so is every
            // result.
            any = any | P::Bits(x);
        }
    } else if constexpr (W > 1) {
        if (!EliminateFlushLanes<Scalar<>>(row + i, pivot + i, factor, count - i, bound)) return false;
    }
    return P::AllZero(any);
}

// One entry of the sweep, for passes over scattered columns: x - p * factor, flushed.
RCNET_INLINE double EliminateEntry(double x, double p, double factor, double bound) {
    return Flush<Scalar<>>(x - p * factor, bound);
}

// The plain loop (the one-lane pack), for single rows and short runs.
RCNET_INLINE bool EliminateFlush(double* row, const double* pivot, double factor, size_t count,
                                 double bound) {
    return EliminateFlushLanes<Scalar<>>(row, pivot, factor, count, bound);
}

inline void Divide(double* row, double coef, size_t count) {
    for (size_t i = 0; i < count; ++i) row[i] = row[i] / coef;
}

// sums[k] = sums[k] + values[k] * factor for i < count.
inline void AddScaled(double* sums, const double* values, double factor, size_t count) {
    for (size_t k = 0; k < count; ++k) sums[k] = sums[k] + values[k] * factor;
}

}  // namespace rcnet::kernels
