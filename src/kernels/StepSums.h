// The reservoir step's sums over its flat plan (src/StepPlan.h lays it out): each term is a multiply
// and then an add to its running sum, which starts at +0, in the plan's order; lanes only run several
// sums side by side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/kernels/Vec.h"

namespace rcnet::kernels {

// Neurons per slice of the step plan.
constexpr size_t kSliceLanes = 16;

// sums[l] = the sum of weight[i * 16 + l] * carried[source[i * 16 + l]] over i < terms, for l < 16.
template <typename P>
RCNET_INLINE void SumSlice(const double* weight, const uint32_t* source, size_t terms, const double* carried,
                           double* sums) {
    constexpr size_t W = P::kLanes, kVectors = kSliceLanes / W;
    // Running sums in half the registers at most; the loads and products take the rest.
    constexpr size_t kPass = kVectors < P::kRegisters / 2 ? kVectors : P::kRegisters / 2;
    static_assert(kVectors % kPass == 0, "passes of equal width");
    for (size_t v0 = 0; v0 < kVectors; v0 += kPass) {
        typename P::V acc[kPass];
        for (size_t v = 0; v < kPass; ++v) acc[v] = P::Set(0.0);
        const double* w = weight + v0 * W;
        const uint32_t* s = source + v0 * W;
        for (size_t i = 0; i < terms; ++i, w += kSliceLanes, s += kSliceLanes) {
#pragma GCC unroll 16
            for (size_t v = 0; v < kPass; ++v)
                acc[v] = P::Load(w + v * W) * P::Gather(carried, s + v * W) + acc[v];
        }
        for (size_t v = 0; v < kPass; ++v) P::Store(sums + (v0 + v) * W, acc[v]);
    }
}

// sums[j] = the sum of rows[i][j] * inputs[i] over i < rowCount in order, for begin <= j < end: a
// vector of columns at a time in registers instead of a pass over the sums per row.
template <typename P>
RCNET_INLINE void SumInputColumns(const double* const* rows, const double* inputs, size_t rowCount,
                                  double* sums, size_t begin, size_t end) {
    constexpr size_t W = P::kLanes;
    size_t j = begin;
    for (; j + W <= end; j += W) {
        typename P::V acc = P::Set(0.0);
        for (size_t i = 0; i < rowCount; ++i) acc = P::Load(rows[i] + j) * P::Set(inputs[i]) + acc;
        P::Store(sums + j, acc);
    }
    if constexpr (W > 1) SumInputColumns<Scalar<>>(rows, inputs, rowCount, sums, j, end);
}

template <typename P>
RCNET_INLINE void SumInputs(const double* const* rows, const double* inputs, size_t rowCount, double* sums,
                            size_t columns) {
    SumInputColumns<P>(rows, inputs, rowCount, sums, 0, columns);
}

}  // namespace rcnet::kernels
