// Fused multiply-add, a * b + c with one rounding, exact on every target. The exponential needs it to
// give the same bits everywhere. glibc's fma() is correctly rounded; mingw's 32-bit one is not (it
// rounds twice), so there the operation is emulated with plain double arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "src/kernels/Vec.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet {
namespace fma_detail {

// s + e == a + b exactly.
template <typename T>
RCNET_INLINE void TwoSum(const T& a, const T& b, T& s, T& e) {
    s = a + b;
    const T bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// p + e == a * b exactly (Dekker), for |a|, |b| below 2^995 and products far from underflow.
template <typename T>
RCNET_INLINE void TwoProduct(const T& a, const T& b, T& p, T& e) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const T ca = kSplitter * a;
    const T ah = ca - (ca - a);
    const T al = a - ah;
    const T cb = kSplitter * b;
    const T bh = cb - (cb - b);
    const T bl = b - bh;
    p = a * b;
    e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

// x + y rounded to odd: exact when representable, otherwise the neighbour with an odd last bit.
inline double AddRoundToOdd(double x, double y) {
    double s, e;
    TwoSum(x, y, s, e);
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    if (e != 0 && (bits & 1) == 0) {
        bits += ((e > 0) == (s > 0)) ? 1 : static_cast<uint64_t>(-1);
        std::memcpy(&s, &bits, sizeof s);
    }
    return s;
}

// The same over the lanes of a pack, the branch as arithmetic: where the sum was inexact and came out
// even, one unit in the last place towards e (a step of 1 or 0, negated where e and s point apart).
template <typename P>
RCNET_INLINE typename P::V AddRoundToOddLanes(const typename P::V& x, const typename P::V& y) {
    using U = typename P::U;
    typename P::V s, e;
    TwoSum(x, y, s, e);
    const typename P::V zero = P::Set(0.0);
    const U step = (~P::Bits(s) & 1) & P::Ones(P::Or(P::Less(e, zero), P::Greater(e, zero)));
    const U negate = P::Ones(P::Greater(e, zero)) ^ P::Ones(P::Greater(s, zero));
    return P::FromBits(P::Bits(s) + ((step ^ negate) - negate));
}

}  // namespace fma_detail

// Boldo and Melquiond's emulation: the exact product, a two-sum with c, the low parts added with
// rounding to odd, one final rounding to nearest. Exact for finite operands away from overflow and from
// the subnormal range, which covers every use in this library.
inline double FmaEmulated(double a, double b, double c) {
    const double product = a * b;
    if (product == 0 || !std::isfinite(product) || !std::isfinite(c)) return product + c;
    double uh, ul, th, tl;
    fma_detail::TwoProduct(a, b, uh, ul);
    fma_detail::TwoSum(c, uh, th, tl);
    return th + fma_detail::AddRoundToOdd(tl, ul);
}

// FmaEmulated lane by lane over a pack (src/kernels/Vec.h), its branches as selections: the lanes of
// the SSE2 level where the C library's fma() is not exact.
template <typename P>
RCNET_INLINE typename P::V FmaEmulatedLanes(const typename P::V& a, const typename P::V& b,
                                            const typename P::V& c) {
    using V = typename P::V;
    const V product = a * b;
    V uh, ul, th, tl;
    fma_detail::TwoProduct(a, b, uh, ul);
    fma_detail::TwoSum(c, uh, th, tl);
    const V fused = th + fma_detail::AddRoundToOddLanes<P>(tl, ul);
    const V zero = P::Set(0.0), inf = P::Set(std::numeric_limits<double>::infinity());
    const typename P::Mask regular = P::And(P::Or(P::Less(product, zero), P::Greater(product, zero)),
                                            P::And(P::Less(P::Abs(product), inf), P::Less(P::Abs(c), inf)));
    return P::Select(regular, fused, product + c);
}

inline double Fma(double a, double b, double c) {
#if defined(__GLIBC__)
    return std::fma(a, b, c);
#else
    return FmaEmulated(a, b, c);
#endif
}

// The exponential's fused multiply-add, as a policy: F::Apply(a, b, c) rounds a * b + c once.
struct PortableFma {
    static double Apply(double a, double b, double c) { return Fma(a, b, c); }
};

#if defined(__x86_64__) || defined(__i386__)
// The processor's instruction, for functions built for a level that has one (src/kernels/Kernels.cpp)
// and nowhere else: there __builtin_fma would become a call to the C library's fma(), which on 32-bit
// Windows rounds twice. (The tests compare every level's exponential with the portable one.)
struct HardwareFma {
    __attribute__((always_inline)) static double Apply(double a, double b, double c) {
        return __builtin_fma(a, b, c);
    }
};
#endif

namespace kernels {

// A pack without the instruction, with the emulation as its Fma.
template <typename P>
struct EmulatedFma : P {
    static RCNET_INLINE typename P::V Fma(const typename P::V& a, const typename P::V& b,
                                          const typename P::V& c) {
        return FmaEmulatedLanes<P>(a, b, c);
    }
};

}  // namespace kernels

}  // namespace rcnet

RCNET_VECTOR_CODE_END
