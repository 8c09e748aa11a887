// The neurons' activation functions over whole arrays, for the reservoir step: runs of one type a
// vector at a time, with the neurons' own formulas (src/Neurons.h) after the exponential's main path
// lane by lane (src/kernels/Exp.h). Every lane outside that path (tiny, huge, infinite or NaN
// arguments) is recomputed by the scalar function, so each result has ActivationValue's bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/Neurons.h"
#include "src/kernels/Exp.h"
#include "src/kernels/Vec.h"

namespace rcnet::kernels {

// F: SigmoidFunction or BiSigmoidFunction. Saturated lanes never call Exp(), so they are not redone.
template <typename P, typename F>
RCNET_INLINE typename P::V SaturatedLanes(const typename P::V& x, typename P::Mask& redo) {
    const typename P::V e = exp_detail::ExpLanes<P>(x, redo);
    const typename P::Mask high = P::Greater(x, P::Set(F::kBound)), low = P::Less(x, P::Set(-F::kBound));
    redo = P::AndNot(redo, P::Or(high, low));
    const typename P::V y = P::Select(low, P::Set(F::kBelow), F::OfExp(e));
    return P::Select(high, P::Set(F::kAbove), y);
}

// ActivationValue(type, x) in every lane not set in `redo`.
template <typename P>
RCNET_INLINE typename P::V ActivationLanes(int32_t type, const typename P::V& x, typename P::Mask& redo) {
    switch (type) {
        case ETYPE_SIGMOID:
            return SaturatedLanes<P, SigmoidFunction>(x, redo);
        case ETYPE_BISIGMOID:
            return SaturatedLanes<P, BiSigmoidFunction>(x, redo);
        case ETYPE_RSDN:
            redo = typename P::Mask{};
            return RSDNFunction::ValueOf<P>(x);
        default:
            redo = typename P::Mask{};
            return x;
    }
}

// out[j] = ActivationValue(types[j], in[j]) for j < count; out may be in.
template <typename P>
RCNET_INLINE void Activate(const int32_t* types, const double* in, double* out, size_t count) {
    constexpr size_t W = P::kLanes;
    // n lanes from j on; the flagged ones again through the scalar function, from a copy (out may be in).
    const auto lanes = [&](int32_t type, size_t j, size_t n) __attribute__((always_inline)) {
        double x[W] = {};
        std::memcpy(x, in + j, n * sizeof(double));
        typename P::Mask redo;
        const typename P::V y = ActivationLanes<P>(type, P::Load(x), redo);
        if constexpr (P::kMaskedTail) {
            P::StoreFirst(out + j, n, y);
        } else {
            P::Store(out + j, y);
        }
        unsigned bits = P::MaskBits(redo) & ((2u << (n - 1)) - 1);
        for (size_t l = 0; bits; ++l, bits >>= 1)
            if (bits & 1) out[j + l] = ActivationValue(type, x[l]);
    };
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
        for (; j + W <= end; j += W) lanes(type, j, W);
        // The run's last lanes: masked where the pack can, else one by one.
        if constexpr (P::kMaskedTail) {
            if (j < end) lanes(type, j, end - j);
            j = end;
        }
        for (; j < end; ++j) out[j] = ActivationValue(type, in[j]);
    }
}

}  // namespace rcnet::kernels
