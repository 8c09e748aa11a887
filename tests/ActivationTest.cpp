#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "src/Activations.h"
#include "src/kernels/Kernels.h"
#include "tests/support/Levels.h"
#include "tests/support/SameBits.h"

namespace {

using namespace rcnet;
using rcnet::test::Bits;
using rcnet::test::ForEachLevel;

// Arguments from every region the functions treat differently: the saturation bounds, Exp()'s main
// range and its edges (2^-54, 512), zeros, subnormals, infinities, NaNs, and random bit patterns.
std::vector<double> Arguments() {
    std::vector<double> xs;
    const double inf = std::numeric_limits<double>::infinity();
    for (double edge : {20.0, -20.0, 0x1p-54, -0x1p-54, 512.0, -512.0, 709.0, -745.0, 1024.0, 0.0,
                        std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(), 1.0}) {
        double x = edge;
        for (int i = 0; i < 4; ++i) x = std::nextafter(x, inf);
        for (int i = 0; i < 9; ++i, x = std::nextafter(x, -inf)) {
            xs.push_back(x);
            xs.push_back(-x);
        }
    }
    for (double edge : {inf, -inf, std::numeric_limits<double>::quiet_NaN(), -0.0}) xs.push_back(edge);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wide(-25.0, 25.0), unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-70, 12);
    for (int i = 0; i < 200000; ++i) {
        xs.push_back(wide(rng));
        xs.push_back(std::ldexp(unit(rng), scale(rng)));
        double any;
        const uint64_t bits = rng();
        std::memcpy(&any, &bits, sizeof any);
        xs.push_back(any);
    }
    return xs;
}

void ExpectScalarBits(const std::vector<int32_t>& types, const std::vector<double>& xs) {
    std::vector<double> out(xs.size());
    kernels::Active().activate(types.data(), xs.data(), out.data(), xs.size());
    for (size_t j = 0; j < xs.size(); ++j) {
        const double expected = ActivationValue(types[j], xs[j]);
        ASSERT_EQ(Bits(out[j]), Bits(expected)) << "type " << types[j] << " x " << xs[j] << " at " << j;
    }
    std::vector<double> inPlace = xs;
    kernels::Active().activate(types.data(), inPlace.data(), inPlace.data(), inPlace.size());
    ASSERT_EQ(std::memcmp(inPlace.data(), out.data(), out.size() * sizeof(double)), 0) << "in place";
}

TEST(Activation, VectorLanesGiveTheScalarBits) {
    const std::vector<double> xs = Arguments();
    ForEachLevel([&](cpu::Level) {
        for (int32_t type = 0; type < 4; ++type) ExpectScalarBits(std::vector<int32_t>(xs.size(), type), xs);
    });
}

// Types changing inside a vector's width, and runs of every length.
TEST(Activation, MixedTypesAndShortRuns) {
    const std::vector<double> all = Arguments();
    const std::vector<double> xs(all.begin(), all.begin() + 20000);
    std::mt19937 rng(3);
    std::vector<int32_t> types;
    while (types.size() < xs.size()) {
        const int32_t type = static_cast<int32_t>(rng() % 4);
        const size_t run = 1 + rng() % 19;
        for (size_t i = 0; i < run && types.size() < xs.size(); ++i) types.push_back(type);
    }
    ForEachLevel([&](cpu::Level) {
        ExpectScalarBits(types, xs);
        for (size_t count = 0; count < 20; ++count) {
            std::vector<double> out(count);
            kernels::Active().activate(types.data(), xs.data(), out.data(), count);
            for (size_t j = 0; j < count; ++j)
                ASSERT_EQ(Bits(out[j]), Bits(ActivationValue(types[j], xs[j])));
        }
    });
}

}  // namespace
