// Fused multiply-add, a * b + c with one rounding, exact on every target. The exponential below needs
// it to give the same bits everywhere. glibc's fma() is correctly rounded; mingw's 32-bit one is not
// (it rounds twice), so there the operation is emulated with plain double arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace rcnet {
namespace fma_detail {

// s + e == a + b exactly.
inline void TwoSum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// p + e == a * b exactly (Dekker), for |a|, |b| below 2^995 and products far from underflow.
inline void TwoProduct(double a, double b, double& p, double& e) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const double ca = kSplitter * a;
    const double ah = ca - (ca - a);
    const double al = a - ah;
    const double cb = kSplitter * b;
    const double bh = cb - (cb - b);
    const double bl = b - bh;
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

}  // namespace rcnet
