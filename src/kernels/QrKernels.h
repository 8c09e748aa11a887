// The stable readout's kernel: one Householder reflection applied to a run of columns. Each column gets
// its own sum in row order and its own updates, so the vectors only run columns side by side: every
// width gives the plain loop's bits.
#pragma once

#include <cstddef>

#include "src/kernels/Kernels.h"
#include "src/kernels/Vec.h"

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

// Columns [c, c + NV lanes): s = head + u[0] row_0 + u[1] row_1 + ..; t = tau s; head -= t;
// row_i -= u[i] t. With kNorms, norms receives each column's sum of the new rows' squares, row order.
template <typename P, size_t NV, bool kNorms>
RCNET_INLINE void ReflectTile(const Reflection& r, size_t c, double* norms) {
    constexpr size_t W = P::kLanes;
    typename P::V s[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) s[v] = P::Load(r.head + c + v * W);
    for (size_t i = 0; i < r.count; ++i) {
        const double* row = r.rows[i] + c;
        const double ui = r.u[i];
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) s[v] = s[v] + P::Load(row + v * W) * ui;
    }
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        s[v] = s[v] * r.tau;
        P::Store(r.head + c + v * W, P::Load(r.head + c + v * W) - s[v]);
    }
    typename P::V n[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) n[v] = P::Set(0.0);
    for (size_t i = 0; i < r.count; ++i) {
        double* row = r.rows[i] + c;
        const double ui = r.u[i];
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) {
            const typename P::V x = P::Load(row + v * W) - s[v] * ui;
            P::Store(row + v * W, x);
            if constexpr (kNorms) n[v] = n[v] + x * x;
        }
    }
    if constexpr (kNorms) {
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) P::Store(norms + c + v * W, n[v]);
    }
}

// Accumulators per tile: with the norms' as many again and a loaded value, they fill the registers.
template <typename P>
constexpr size_t kReflectVectors = P::kRegisters >= 32   ? 8
                                   : P::kRegisters >= 16 ? 4
                                                         : 2;

template <typename P, bool kNorms>
RCNET_INLINE void ReflectColumns(const Reflection& r, size_t begin, size_t end, double* norms) {
    constexpr size_t NV = kReflectVectors<P>, W = P::kLanes;
    size_t c = begin;
    for (; c + NV * W <= end; c += NV * W) ReflectTile<P, NV, kNorms>(r, c, norms);
    if constexpr (W > 1) {
        for (; c + W <= end; c += W) ReflectTile<P, 1, kNorms>(r, c, norms);
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

}  // namespace rcnet::kernels
