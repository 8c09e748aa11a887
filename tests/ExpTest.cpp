#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>

#include "src/kernels/Exp.h"
#include "src/kernels/Fma.h"
#include "src/kernels/Vec.h"
#include "tests/support/SameBits.h"

#if defined(__GLIBC__) && defined(__x86_64__)
#include <quadmath.h>
#define RCNET_HAVE_QUAD 1
#endif

namespace {

using rcnet::test::Bits;

// Operands shaped like those of the exponential and of general use: mixed magnitudes, and sums that
// cancel almost completely (where a double rounding shows).
struct Triple {
    double a, b, c;
};
[[maybe_unused]] Triple RandomTriple(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-60, 60);
    Triple t{std::ldexp(unit(rng), scale(rng)), std::ldexp(unit(rng), scale(rng)), 0};
    switch (rng() % 3) {
        case 0:
            t.c = std::ldexp(unit(rng), scale(rng));
            break;
        case 1:
            t.c = -(t.a * t.b) * (1 + std::ldexp(static_cast<double>(rng() % 64) - 32, -52));
            break;
        default:
            t.c = -(t.a * t.b);
    }
    return t;
}

#ifdef RCNET_HAVE_QUAD
// The exactly rounded result, from 113-bit arithmetic: a*b is exact there, and so is the sum whenever
// the exponents are within 60 of each other (they are, by construction); one rounding to double.
double ReferenceFma(double a, double b, double c) {
    return static_cast<double>(static_cast<__float128>(a) * b + c);
}
#endif

TEST(Fma, EmulationIsExactlyRounded) {
#ifndef RCNET_HAVE_QUAD
    GTEST_SKIP() << "needs 113-bit floating point for the reference";
#else
    std::mt19937_64 rng(7);
    for (int i = 0; i < 2000000; ++i) {
        const Triple t = RandomTriple(rng);
        const double reference = ReferenceFma(t.a, t.b, t.c);
        ASSERT_EQ(Bits(rcnet::FmaEmulated(t.a, t.b, t.c)), Bits(reference))
            << t.a << " " << t.b << " " << t.c;
        ASSERT_EQ(Bits(rcnet::Fma(t.a, t.b, t.c)), Bits(reference));
    }
#endif
}

TEST(Fma, SpecialOperands) {
    const double inf = HUGE_VAL;
    EXPECT_EQ(rcnet::FmaEmulated(0.0, 5.0, -3.0), -3.0);
    EXPECT_EQ(rcnet::FmaEmulated(2.0, 3.0, 0.0), 6.0);
    EXPECT_EQ(rcnet::FmaEmulated(inf, 2.0, 1.0), inf);
    EXPECT_TRUE(std::isnan(rcnet::FmaEmulated(inf, 0.0, 1.0)));
    EXPECT_TRUE(std::isnan(rcnet::FmaEmulated(1.0, 1.0, std::nan(""))));
    // (1 + 2^-30)(1 - 2^-30) - 1 is -2^-60 exactly; without the fusion the product rounds to 1 first.
    const double e = std::ldexp(1.0, -30);
    EXPECT_EQ(rcnet::FmaEmulated(1 + e, 1 - e, -1.0), -std::ldexp(1.0, -60));
}

// The lanes' emulation (the SSE2 level's where the C library's fma() is not exact) against the scalar
// one, which the test above holds to the exact result; also zeros, infinities and NaN.
TEST(Fma, LanesAreTheScalarEmulation) {
    using P = rcnet::kernels::Sse2;
    std::mt19937_64 rng(9);
    const double specials[] = {0.0, -0.0, HUGE_VAL, -HUGE_VAL, std::nan(""), 1e-300, 3.0};
    for (int i = 0; i < 1000000; ++i) {
        Triple t[2] = {RandomTriple(rng), RandomTriple(rng)};
        if (i % 16 == 0) t[1].c = specials[rng() % 7];
        if (i % 16 == 1) t[0].a = specials[rng() % 7];
        if (i % 16 == 2) t[1].b = specials[rng() % 7];
        const P::V a = {t[0].a, t[1].a}, b = {t[0].b, t[1].b}, c = {t[0].c, t[1].c};
        double lanes[2];
        P::Store(lanes, rcnet::FmaEmulatedLanes<P>(a, b, c));
        for (int l = 0; l < 2; ++l) {
            const double scalar = rcnet::FmaEmulated(t[l].a, t[l].b, t[l].c);
            ASSERT_TRUE(Bits(lanes[l]) == Bits(scalar) || (std::isnan(lanes[l]) && std::isnan(scalar)))
                << t[l].a << " " << t[l].b << " " << t[l].c;
        }
    }
}

