// The ridge chosen by blocked cross-validation: the tridiagonal solves against plain elimination, the
// choice on clean and on noisy data, and the export beside a ridge set by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "include/rcnet.h"
#include "src/RidgeChoice.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"

namespace {

using namespace rcnet;

double Uniform(uint64_t& seed) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(seed >> 11) / double(uint64_t{1} << 53) * 2.0 - 1.0;
}

// (A + ridge I) x = b by Gaussian elimination with partial pivoting.
Vector Eliminate(std::vector<double> a, size_t n, double ridge, Vector b) {
    for (size_t i = 0; i < n; ++i) a[i * n + i] += ridge;
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c])) p = r;
        for (size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[p * n + k]);
        std::swap(b[c], b[p]);
        for (size_t r = c + 1; r < n; ++r) {
            const double f = a[r * n + c] / a[c * n + c];
            for (size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    Vector x(n);
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t k = i + 1; k < n; ++k) s -= a[i * n + k] * x[k];
        x[i] = s / a[i * n + i];
    }
    return x;
}

TEST(RidgeSolver, SolvesAsEliminationDoesAndFindsTheLargestEigenvalue) {
    uint64_t seed = 5;
    for (size_t n : {1, 2, 3, 9, 24}) {
        // M M^T, with a zero row and column where n allows: a column needing no reflection.
        std::vector<double> m(n * n), a(n * n, 0.0);
        for (double& v : m) v = Uniform(seed);
        if (n > 3)
            for (size_t k = 0; k < n; ++k) m[2 * n + k] = 0.0;
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j)
                for (size_t k = 0; k < n; ++k) a[i * n + j] += m[i * n + k] * m[j * n + k];
        Vector b(n);
        for (double& v : b) v = Uniform(seed);
        const RidgeSolver solver(a, n);
        for (double ridge : {1e-3, 1.0, 30.0}) {
            Vector x;
            ASSERT_TRUE(solver.Solve(ridge, b, x));
            const Vector expected = Eliminate(a, n, ridge, b);
            for (size_t i = 0; i < n; ++i)
                EXPECT_NEAR(x[i], expected[i], 1e-9 * (1 + std::fabs(expected[i])));
        }
        // The largest eigenvalue against power iteration.
        Vector v(n, 1.0), w(n);
        double lambda = 0.0;
        for (int step = 0; step < 3000; ++step) {
            double norm = 0.0;
            for (size_t i = 0; i < n; ++i) {
                w[i] = 0.0;
                for (size_t j = 0; j < n; ++j) w[i] += a[i * n + j] * v[j];
                norm += w[i] * w[i];
            }
            lambda = std::sqrt(norm);
            for (size_t i = 0; i < n; ++i) v[i] = w[i] / lambda;
        }
        EXPECT_NEAR(solver.LargestEigenvalue(), lambda, 1e-9 * lambda) << n;
    }
    // Eigenvalues -1, 2 and 3: a ridge of 0.5 leaves a negative pivot, 2 does not.
    const RidgeSolver indefinite({-1, 0, 0, 0, 2, 0, 0, 0, 3}, 3);
    Vector x;
    EXPECT_FALSE(indefinite.Solve(0.5, {1, 1, 1}, x));
    ASSERT_TRUE(indefinite.Solve(2.0, {1, 1, 1}, x));
    EXPECT_DOUBLE_EQ(x[0], 1.0);
    EXPECT_DOUBLE_EQ(indefinite.LargestEigenvalue(), 3.0);
}

TEST(RidgeChoice, NearNothingOnCleanDataLargeOnNoise) {
    uint64_t seed = 9;
    const size_t rows = 600, n = 6;
    std::vector<SolverPattern> states(rows);
    Matrix clean(rows), noise(rows);
    for (size_t r = 0; r < rows; ++r) {
        states[r].values.resize(n);
        double y = 0.3;
        for (size_t j = 0; j < n; ++j) y += (double(j) - 2.5) * (states[r].values[j] = Uniform(seed));
        clean[r] = {y, -2 * y};
        noise[r] = {Uniform(seed)};
    }
    const RidgeChoice exact = ChooseRidge(states, clean);
    EXPECT_LE(exact.ridge, 1e-10);
    ASSERT_EQ(exact.errors.size(), kRidgeGridSize);
    EXPECT_TRUE(std::isnan(exact.errors[0]));  // below the Gram matrix's resolution
    EXPECT_GE(ChooseRidge(states, noise).ridge, 10.0);

    const std::vector<SolverPattern> few(states.begin(), states.begin() + 9);
    const RidgeChoice none = ChooseRidge(few, Matrix(noise.begin(), noise.begin() + 9));
    EXPECT_EQ(none.ridge, 1e-6);
    EXPECT_TRUE(none.errors.empty());
}

class ChooseRegularization : public test::NetIdsTest<7500, 3> {};

TEST_F(ChooseRegularization, TrainsAsTheRidgeSetByHandAndRefusesWhatTrainingRefuses) {
    for (int id : {7500, 7501}) {
        test::BuildSignalNet(id, 1, 2, true, 30, 400, 21, 1);
        ASSERT_EQ(SetNetWashout(id, 20), 1);
    }
    double chosen = -1;
    ASSERT_EQ(ChooseNetRegularization(7500, &chosen), 1);
    EXPECT_GT(chosen, 0.0);
    EXPECT_LE(chosen, 1e3);
    std::vector<double> state(30, 1.0);
    ASSERT_EQ(GetNetState(7500, 30, state.data()), 1);
    EXPECT_EQ(state, std::vector<double>(30, 0.0));  // left as found

    ASSERT_EQ(SetNetRegularization(7501, &chosen), 1);
    ASSERT_EQ(LearnNet(7500), 1);
    ASSERT_EQ(LearnNet(7501), 1);
    EXPECT_TRUE(test::SameBits(test::NetOf(7500).OutputWeights(), test::NetOf(7501).OutputWeights()));

    // Nothing stored, and a target that is not finite: refused, the ridge left alone.
    ASSERT_EQ(RegisterUsage(7502, 1, 1, 1), 1);
    EXPECT_EQ(ChooseNetRegularization(7502, &chosen), 0);
    test::AddMixedReservoir(7502, 3, 10, 0, 1, 30, 20, 1);
    std::vector<double> ins(50, 0.5), targets(50, 0.25);
    targets[40] = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(AddPatternsToNet(7502, 50, 1, ins.data(), 1, targets.data()), 1);
    const double before = chosen;
    EXPECT_EQ(ChooseNetRegularization(7502, &chosen), 0);
    EXPECT_EQ(chosen, before);
}

}  // namespace
