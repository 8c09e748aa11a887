// The reservoir step's kernels: the sums over its flat plan and the activations over whole arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/Activations.h"
#include "src/kernels/Exp.h"
#include "src/kernels/Vec.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet::kernels {

// ---- copies
// out[i] = in[i] for i < count, in whole vectors (the step moves a few arrays of its size each time, and
// a library call per copy costs as much as the copy where memcpy is not the C library's own: the DLL
// under wine). The arrays must not overlap.
template <typename P>
RCNET_INLINE void CopyLanes(double* out, const double* in, size_t count) {
    constexpr size_t W = P::kLanes;
    size_t i = 0;
    for (; i + 4 * W <= count; i += 4 * W) {
        const typename P::V a = P::Load(in + i), b = P::Load(in + i + W), c = P::Load(in + i + 2 * W),
                            d = P::Load(in + i + 3 * W);
        P::Store(out + i, a);
        P::Store(out + i + W, b);
        P::Store(out + i + 2 * W, c);
        P::Store(out + i + 3 * W, d);
    }
    for (; i + W <= count; i += W) P::Store(out + i, P::Load(in + i));
    if constexpr (P::kMaskedTail) {
        if (i < count) P::StoreFirst(out + i, count - i, P::LoadFirst(in + i, count - i));
    } else {
        for (; i < count; ++i) out[i] = in[i];
    }
}

// ---- the step's sums
// The reservoir step's sums over its flat plan (src/StepPlan.h lays it out): each term is a multiply
// and then an add to its running sum, which starts at +0, in the plan's order; lanes only run several
// sums side by side.

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
    // Four vectors of columns side by side: one column's chain of adds waits on each add before it.
    constexpr size_t kGroup = P::kRegisters >= 16 ? 4 : 2;
    size_t j = begin;
    for (; j + kGroup * W <= end; j += kGroup * W) {
        typename P::V acc[kGroup];
        for (auto& a : acc) a = P::Set(0.0);
        for (size_t i = 0; i < rowCount; ++i) {
            const typename P::V input = P::Set(inputs[i]);
            for (size_t g = 0; g < kGroup; ++g) acc[g] = P::Load(rows[i] + j + g * W) * input + acc[g];
        }
        for (size_t g = 0; g < kGroup; ++g) P::Store(sums + j + g * W, acc[g]);
    }
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

// ---- activations
// The neurons' activation functions over whole arrays, for the reservoir step: runs of one type a
// vector at a time, with the neurons' own formulas (src/Neurons.h) after the exponential's main path
// lane by lane (src/kernels/Exp.h). Every lane outside that path (tiny, huge, infinite or NaN
// arguments) is recomputed by the scalar function, so each result has ActivationValue's bits.

// F: SigmoidFunction or BiSigmoidFunction. Saturated lanes never call Exp(), so they are not redone.
template <typename P, typename F>
RCNET_INLINE typename P::V SaturatedLanes(const typename P::V& x, typename P::Mask& redo) {
    const typename P::V e = exp_detail::ExpLanes<P>(x, redo);
    const typename P::Mask high = P::Greater(x, P::Set(F::kBound)), low = P::Less(x, P::Set(-F::kBound));
    redo = P::AndNot(redo, P::Or(high, low));
    const typename P::V y = P::Select(low, P::Set(F::kBelow), F::OfExp(e));
    return P::Select(high, P::Set(F::kAbove), y);
}

// ActivationValue(kType, x) in every lane not set in `redo`.
template <typename P, int32_t kType>
RCNET_INLINE typename P::V ActivationLanes(const typename P::V& x, typename P::Mask& redo) {
    if constexpr (kType == ETYPE_SIGMOID) {
        return SaturatedLanes<P, SigmoidFunction>(x, redo);
    } else if constexpr (kType == ETYPE_BISIGMOID) {
        return SaturatedLanes<P, BiSigmoidFunction>(x, redo);
    } else if constexpr (kType == ETYPE_RSDN) {
        redo = typename P::Mask{};
        return RSDNFunction::ValueOf<P>(x);
    } else {
        redo = typename P::Mask{};
        return x;
    }
}

// n lanes from in to out, the flagged ones again through the scalar function from a copy (out may be in).
template <typename P, int32_t kType, bool kPartial>
RCNET_INLINE void ActivateVector(const double* in, double* out, size_t n) {
    typename P::V x;
    if constexpr (kPartial) {
        x = P::LoadFirst(in, n);
    } else {
        x = P::Load(in);
    }
    typename P::Mask redo;
    const typename P::V y = ActivationLanes<P, kType>(x, redo);
    unsigned bits = P::MaskBits(redo);
    if constexpr (kPartial) {
        P::StoreFirst(out, n, y);
        bits &= P::MaskBits(P::First(n));
    } else {
        P::Store(out, y);
    }
    if (bits == 0) return;
    double lanes[P::kLanes];
    P::Store(lanes, x);
    for (size_t l = 0; bits; ++l, bits >>= 1)
        if (bits & 1) out[l] = ActivationValue(kType, lanes[l]);
}

// A run of count neurons of type kType; its last lanes masked where the pack can, else one by one.
template <typename P, int32_t kType>
RCNET_INLINE void ActivateRun(const double* in, double* out, size_t count) {
    constexpr size_t W = P::kLanes;
    size_t j = 0;
    for (; j + W <= count; j += W) ActivateVector<P, kType, false>(in + j, out + j, W);
    if constexpr (P::kMaskedTail) {
        if (j < count) ActivateVector<P, kType, true>(in + j, out + j, count - j);
    } else {
        for (; j < count; ++j) out[j] = ActivationValue(kType, in[j]);
    }
}

// out[j] = ActivationValue(types[j], in[j]) for j < count; out may be in.
template <typename P>
RCNET_INLINE void Activate(const int32_t* types, const double* in, double* out, size_t count) {
    size_t j = 0;
    while (j < count) {
        const int32_t type = types[j];
        size_t end = j + 1;
        // Eight at a time first: most reservoirs have one type throughout.
        for (;;) {
            int32_t differ = 0;
            if (end + 8 > count) break;
            for (size_t i = 0; i < 8; ++i) differ |= types[end + i] ^ type;
            if (differ) break;
            end += 8;
        }
        while (end < count && types[end] == type) ++end;
        switch (type) {
            case ETYPE_SIGMOID:
                ActivateRun<P, ETYPE_SIGMOID>(in + j, out + j, end - j);
                break;
            case ETYPE_BISIGMOID:
                ActivateRun<P, ETYPE_BISIGMOID>(in + j, out + j, end - j);
                break;
            case ETYPE_RSDN:
                ActivateRun<P, ETYPE_RSDN>(in + j, out + j, end - j);
                break;
            default:
                ActivateRun<P, ETYPE_LINEAR>(in + j, out + j, end - j);
                break;
        }
        j = end;
    }
}

}  // namespace rcnet::kernels

RCNET_VECTOR_CODE_END
