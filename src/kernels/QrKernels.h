// The stable readout's kernels: Householder reflections applied to a run of columns. Each column gets
// its own sums in row order and its own updates, so the vectors only run columns side by side: every
// width gives the plain loop's bits.
#pragma once

#include <cstddef>

#include "src/kernels/Kernels.h"
#include "src/kernels/Vec.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet::kernels {

// I - tau u u^T with u = (1, u[0], .., u[count - 1]): head is the row where u is 1, rows[i] the row of
// u[i].
struct Reflection {
    double* head;
    double* const* rows;
    const double* u;
    size_t count;
    double tau;
};

// Columns [c, c + NV lanes) (with kPartial: one vector, its first `lanes` columns): s = head + u[0] row_0
// + u[1] row_1 + ..; t = tau s; head -= t; row_i -= u[i] t. With kNorms, norms receives each column's
// sum of the new rows' squares, row order.
template <typename P, size_t NV, bool kNorms, bool kPartial = false>
RCNET_INLINE void ReflectTile(const Reflection& reflection, size_t c, double* norms, size_t lanes = 0) {
    constexpr size_t W = P::kLanes;
    const Reflection r = reflection;  // a copy the stores below cannot change, kept in registers
    typename P::V s[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) s[v] = LoadLanes<P, kPartial>(r.head + c + v * W, lanes);
    for (size_t i = 0; i < r.count; ++i) {
        const double* row = r.rows[i] + c;
        const double ui = r.u[i];
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) s[v] = s[v] + LoadLanes<P, kPartial>(row + v * W, lanes) * ui;
    }
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        s[v] = s[v] * r.tau;
        double* head = r.head + c + v * W;
        StoreLanes<P, kPartial>(head, lanes, LoadLanes<P, kPartial>(head, lanes) - s[v]);
    }
    typename P::V n[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) n[v] = P::Set(0.0);
    for (size_t i = 0; i < r.count; ++i) {
        double* row = r.rows[i] + c;
        const double ui = r.u[i];
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) {
            const typename P::V x = LoadLanes<P, kPartial>(row + v * W, lanes) - s[v] * ui;
            StoreLanes<P, kPartial>(row + v * W, lanes, x);
            if constexpr (kNorms) n[v] = n[v] + x * x;
        }
    }
    if constexpr (kNorms) {
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) StoreLanes<P, kPartial>(norms + c + v * W, lanes, n[v]);
    }
}

// Vectors per tile: each carries a chain of sums in row order, and the chains run side by side while
// the rows stream past; eight keep the adder busy. In 32-bit code, with the norms' sums too, fewer fit
// the registers.
template <typename P, bool kNorms>
constexpr size_t kReflectVectors = P::kRegisters >= 16 ? 8
                                   : kNorms            ? 2
                                                       : 4;

template <typename P, bool kNorms>
RCNET_INLINE void ReflectColumns(const Reflection& r, size_t begin, size_t end, double* norms) {
    constexpr size_t NV = kReflectVectors<P, kNorms>, W = P::kLanes;
    size_t c = begin;
    for (; c + NV * W <= end; c += NV * W) ReflectTile<P, NV, kNorms>(r, c, norms);
    if constexpr (W > 1) {
        for (; c + W <= end; c += W) ReflectTile<P, 1, kNorms>(r, c, norms);
    }
    // The last columns side by side too where the pack masks its loads: one by one they wait on the
    // adder (the fold's block has at most seven after each reflector's own).
    if constexpr (P::kMaskedTail) {
        if (c < end) ReflectTile<P, 1, kNorms, true>(r, c, norms, end - c);
        return;
    }
    for (; c < end; ++c) ReflectTile<Scalar<>, 1, kNorms>(r, c, norms);
}

// The reflection applied to columns [begin, end); norms (when not null) receives, for those columns,
// the sum of the squares of the rows' new values in row order.
template <typename P>
RCNET_INLINE void ReflectLanes(const Reflection& r, size_t begin, size_t end, double* norms) {
    if (norms) {
        ReflectColumns<P, true>(r, begin, end, norms);
    } else {
        ReflectColumns<P, false>(r, begin, end, norms);
    }
}

// The active level's.
inline void Reflect(const Reflection& r, size_t begin, size_t end, double* norms) {
    Active().reflect(r, begin, end, norms);
}

