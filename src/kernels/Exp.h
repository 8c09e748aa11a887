// e^x with the same bits on every target. C libraries differ in the last bit of exp() for about one
// argument in 1,500 (mingw's 32-bit exp and glibc's disagree that often), and one differing bit in a
// reservoir step spreads to every later state. This is glibc's table-driven algorithm as glibc runs it
// on processors with fused multiply-add, with every fusion made explicit, so it gives exactly what
// glibc's exp() gives on this project's machines and the same on the 32-bit DLL. Error below 0.51 ulp.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

#include "src/kernels/ExpTable.h"
#include "src/kernels/Fma.h"
#include "src/kernels/Vec.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet {
namespace exp_detail {

// The scalar pack's bit casts (always inlined, so a copy compiled for newer instructions is never shared).
using Bitwise = kernels::Scalar<>;
inline uint32_t Top12(double x) {
    return static_cast<uint32_t>(Bitwise::Bits(x) >> 52);
}

constexpr double kInvLn2N = 0x1.71547652b82fep0 * 128;
constexpr double kNegLn2HiN = -0x1.62e42fefa0000p-8;
constexpr double kNegLn2LoN = -0x1.cf79abc9e3b3ap-47;
constexpr double kShift = 0x1.8p52;
constexpr double kC2 = 0x1.ffffffffffdbdp-2;
constexpr double kC3 = 0x1.555555555543cp-3;
constexpr double kC4 = 0x1.55555cf172b91p-5;
constexpr double kC5 = 0x1.1111167a4d017p-7;

// The main path's exponents, Top12(2^-54) <= Top12(|x|) < Top12(512).
constexpr int64_t kMainLow = 0x3c9;
constexpr int64_t kMainHigh = 0x408;

// What the main path leaves for the last step: e^x = scale + scale * tmp, scale's bits being sbits.
template <typename P>
struct Reduced {
    typename P::V tmp;
    typename P::U sbits;
    typename P::U ki;
};

// The main path over a pack (src/kernels/Vec.h): one double, or one per lane with the same operations.
template <typename P>
RCNET_INLINE Reduced<P> Reduce(const typename P::V& x) {
    using V = typename P::V;
    using U = typename P::U;
    // x = k ln2/128 + r with |r| <= ln2/256; e^x = 2^(k/128) e^r.
    V kd = P::Fma(P::Set(kInvLn2N), x, P::Set(kShift));
    const U ki = P::Bits(kd);
    kd = kd - P::Set(kShift);
    const V r = P::Fma(kd, P::Set(kNegLn2LoN), P::Fma(kd, P::Set(kNegLn2HiN), x));
    const U idx = ki % 128 * 2;
    const V tail = P::FromBits(P::Lookup(kTable, idx));
    const U sbits = P::Lookup(kTable + 1, idx) + (ki << 45);
    const V r2 = r * r;
    const V tmp = P::Fma(r2 * r2, P::Fma(r, P::Set(kC5), P::Set(kC4)),
                         P::Fma(r2, P::Fma(r, P::Set(kC3), P::Set(kC2)), tail + r));
    return {tmp, sbits, ki};
}

// |x| >= 512, where the scale's exponent over- or underflows.
template <typename F>
RCNET_INLINE double SpecialCase(double tmp, uint64_t sbits, uint64_t ki) {
    if ((ki & 0x80000000) == 0) {
        sbits -= 1009ull << 52;
        const double scale = Bitwise::FromBits(sbits);
        return 0x1p1009 * F::Apply(scale, tmp, scale);
    }
    sbits += 1022ull << 52;
    const double scale = Bitwise::FromBits(sbits);
    // glibc shares this product between y and lo instead of fusing it.
    const double product = scale * tmp;
    double y = scale + product;
    if (y < 1.0) {
        // Round once to the final precision before scaling into the subnormal range.
        double lo = scale - y + product;
        const double hi = 1.0 + y;
        lo = 1.0 - hi + y + lo;
        y = (hi + lo) - 1.0;
        if (y == 0.0) y = 0.0;
    }
    return 0x1p-1022 * y;
}

// F: the fused multiply-add (src/kernels/Fma.h).
template <typename F>
RCNET_INLINE double ExpWith(double x) {
    uint32_t abstop = Top12(x) & 0x7ff;
    if (abstop - Top12(0x1p-54) >= Top12(512.0) - Top12(0x1p-54)) {
        if (abstop - Top12(0x1p-54) >= 0x80000000u) return 1.0 + x;  // |x| < 2^-54, zero included
        if (abstop >= Top12(1024.0)) {
            if (Bitwise::Bits(x) == Bitwise::Bits(-std::numeric_limits<double>::infinity())) return 0.0;
            if (abstop >= Top12(std::numeric_limits<double>::infinity())) return 1.0 + x;  // +inf, NaN
            return (Bitwise::Bits(x) >> 63) ? 0.0 : std::numeric_limits<double>::infinity();
        }
        abstop = 0;  // 512 <= |x| < 1024: finished in SpecialCase
    }
    const Reduced<kernels::Scalar<F>> m = Reduce<kernels::Scalar<F>>(x);
    if (abstop == 0) return SpecialCase<F>(m.tmp, m.sbits, m.ki);
    const double scale = Bitwise::FromBits(m.sbits);
    return F::Apply(scale, m.tmp, scale);
}

// e^x lane by lane with ExpWith's operations where that takes its main path; the lanes where it does
// not (tiny, huge, infinite or NaN arguments) are set in `outside` and hold no particular value.
template <typename P>
RCNET_INLINE typename P::V ExpLanes(const typename P::V& x, typename P::Mask& outside) {
    const typename P::I abstop = P::Signed(P::Bits(x) >> 52 & 0x7ff);
    outside = P::Or(P::IntLess(abstop, kMainLow), P::Not(P::IntLess(abstop, kMainHigh)));
    const Reduced<P> m = Reduce<P>(x);
    const typename P::V scale = P::FromBits(m.sbits);
    return P::Fma(scale, m.tmp, scale);
}

}  // namespace exp_detail

// The algorithm with the portable fused multiply-add (exact everywhere, slower where emulated).
inline double ExpPortable(double x) {
    return exp_detail::ExpWith<PortableFma>(x);
}

// The same bits as ExpPortable, with the processor's fused multiply-add at the levels that have one
// (src/kernels/Kernels.h: the active level's table).
double Exp(double x);

}  // namespace rcnet

RCNET_VECTOR_CODE_END
