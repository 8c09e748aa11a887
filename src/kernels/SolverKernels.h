// The normal-equation solvers' kernels: the fold's register tiles, the elimination's row sweeps and its
// blocked tiles.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/kernels/Kernels.h"
#include "src/kernels/Vec.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet::kernels {

// ---- the fold's tiles
// The fold's register tiles (src/Solver/Fold.cpp packs the patterns and shares out the work). The
// product matrix is computed in MR x NB tiles held in registers while a chunk of patterns streams
// through, as a matrix-multiply kernel does. Each chunk's values are packed into panels of NB columns,
// pattern after pattern, so the kernel reads them contiguously; a tile's MR rows are read from the same
// panels (MR divides NB). Every entry still receives its products one pattern at a time in list order,
// starting from the value it had, with a separate multiply and add: the same bits as folding pattern by
// pattern, whatever the vector width.

// One chunk's packed panels and where its products go.
struct FoldPass {
    double* const* rows;  // the matrix's rows in row order (Solve may have exchanged them)
    size_t rowCount;      // rows that receive products
    size_t n;             // columns
    const double* panels;
    size_t patterns;      // in this chunk
    size_t panelStride;   // doubles from one panel to the next
    size_t rowBegin = 0;  // rows before it receive nothing (a multiple of the panel width)
};

// Tile shapes: as many accumulators as the registers hold, with the B values and one product beside
// them: 8 x 3 vectors of 32 registers, 4 x 2 of 16; of 8 (32-bit code), 2 x 2 two-lane vectors or
// 6 x 1 wider ones. A panel holds whole tiles side by side and the rows of a tile (its width is a
// multiple of both): six rows need panels of three eight-lane tiles, or of three four-lane ones.
template <typename P>
struct FoldShape {
    static constexpr size_t kRows = P::kRegisters >= 32 ? 8 : P::kRegisters >= 16 ? 4 : P::kLanes > 2 ? 6 : 2;
    static constexpr size_t kVectors = P::kRegisters >= 32                     ? 3
                                       : P::kRegisters >= 16 || P::kLanes == 2 ? 2
                                                                               : 1;
    static constexpr size_t kColumns = kVectors * P::kLanes;
    static constexpr size_t kPanel = kColumns % kRows == 0 ? kColumns : 3 * kColumns;
    static_assert(kPanel % kRows == 0 && kPanel % kColumns == 0);
};

template <size_t NB>
RCNET_INLINE const double* Panel(const FoldPass& pass, size_t column) {
    return pass.panels + column / NB * pass.panelStride + column % NB;
}

// c[r][k0 + k] += a_p[r] * b_p[k] for the chunk's patterns p in order; a and b advance NP values (the
// panel's width) per pattern.
template <typename P, size_t MR, size_t NV, size_t NP>
RCNET_INLINE void FoldKernel(double* const* c, size_t k0, const double* a, const double* b, size_t patterns) {
    constexpr size_t W = P::kLanes;
    typename P::V acc[MR][NV];
#pragma GCC unroll 8
    for (size_t r = 0; r < MR; ++r)
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) acc[r][v] = P::Load(c[r] + k0 + v * W);
#if !defined(__x86_64__)
// Two patterns per turn: in 32-bit code the loop control is a fair share of the few instructions.
#pragma GCC unroll 2
#endif
    for (size_t p = 0; p < patterns; ++p, a += NP, b += NP) {
        typename P::V bv[NV];
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) bv[v] = P::Load(b + v * W);
#pragma GCC unroll 8
        for (size_t r = 0; r < MR; ++r) {
            const double ar = a[r];  // broadcast by the vector-scalar product
#pragma GCC unroll 4
            for (size_t v = 0; v < NV; ++v) acc[r][v] = acc[r][v] + bv[v] * ar;
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < MR; ++r)
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) P::Store(c[r] + k0 + v * W, acc[r][v]);
}

// The tiles of every row block against column panels [g0, g1): one group, whose panels stay in the
// second-level cache while the row blocks pass. Only the upper triangle (k >= j) is written; tiles that
// reach below it or past n go through a copy.
template <typename P>
RCNET_INLINE void FoldGroup(const FoldPass& pass, size_t g0, size_t g1) {
    using Shape = FoldShape<P>;
    constexpr size_t MR = Shape::kRows, NV = Shape::kVectors, NB = Shape::kColumns, NP = Shape::kPanel;
    const size_t n = pass.n, rowCount = pass.rowCount;
    for (size_t j0 = pass.rowBegin; j0 < rowCount && j0 < g1 * NP; j0 += MR) {
        const double* a = Panel<NP>(pass, j0);
        for (size_t q = std::max(g0, j0 / NP); q < g1; ++q) {
            for (size_t k0 = q * NP; k0 < q * NP + NP && k0 < n; k0 += NB) {
                if (k0 + NB <= j0) continue;  // wholly below the diagonal
                const double* b = pass.panels + q * pass.panelStride + k0 % NP;
                double* const* c = pass.rows + j0;
                if (k0 + 1 >= j0 + MR && k0 + NB <= n && j0 + MR <= rowCount) {
                    FoldKernel<P, MR, NV, NP>(c, k0, a, b, pass.patterns);
                    continue;
                }
                const size_t rows = std::min(MR, rowCount - j0), columns = std::min(NB, n - k0);
                double tile[MR][NB] = {};
                double* tileRows[MR];
                for (size_t r = 0; r < MR; ++r) tileRows[r] = tile[r];
                for (size_t r = 0; r < rows; ++r)
                    for (size_t k = 0; k < columns; ++k) tile[r][k] = c[r][k0 + k];
                FoldKernel<P, MR, NV, NP>(tileRows, 0, a, b, pass.patterns);
                for (size_t r = 0; r < rows; ++r)
                    for (size_t k = j0 + r > k0 ? j0 + r - k0 : 0; k < columns; ++k)
                        c[r][k0 + k] = tile[r][k];
            }
        }
    }
}

// ---- row sweeps
// The inner loops of both solvers: one pass over contiguous entries, each entry getting exactly the
// operations of the plain entry-by-entry loop, in the same order, so that the results are bit-identical
// to it. Divide and AddScaled are left to the compiler's vectoriser; the elimination's sweep is written
// over a pack (src/kernels/Vec.h), and kernels::Active().eliminateFlush runs it at the processor's level.

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

// ---- the blocked elimination's tiles
// The register-tiled pass of the blocked elimination: a block of pivots applied to many rows at once,
// each entry in registers while it receives every pivot of the block, pivot after pivot, with the
// plain sweep's operations (subtract the pivot entry times the row's factor, then +0 where the result
// lies strictly inside (-bound, bound)). The bits are the plain sweep's; only the memory traffic is
// less: one pass over the rows per block instead of one per pivot.

// Rows per tile, and per call that keeps the registers full.
constexpr size_t kPivotRows = 4;

// Vectors per tile row: kPivotRows x 2 accumulators of 16 registers, x 1 of 8 (32-bit code).
constexpr size_t kPivotVectors = kVectorRegisters >= 16 ? 2 : 1;

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

RCNET_VECTOR_CODE_END