// The fold's block (src/Solver/QrSolver.cpp): a few reflectors, each mixing one row of the triangular
// factor (its head, which the block's other reflectors do not touch) with the same rows, applied in
// order to a run of columns. A tile of columns takes them all while its rows stay in the first-level
// cache: each column still gets one reflector after the other, with the plain loop's operations.
struct FoldBlock {
    double* const* heads;
    const double* const* u;  // per reflector, an entry per row
    const double* taus;
    size_t reflectors;
    double* const* rows;
    size_t count;
    bool rowsDone;  // the rows are not needed after the block: the last reflector leaves them as they are
};

template <typename P, size_t NV, bool kPartial = false>
RCNET_INLINE void FoldBlockTile(const FoldBlock& block, size_t c, size_t lanes = 0) {
    constexpr size_t W = P::kLanes;
    const FoldBlock b = block;  // a copy the stores below cannot change, kept in registers
    typename P::V t[NV], s[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) t[v] = P::Set(0.0);  // set by each reflector before it is owed
    for (size_t q = 0; q <= b.reflectors; ++q) {
        const bool update = q > 0 && (q < b.reflectors || !b.rowsDone), sums = q < b.reflectors;
        const double* owed = q > 0 ? b.u[q - 1] : nullptr;
        const double* next = sums ? b.u[q] : nullptr;
        if (sums) {
#pragma GCC unroll 8
            for (size_t v = 0; v < NV; ++v) s[v] = LoadLanes<P, kPartial>(b.heads[q] + c + v * W, lanes);
        }
        if (update && sums) {
            for (size_t i = 0; i < b.count; ++i) {
                // Read before the stores, which the compiler cannot tell apart from them.
                double* row = b.rows[i] + c;
                const double o = owed[i], n = next[i];
#pragma GCC unroll 8
                for (size_t v = 0; v < NV; ++v) {
                    const typename P::V x = LoadLanes<P, kPartial>(row + v * W, lanes) - t[v] * o;
                    StoreLanes<P, kPartial>(row + v * W, lanes, x);
                    s[v] = s[v] + x * n;
                }
            }
        } else if (sums) {
            for (size_t i = 0; i < b.count; ++i) {
                const double* row = b.rows[i] + c;
                const double n = next[i];
#pragma GCC unroll 8
                for (size_t v = 0; v < NV; ++v) s[v] = s[v] + LoadLanes<P, kPartial>(row + v * W, lanes) * n;
            }
        } else if (update) {
            for (size_t i = 0; i < b.count; ++i) {
                double* row = b.rows[i] + c;
                const double o = owed[i];
#pragma GCC unroll 8
                for (size_t v = 0; v < NV; ++v)
                    StoreLanes<P, kPartial>(row + v * W, lanes,
                                            LoadLanes<P, kPartial>(row + v * W, lanes) - t[v] * o);
            }
        }
        if (sums) {
#pragma GCC unroll 8
            for (size_t v = 0; v < NV; ++v) {
                t[v] = s[v] * b.taus[q];
                double* head = b.heads[q] + c + v * W;
                StoreLanes<P, kPartial>(head, lanes, LoadLanes<P, kPartial>(head, lanes) - t[v]);
            }
        }
    }
}

// Columns [begin, end).
template <typename P>
RCNET_INLINE void FoldBlockLanes(const FoldBlock& b, size_t begin, size_t end) {
    // The sums and the owed t per column block: the owed t is read from memory when the registers run
    // out.
    constexpr size_t NV = kReflectVectors<P, false>, W = P::kLanes;
    size_t c = begin;
    for (; c + NV * W <= end; c += NV * W) FoldBlockTile<P, NV>(b, c);
    if constexpr (W > 1) {
        for (; c + W <= end; c += W) FoldBlockTile<P, 1>(b, c);
    }
    if constexpr (P::kMaskedTail) {
        if (c < end) FoldBlockTile<P, 1, true>(b, c, end - c);
        return;
    }
    for (; c < end; ++c) FoldBlockTile<Scalar<>, 1>(b, c);
}

inline void Fold(const FoldBlock& b, size_t begin, size_t end) {
    Active().foldBlock(b, begin, end);
}

}  // namespace rcnet::kernels

RCNET_VECTOR_CODE_END