TEST(Exp, TableIsTwoToTheKOver128) {
#ifndef RCNET_HAVE_QUAD
    GTEST_SKIP() << "needs 113-bit floating point for the reference";
#else
    for (uint64_t k = 0; k < 128; ++k) {
        const __float128 exact = exp2q(static_cast<__float128>(k) / 128);
        const double h = static_cast<double>(exact);
        // 113 bits leave about 60 for the tail, so its last bit is checked only to within one unit.
        const double tail = static_cast<double>((exact - h) / h);
        EXPECT_EQ(rcnet::exp_detail::kTable[2 * k + 1] + (k << 45), Bits(h)) << k;
        const int64_t tailDistance = static_cast<int64_t>(rcnet::exp_detail::kTable[2 * k] - Bits(tail));
        EXPECT_LE(std::abs(tailDistance), 1) << k;
    }
#endif
}

TEST(Exp, CloseToTheTrueValueEverywhere) {
#ifndef RCNET_HAVE_QUAD
    GTEST_SKIP() << "needs 113-bit floating point for the reference";
#else
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wide(-745.0, 709.0);
    std::uniform_real_distribution<double> active(-20.0, 20.0);
    for (int i = 0; i < 1000000; ++i) {
        const double x = i % 2 ? wide(rng) : active(rng);
        const __float128 exact = expq(x);
        const double got = rcnet::Exp(x);
        const double ulp = std::nextafter(static_cast<double>(exact), HUGE_VAL) - static_cast<double>(exact);
        if (ulp == 0 || !std::isfinite(ulp)) continue;
        ASSERT_LE(std::fabs(static_cast<double>((got - exact) / ulp)), 0.52) << x;
    }
#endif
}

// Whichever fused multiply-add the process picked, the bits are those of the portable algorithm.
TEST(Exp, DispatchedAndPortableAgree) {
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> wide(-746.0, 710.0);
    std::uniform_real_distribution<double> active(-21.0, 21.0);
    for (int i = 0; i < 2000000; ++i) {
        const double x = i % 2 ? wide(rng) : active(rng);
        ASSERT_EQ(Bits(rcnet::Exp(x)), Bits(rcnet::ExpPortable(x))) << x;
    }
    for (double x : {0.0, -0.0, 1e-300, HUGE_VAL, -HUGE_VAL, 709.78, -745.1, -708.5}) {
        EXPECT_EQ(Bits(rcnet::Exp(x)), Bits(rcnet::ExpPortable(x))) << x;
    }
}

TEST(Exp, SpecialArguments) {
    EXPECT_EQ(rcnet::Exp(0.0), 1.0);
    EXPECT_EQ(rcnet::Exp(-0.0), 1.0);
    EXPECT_EQ(rcnet::Exp(1e-300), 1.0);
    EXPECT_EQ(rcnet::Exp(HUGE_VAL), HUGE_VAL);
    EXPECT_EQ(rcnet::Exp(-HUGE_VAL), 0.0);
    EXPECT_EQ(rcnet::Exp(710.0), HUGE_VAL);
    EXPECT_EQ(rcnet::Exp(-746.0), 0.0);
    EXPECT_TRUE(std::isnan(rcnet::Exp(std::nan(""))));
    EXPECT_EQ(rcnet::Exp(1.0), 0x1.5bf0a8b145769p+1);  // e, correctly rounded
    EXPECT_LT(rcnet::Exp(709.78), HUGE_VAL);
    EXPECT_GT(rcnet::Exp(-740.0), 0.0) << "subnormal results are kept";
}

// On glibc machines with fused multiply-add (this project's), the library's exp() runs the same
// algorithm: every result must be identical, including the 512 <= |x| paths.
TEST(Exp, SameBitsAsTheSystemExponential) {
#if !defined(__GLIBC__) || !defined(__x86_64__)
    GTEST_SKIP() << "the system exponential is not glibc's";
#else
    if (!__builtin_cpu_supports("fma")) GTEST_SKIP() << "glibc uses its variant without fma here";
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> wide(-745.2, 709.8);
    std::uniform_real_distribution<double> active(-20.0, 20.0);
    std::uniform_real_distribution<double> small(-0.01, 0.01);
    long differ = 0;
    for (int i = 0; i < 3000000; ++i) {
        const double x = i % 3 == 0 ? wide(rng) : i % 3 == 1 ? active(rng) : small(rng);
        if (Bits(rcnet::Exp(x)) != Bits(std::exp(x))) ++differ;
    }
    EXPECT_EQ(differ, 0);
#endif
}

}  // namespace
