// The stable readout's kernels: Householder reflections applied to a run of columns. Each column gets
// its own sums in row order and its own updates, so the vectors only run columns side by side: every
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

// Vectors per tile: the sums' chains run side by side while the rows stream past. With the norms'
// sums too they would not fit the registers, so those tiles are half as wide.
template <typename P, bool kNorms>
constexpr size_t kReflectVectors = (P::kRegisters >= 16 ? 8 : 4) / (kNorms ? 2 : 1);

template <typename P, bool kNorms>
RCNET_INLINE void ReflectColumns(const Reflection& r, size_t begin, size_t end, double* norms) {
    constexpr size_t NV = kReflectVectors<P, kNorms>, W = P::kLanes;
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

// The fold's step (src/Solver/QrSolver.cpp): the rows still owe the previous reflector its update
// row_i -= prev[i] t, t its column's value from the step before; the head (a row of the triangular
// factor, which the previous reflector did not touch) starts the next reflector's sums. One pass over
// the rows does both, each column's operations in the order of applying one reflector after the other.
struct FoldStep {
    double* head;
    double* const* rows;
    size_t count;
    const double* prev;  // the previous reflector's u, or null: nothing owed
    const double* next;  // the next reflector's u, or null: only the update
    double tau;          // the next reflector's
    double* t;           // per column: in, the previous reflector's t; out, the next one's
};

template <typename P, size_t NV, bool kPrev, bool kNext>
RCNET_INLINE void FoldStepTile(const FoldStep& f, size_t c) {
    constexpr size_t W = P::kLanes;
    typename P::V t[NV], s[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        if constexpr (kPrev) t[v] = P::Load(f.t + c + v * W);
        if constexpr (kNext) s[v] = P::Load(f.head + c + v * W);
    }
    for (size_t i = 0; i < f.count; ++i) {
        double* row = f.rows[i] + c;
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) {
            typename P::V x = P::Load(row + v * W);
            if constexpr (kPrev) {
                x = x - t[v] * f.prev[i];
                P::Store(row + v * W, x);
            }
            if constexpr (kNext) s[v] = s[v] + x * f.next[i];
        }
    }
    if constexpr (kNext) {
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v) {
            s[v] = s[v] * f.tau;
            P::Store(f.head + c + v * W, P::Load(f.head + c + v * W) - s[v]);
            P::Store(f.t + c + v * W, s[v]);
        }
    }
}

template <typename P, bool kPrev, bool kNext>
RCNET_INLINE void FoldStepColumns(const FoldStep& f, size_t begin, size_t end) {
    // Two vectors per column block: the sums and the owed t.
    constexpr size_t NV = kReflectVectors<P, true>, W = P::kLanes;
    size_t c = begin;
    for (; c + NV * W <= end; c += NV * W) FoldStepTile<P, NV, kPrev, kNext>(f, c);
    if constexpr (W > 1) {
        for (; c + W <= end; c += W) FoldStepTile<P, 1, kPrev, kNext>(f, c);
    }
    for (; c < end; ++c) FoldStepTile<Scalar<>, 1, kPrev, kNext>(f, c);
}

// Columns [begin, end): the owed update (when prev), then the next reflector's sums, head and t (when
// next).
template <typename P>
RCNET_INLINE void FoldStepLanes(const FoldStep& f, size_t begin, size_t end) {
    if (f.prev && f.next) {
        FoldStepColumns<P, true, true>(f, begin, end);
    } else if (f.next) {
        FoldStepColumns<P, false, true>(f, begin, end);
    } else if (f.prev) {
        FoldStepColumns<P, true, false>(f, begin, end);
    }
}

inline void Fold(const FoldStep& f, size_t begin, size_t end) {
    Active().foldStep(f, begin, end);
}

}  // namespace rcnet::kernels
