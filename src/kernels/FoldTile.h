// The fold's register tiles (src/Solver/Fold.cpp packs the patterns and shares out the work). The
// product matrix is computed in MR x NB tiles held in registers while a chunk of patterns streams
// through, as a matrix-multiply kernel does. Each chunk's values are packed into panels of NB columns,
// pattern after pattern, so the kernel reads them contiguously; a tile's MR rows are read from the same
// panels (MR divides NB). Every entry still receives its products one pattern at a time in list order,
// starting from the value it had, with a separate multiply and add: the same bits as folding pattern by
// pattern, whatever the vector width.
#pragma once

#include <algorithm>
#include <cstddef>

#include "src/kernels/Vec.h"

namespace rcnet::kernels {

// One chunk's packed panels and where its products go.
struct FoldPass {
    double* const* rows;  // the matrix's rows in row order (Solve may have exchanged them)
    size_t rowCount;      // rows that receive products
    size_t n;             // columns
    const double* panels;
    size_t patterns;     // in this chunk
    size_t panelStride;  // doubles from one panel to the next
};

// Tile shapes: as many accumulators as the registers hold, with the B values and one product beside
// them: 8 x 3 vectors of 32 registers, 4 x 2 of 16; of 8 (32-bit code), 2 x 2 two-lane vectors or
// 4 x 1 wider ones.
template <typename P>
struct FoldShape {
    static constexpr size_t kRows = P::kRegisters >= 32 ? 8 : P::kRegisters >= 16 || P::kLanes > 2 ? 4 : 2;
    static constexpr size_t kVectors = P::kRegisters >= 32                     ? 3
                                       : P::kRegisters >= 16 || P::kLanes == 2 ? 2
                                                                               : 1;
    static constexpr size_t kColumns = kVectors * P::kLanes;
};

template <size_t NB>
RCNET_INLINE const double* Panel(const FoldPass& pass, size_t column) {
    return pass.panels + column / NB * pass.panelStride + column % NB;
}

// c[r][k0 + k] += a_p[r] * b_p[k] for the chunk's patterns p in order; a and b advance NB values per
// pattern.
template <typename P, size_t MR, size_t NV>
RCNET_INLINE void FoldKernel(double* const* c, size_t k0, const double* a, const double* b, size_t patterns) {
    constexpr size_t W = P::kLanes;
    constexpr size_t NB = NV * W;
    typename P::V acc[MR][NV];
#pragma GCC unroll 8
    for (size_t r = 0; r < MR; ++r)
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) acc[r][v] = P::Load(c[r] + k0 + v * W);
#if !defined(__x86_64__)
// Two patterns per turn: in 32-bit code the loop control is a fair share of the few instructions.
#pragma GCC unroll 2
#endif
    for (size_t p = 0; p < patterns; ++p, a += NB, b += NB) {
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
    constexpr size_t MR = FoldShape<P>::kRows, NV = FoldShape<P>::kVectors, NB = FoldShape<P>::kColumns;
    const size_t n = pass.n, rowCount = pass.rowCount;
    for (size_t j0 = 0; j0 < rowCount && j0 < g1 * NB; j0 += MR) {
        const double* a = Panel<NB>(pass, j0);
        for (size_t q = std::max(g0, j0 / NB); q < g1; ++q) {
            const size_t k0 = q * NB;
            const double* b = pass.panels + q * pass.panelStride;
            double* const* c = pass.rows + j0;
            if (k0 + 1 >= j0 + MR && k0 + NB <= n && j0 + MR <= rowCount) {
                FoldKernel<P, MR, NV>(c, k0, a, b, pass.patterns);
                continue;
            }
            const size_t rows = std::min(MR, rowCount - j0), columns = std::min(NB, n - k0);
            double tile[MR][NB] = {};
            double* tileRows[MR];
            for (size_t r = 0; r < MR; ++r) tileRows[r] = tile[r];
            for (size_t r = 0; r < rows; ++r)
                for (size_t k = 0; k < columns; ++k) tile[r][k] = c[r][k0 + k];
            FoldKernel<P, MR, NV>(tileRows, 0, a, b, pass.patterns);
            for (size_t r = 0; r < rows; ++r)
                for (size_t k = j0 + r > k0 ? j0 + r - k0 : 0; k < columns; ++k) c[r][k0 + k] = tile[r][k];
        }
    }
}

}  // namespace rcnet::kernels
