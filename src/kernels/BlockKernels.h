// The register-tiled pass of the blocked elimination: a block of pivots applied to many rows at once,
// each entry in registers while it receives every pivot of the block, pivot after pivot, with the
// plain sweep's operations (subtract the pivot entry times the row's factor, then +0 where the result
// lies strictly inside (-bound, bound)). The bits are the plain sweep's; only the memory traffic is
// less: one pass over the rows per block instead of one per pivot.
#pragma once

#include <algorithm>
#include <cstddef>

#include "src/kernels/Kernels.h"
#include "src/kernels/RowKernels.h"
#include "src/kernels/Vec.h"

namespace rcnet::kernels {

// Rows per tile, and per call that keeps the registers full.
constexpr size_t kPivotRows = 4;

// Vectors per tile row: kPivotRows x 2 accumulators of 16 registers, x 1 of 8 (32-bit code).
constexpr size_t kPivotVectors = kVectorRegisters >= 16 ? 2 : 1;

template <typename P, bool kPartial>
RCNET_INLINE typename P::V LoadLanes(const double* p, size_t n) {
    if constexpr (kPartial) {
        return P::LoadFirst(p, n);
    } else {
        return P::Load(p);
    }
}

template <typename P, bool kPartial>
RCNET_INLINE void StoreLanes(double* p, size_t n, const typename P::V& v) {
    if constexpr (kPartial) {
        P::StoreFirst(p, n, v);
    } else {
        P::Store(p, v);
    }
}

// Columns [c, c + NV lanes) of R rows; with kPartial only those before `end`.
template <typename P, size_t R, size_t NV, bool kPartial>
RCNET_INLINE void PivotTile(double* const* rows, const double* factors, size_t stride,
                            const double* const* pivots, size_t count, size_t c, size_t end, double bound) {
    constexpr size_t W = P::kLanes;
    size_t lanes[NV];
    for (size_t v = 0; v < NV; ++v) lanes[v] = end > c + v * W ? std::min(end - c - v * W, W) : 0;
    const typename P::V limit = P::Set(bound);
    typename P::V x[R][NV];
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) x[r][v] = LoadLanes<P, kPartial>(rows[r] + c + v * W, lanes[v]);
    for (size_t i = 0; i < count; ++i) {
        typename P::V p[NV];
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) p[v] = LoadLanes<P, kPartial>(pivots[i] + c + v * W, lanes[v]);
#pragma GCC unroll 8
        for (size_t r = 0; r < R; ++r) {
            const typename P::V f = P::Set(factors[r * stride + i]);
#pragma GCC unroll 8
            for (size_t v = 0; v < NV; ++v) x[r][v] = Flush<P>(x[r][v] - p[v] * f, limit);
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) StoreLanes<P, kPartial>(rows[r] + c + v * W, lanes[v], x[r][v]);
}

// n <= kPivotRows rows: a full tile, or row by row. A full tile runs apart: its accumulators fill the
// registers.
template <typename P, size_t NV, bool kPartial>
RCNET_INLINE void PivotTiles(double* const* rows, size_t n, const double* factors, size_t stride,
                             const double* const* pivots, size_t count, size_t c, size_t end, double bound) {
    if (n == kPivotRows) {
        return P::Apart(
            [](double* const* r, const double* f, size_t s, const double* const* p, size_t k, size_t c0,
               size_t e, double b) __attribute__((always_inline)) {
                PivotTile<P, kPivotRows, NV, kPartial>(r, f, s, p, k, c0, e, b);
            },
            rows, factors, stride, pivots, count, c, end, bound);
    }
    for (size_t k = 0; k < n; ++k)
        PivotTile<P, 1, NV, kPartial>(rows + k, factors + k * stride, stride, pivots, count, c, end, bound);
}

// ApplyPivotsLanes<Scalar<>>, compiled once for the baseline (src/kernels/Kernels.cpp): the last columns
// of the packs without masked stores. Inlined into an entry function it leaves the tiles too few
// registers.
void ApplyPivotsPlain(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                      const double* const* pivots, size_t count, size_t begin, size_t end, double bound);

// For each of rowCount rows and each column c in [begin, end): for i < count in order,
// x = x - pivots[i][c] * factors[r * stride + i], then flushed. Rows in tiles of kPivotRows, columns in
// tiles of NV vectors; the last columns masked where the pack can, else one lane at a time.
template <typename P>
RCNET_INLINE void ApplyPivotsLanes(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                                   const double* const* pivots, size_t count, size_t begin, size_t end,
                                   double bound) {
    if (begin >= end || count == 0) return;
    constexpr size_t NV = P::kLanes == 1 ? 1 : kPivotVectors, kWidth = P::kLanes * NV;
    for (size_t r = 0; r < rowCount; r += kPivotRows) {
        const size_t n = std::min(kPivotRows, rowCount - r);
        double* const* tileRows = rows + r;
        const double* f = factors + r * stride;
        size_t c = begin;
        for (; c + kWidth <= end; c += kWidth)
            PivotTiles<P, NV, false>(tileRows, n, f, stride, pivots, count, c, end, bound);
        if (c == end) continue;
        if constexpr (P::kMaskedTail) {
            PivotTiles<P, NV, true>(tileRows, n, f, stride, pivots, count, c, end, bound);
        } else if constexpr (P::kLanes > 1) {
            ApplyPivotsPlain(tileRows, n, f, stride, pivots, count, c, end, bound);
        }
    }
}

// The active level's.
inline void ApplyPivots(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                        const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    Active().applyPivots(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
}

}  // namespace rcnet::kernels
