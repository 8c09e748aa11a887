#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "src/OnlineReadout.h"
#include "tests/support/EigenQrSolver.h"
#include "tests/support/Internals.h"
#include "tests/support/ReferenceOnlineReadout.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/Sanitizers.h"

namespace {

using namespace rcnet;
using rcnet::test::ReferenceOnlineReadout;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;

// Uniform in [-1, 1) from the generator's bits alone, the same on every standard library.
class Source {
public:
    explicit Source(uint64_t seed) : m_Rng(seed) {}
    double Next() { return static_cast<double>(m_Rng() >> 11) * 0x1p-52 - 1.0; }
    Vector Values(size_t count) {
        Vector v(count);
        for (double& x : v) x = Next();
        return v;
    }
    Matrix Rows(size_t rows, size_t count) {
        Matrix m(rows);
        for (Vector& row : m) row = Values(count);
        return m;
    }

private:
    std::mt19937_64 m_Rng;
};

// Targets of a linear map of the regressor plus noise.
Vector Targets(const Matrix& truth, const Vector& state, bool threshold, Source& noise, double level) {
    Vector y(truth.size());
    for (size_t o = 0; o < truth.size(); ++o) {
        double sum = threshold ? truth[o].back() : 0.0;
        for (size_t i = 0; i < state.size(); ++i) sum += truth[o][i] * state[i];
        y[o] = sum + level * noise.Next();
    }
    return y;
}

// max |a - b| over max |b|, per row, the worst row.
double RelativeError(const Matrix& a, const Matrix& b) {
    double worst = 0.0;
    for (size_t r = 0; r < b.size(); ++r) {
        double error = 0.0, scale = 0.0;
        for (size_t i = 0; i < b[r].size(); ++i) {
            error = std::max(error, std::fabs(a[r][i] - b[r][i]));
            scale = std::max(scale, std::fabs(b[r][i]));
        }
        worst = std::max(worst, std::isfinite(error) ? error / scale : INFINITY);
    }
    return worst;
}

// The exact minimiser of sum_i forgetting^(t-i) |y_i - W x_i|^2 + delta forgetting^t |W - W0|^2 plus the
// regularisation rows rho e_k e_k^T toward W0 after each step, from its normal equations (R = sum
// forgetting^(t-i) x x^T + delta forgetting^t I + the rows, b_o likewise), accumulated and solved by
// Cholesky in long double.
class ExactWeightedRidge {
public:
    ExactWeightedRidge(size_t neurons, bool threshold, double forgetting, double delta, const Matrix& start)
        : m_N(neurons),
          m_M(neurons + (threshold ? 1 : 0)),
          m_Forgetting(forgetting),
          m_R(m_M, std::vector<long double>(m_M, 0.0L)),
          m_B(start.size(), std::vector<long double>(m_M, 0.0L)),
          m_X(m_M, 1.0L),
          m_Start(start),
          m_Rho(OnlineReadout::kLastingShare * delta *
                (1.0L - std::pow(static_cast<long double>(forgetting), static_cast<long double>(m_M)))) {
        for (size_t i = 0; i < m_M; ++i) m_R[i][i] = delta;
        for (size_t o = 0; o < start.size(); ++o)
            for (size_t i = 0; i < m_M; ++i) m_B[o][i] = static_cast<long double>(delta) * start[o][i];
    }

    void Update(const double* state, const double* targets) {
        for (size_t i = 0; i < m_N; ++i) m_X[i] = state[i];
        for (size_t i = 0; i < m_M; ++i)
            for (size_t j = 0; j <= i; ++j) m_R[i][j] = m_Forgetting * m_R[i][j] + m_X[i] * m_X[j];
        for (size_t o = 0; o < m_B.size(); ++o)
            for (size_t i = 0; i < m_M; ++i)
                m_B[o][i] = m_Forgetting * m_B[o][i] + static_cast<long double>(targets[o]) * m_X[i];
        if (m_Rho == 0.0L) return;
        const size_t k = m_Steps++ % m_M;
        m_R[k][k] += m_Rho;
        for (size_t o = 0; o < m_B.size(); ++o) m_B[o][k] += m_Rho * m_Start[o][k];
    }

    Matrix Solve() const {
        std::vector<std::vector<long double>> l(m_M, std::vector<long double>(m_M, 0.0L));
        for (size_t j = 0; j < m_M; ++j) {
            long double d = m_R[j][j];
            for (size_t k = 0; k < j; ++k) d -= l[j][k] * l[j][k];
            l[j][j] = std::sqrt(d);
            for (size_t i = j + 1; i < m_M; ++i) {
                long double s = m_R[i][j];
                for (size_t k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
                l[i][j] = s / l[j][j];
            }
        }
        Matrix w(m_B.size(), Vector(m_M));
        for (size_t o = 0; o < m_B.size(); ++o) {
            std::vector<long double> z(m_M);
            for (size_t i = 0; i < m_M; ++i) {
                long double s = m_B[o][i];
                for (size_t k = 0; k < i; ++k) s -= l[i][k] * z[k];
                z[i] = s / l[i][i];
            }
            for (size_t i = m_M; i-- > 0;) {
                long double s = z[i];
                for (size_t k = i + 1; k < m_M; ++k) s -= l[k][i] * z[k];
                z[i] = s / l[i][i];
            }
            for (size_t i = 0; i < m_M; ++i) w[o][i] = static_cast<double>(z[i]);
        }
        return w;
    }

private:
    size_t m_N, m_M;
    long double m_Forgetting;
    std::vector<std::vector<long double>> m_R, m_B;
    std::vector<long double> m_X;
    Matrix m_Start;
    long double m_Rho;
    size_t m_Steps = 0;
};

double SymmetricRelativeError(const Matrix& a, const Matrix& b) {
    double error = 0.0, scale = 0.0;
    for (size_t i = 0; i < b.size(); ++i)
        for (size_t j = 0; j < b.size(); ++j) {
            error = std::max(error, std::fabs(a[i][j] - b[i][j]));
            scale = std::max(scale, std::fabs(b[i][j]));
        }
    return error / scale;
}

// --- the start ---------------------------------------------------------------------------------------

TEST(OnlineReadoutStart, ZeroWeightsAndTheRegularisedCovariance) {
    OnlineReadout readout(3, true, 2, 0.99, 4.0);
    EXPECT_EQ(readout.Size(), 4u);
    EXPECT_EQ(readout.Steps(), 0u);
    EXPECT_EQ(readout.Weights(), Matrix(2, Vector(4, 0.0)));
    Matrix p(4, Vector(4, 0.0));
    for (size_t i = 0; i < 4; ++i) p[i][i] = 0.25;
    EXPECT_EQ(readout.Covariance(), p);
}

TEST(OnlineReadoutStart, GivenWeightsStayWithoutData) {
    Source source(1);
    const Matrix start = source.Rows(3, 6);
    OnlineReadout readout(5, true, 3, 0.95, 0.1);
    ASSERT_TRUE(readout.Start(start));
    EXPECT_TRUE(SameBits(readout.Weights(), start));
    // A state of zeros without a threshold carries no information: the weights stay, and each
    // coordinate's information only fades by the forgetting and takes its regularisation row in turn.
    OnlineReadout silent(5, false, 3, 0.95, 0.1);
    const Matrix rows = {Vector(start[0].begin(), start[0].end() - 1),
                         Vector(start[1].begin(), start[1].end() - 1),
                         Vector(start[2].begin(), start[2].end() - 1)};
    ASSERT_TRUE(silent.Start(rows));
    const Vector zeros(5, 0.0), targets = source.Values(3);
    for (int t = 0; t < 50; ++t) ASSERT_TRUE(silent.Update(zeros.data(), targets.data()));
    EXPECT_TRUE(SameBits(silent.Weights(), rows));
    EXPECT_EQ(silent.Steps(), 50u);
    std::vector<double> information(5, 0.1);
    for (int t = 0; t < 50; ++t) {
        for (double& v : information) v *= 0.95;
        information[t % 5] += OnlineReadout::kLastingShare * 0.1 * (1 - std::pow(0.95, 5));
    }
    const Matrix p = silent.Covariance();
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = 0; j < 5; ++j)
            EXPECT_NEAR(p[i][j], i == j ? 1 / information[i] : 0.0, 1e-12 / information[i]);
}

TEST(OnlineReadoutStart, RestartForgetsTheSteps) {
    Source source(2);
    OnlineReadout fresh(4, true, 2, 0.9, 1.0), used(4, true, 2, 0.9, 1.0);
    for (int t = 0; t < 20; ++t) {
        const Vector x = source.Values(4), y = source.Values(2);
        used.Update(x.data(), y.data());
    }
    const Matrix start = source.Rows(2, 5);
    ASSERT_TRUE(used.Start(start));
    ASSERT_TRUE(fresh.Start(start));
    EXPECT_EQ(used.Steps(), 0u);
    for (int t = 0; t < 20; ++t) {
        const Vector x = source.Values(4), y = source.Values(2);
        used.Update(x.data(), y.data());
        fresh.Update(x.data(), y.data());
    }
    EXPECT_TRUE(SameBits(used.Weights(), fresh.Weights()));
    EXPECT_TRUE(SameBits(used.Covariance(), fresh.Covariance()));
}

// --- against independent solutions -------------------------------------------------------------------

// The plain covariance form is accurate over a short run on well-conditioned data.
TEST(OnlineReadoutAgreement, PlainCovarianceFormOverShortRuns) {
    for (const double forgetting : {1.0, 0.99, 0.9}) {
        for (const bool threshold : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "forgetting " << forgetting << ", threshold " << threshold);
            Source source(3);
            const size_t n = 6, outputs = 3;
            const Matrix truth = source.Rows(outputs, n + 1);
            const Matrix start = source.Rows(outputs, n + (threshold ? 1 : 0));
            OnlineReadout readout(n, threshold, outputs, forgetting, 0.5);
            ASSERT_TRUE(readout.Start(start));
            ReferenceOnlineReadout plain(n, threshold, outputs, forgetting, 0.5, start);
            for (int t = 0; t < 200; ++t) {
                const Vector x = source.Values(n), y = Targets(truth, x, threshold, source, 0.1);
                ASSERT_TRUE(readout.Update(x.data(), y.data()));
                plain.Update(x.data(), y.data());
            }
            EXPECT_EQ(readout.Steps(), 200u);
            EXPECT_LT(RelativeError(readout.Weights(), plain.w), 1e-9);
            EXPECT_LT(SymmetricRelativeError(readout.Covariance(), plain.p), 1e-9);
        }
    }
}

// Without forgetting the weights are the ridge solution toward W0 of the whole batch, here from a QR
// factorisation of the stacked system [X; sqrt(delta) I] w = [y; sqrt(delta) w0], also with fewer
// steps than weights.
TEST(OnlineReadoutAgreement, NoForgettingIsBatchRidgeTowardTheStart) {
    for (const int steps : {5, 60}) {
        SCOPED_TRACE(steps);
        Source source(4);
        const size_t n = 8, m = 9, outputs = 2;
        const double delta = 0.3;
        const Matrix truth = source.Rows(outputs, m), start = source.Rows(outputs, m);
        OnlineReadout readout(n, true, outputs, 1.0, delta);
        ASSERT_TRUE(readout.Start(start));
        Matrix a(steps + m, Vector(m, 0.0)), b(steps + m, Vector(outputs, 0.0));
        for (int t = 0; t < steps; ++t) {
            const Vector x = source.Values(n), y = Targets(truth, x, true, source, 0.2);
            ASSERT_TRUE(readout.Update(x.data(), y.data()));
            std::copy(x.begin(), x.end(), a[t].begin());
            a[t][n] = 1.0;
            b[t] = y;
        }
        for (size_t i = 0; i < m; ++i) {
            a[steps + i][i] = std::sqrt(delta);
            for (size_t o = 0; o < outputs; ++o) b[steps + i][o] = std::sqrt(delta) * start[o][i];
        }
        const Matrix expected = test::DirectLeastSquares(a, b);
        EXPECT_LT(RelativeError(readout.Weights(), expected), 1e-8);
    }
}

// The outputs share the factor and nothing else: each output's weights are those of a run of its own.
TEST(OnlineReadoutAgreement, SeveralOutputsAreSingleOutputRuns) {
    Source source(5);
    const size_t n = 7, outputs = 4;
    const Matrix start = source.Rows(outputs, n + 1);
    OnlineReadout all(n, true, outputs, 0.98, 2.0);
    ASSERT_TRUE(all.Start(start));
    std::vector<OnlineReadout> single;
    for (size_t o = 0; o < outputs; ++o) {
        single.emplace_back(n, true, 1, 0.98, 2.0);
        ASSERT_TRUE(single.back().Start({start[o]}));
    }
    for (int t = 0; t < 100; ++t) {
        const Vector x = source.Values(n), y = source.Values(outputs);
        ASSERT_TRUE(all.Update(x.data(), y.data()));
        for (size_t o = 0; o < outputs; ++o) ASSERT_TRUE(single[o].Update(x.data(), &y[o]));
    }
    for (size_t o = 0; o < outputs; ++o) {
        EXPECT_TRUE(SameBits(all.Weights()[o], single[o].Weights()[0])) << o;
        EXPECT_TRUE(SameBits(all.Covariance(), single[o].Covariance())) << o;
    }
}

TEST(OnlineReadoutAgreement, SameInputsSameBits) {
    const auto run = [] {
        Source source(6);
        OnlineReadout readout(30, true, 3, 0.995, 0.01);
        for (int t = 0; t < 300; ++t) {
            const Vector x = source.Values(30), y = source.Values(3);
            readout.Update(x.data(), y.data());
        }
        return std::make_pair(readout.Weights(), readout.Covariance());
    };
    const auto first = run(), second = run();
    EXPECT_TRUE(SameBits(first.first, second.first));
    EXPECT_TRUE(SameBits(first.second, second.second));
}

// --- long runs ---------------------------------------------------------------------------------------

struct DriftResult {
    double factored = 0.0;  // the largest relative weight error at any checkpoint
    double plain = 0.0;
};

// 10^6 steps of 12 states and a threshold: uniform states, with stretches of a constant state and of
// states in a plane (every 100,000 steps, 10,000 steps each), compared with the exact weights every
// 5,000 steps. Under forgetting 0.999 a stretch leaves the unexcited directions e^-10 of their weight: the
// exact problem's condition reaches about 1e7.
DriftResult Drift(double forgetting) {
    // Two of the 100,000-step cycles under a sanitizer, ten in the plain build.
    const size_t n = 12, outputs = 2, steps = test::kUnderSanitizer ? 200000 : 1000000;
    const double delta = 1e-2;
    Source source(7);
    const Matrix truth = source.Rows(outputs, n + 1);
    const Vector constant = source.Values(n);
    const Matrix plane = source.Rows(2, n);
    OnlineReadout readout(n, true, outputs, forgetting, delta);
    ReferenceOnlineReadout plain(n, true, outputs, forgetting, delta);
    ExactWeightedRidge exact(n, true, forgetting, delta, Matrix(outputs, Vector(n + 1, 0.0)));
    DriftResult result;
    Vector x(n);
    for (size_t t = 1; t <= steps; ++t) {
        const size_t phase = t % 100000;
        if (phase >= 60000 && phase < 70000) {
            x = constant;
        } else if (phase >= 80000 && phase < 90000) {
            const double a = source.Next(), b = source.Next();
            for (size_t i = 0; i < n; ++i) x[i] = a * plane[0][i] + b * plane[1][i];
        } else {
            x = source.Values(n);
        }
        const Vector y = Targets(truth, x, true, source, 0.1);
        EXPECT_TRUE(readout.Update(x.data(), y.data()));
        plain.Update(x.data(), y.data());
        exact.Update(x.data(), y.data());
        if (t % 5000 == 0) {
            const Matrix w = exact.Solve();
            result.factored = std::max(result.factored, RelativeError(readout.Weights(), w));
            result.plain = std::max(result.plain, RelativeError(plain.w, w));
        }
    }
    return result;
}

TEST(OnlineReadoutLongRun, StaysWithTheExactSolution) {
    for (const double forgetting : {0.999, 1.0}) {
        SCOPED_TRACE(forgetting);
        const DriftResult drift = Drift(forgetting);
        std::cout << "forgetting " << forgetting << ": largest relative weight error " << drift.factored
                  << " (plain covariance form " << drift.plain << ")\n";
        EXPECT_LT(drift.factored, 1e-9);
    }
}

// 60,000 steps of one constant state under forgetting 0.999: without the regularisation rows P would
// grow by e^60 in the directions the state leaves out; with them it stays below I / (kLastingShare delta
// forgetting^m) while it shrinks along the state, and the factored weights stay with the exact ones
// through the stretch and after it.
TEST(OnlineReadoutLongRun, ConstantStateWindup) {
    const size_t n = 12, outputs = 2;
    Source source(7);
    const Matrix truth = source.Rows(outputs, n + 1);
    const Vector constant = source.Values(n);
    OnlineReadout readout(n, true, outputs, 0.999, 1e-2);
    ReferenceOnlineReadout plain(n, true, outputs, 0.999, 1e-2);
    ExactWeightedRidge exact(n, true, 0.999, 1e-2, Matrix(outputs, Vector(n + 1, 0.0)));
    const double bound = 1 / (OnlineReadout::kLastingShare * 1e-2 * std::pow(0.999, n + 1));
    double largest = 0.0, factoredDuring = 0.0, factoredAfter = 0.0, plainAfter = 0.0;
    for (size_t t = 1; t <= 125000; ++t) {
        const Vector x = t > 40000 && t <= 100000 ? constant : source.Values(n);
        const Vector y = Targets(truth, x, true, source, 0.1);
        ASSERT_TRUE(readout.Update(x.data(), y.data()));
        plain.Update(x.data(), y.data());
        exact.Update(x.data(), y.data());
        if (t % 5000 == 0) {
            const Matrix w = exact.Solve(), p = readout.Covariance();
            for (size_t i = 0; i <= n; ++i) largest = std::max(largest, p[i][i]);
            double& error = t <= 100000 ? factoredDuring : factoredAfter;
            error = std::max(error, RelativeError(readout.Weights(), w));
            if (t > 110000) plainAfter = std::max(plainAfter, RelativeError(plain.w, w));
        }
    }
    std::cout << "largest variance " << largest << " (bound " << bound << "); relative weight error during "
              << "the stretch " << factoredDuring << ", 10,000 steps after " << factoredAfter
              << " (plain form " << plainAfter << ")\n";
    EXPECT_LE(largest, bound);
    EXPECT_GT(largest, 0.5 * bound) << "the directions the state leaves out reach the bound";
    // During the stretch the problem's condition is about 1e11 (regularisation of 1e-8 against the
    // state's): the weights agree to what that allows, and exactly again once the states vary.
    EXPECT_LT(factoredDuring, 1e-4);
    EXPECT_LT(factoredAfter, 1e-9);
}

// --- refused input -----------------------------------------------------------------------------------

// A step with a value that is not finite, or whose error would overflow, is reported and changes
// nothing: the run goes on exactly as if it had never been offered.
TEST(OnlineReadoutRefused, BadStepsChangeNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = INFINITY;
    const size_t n = 5, outputs = 2;
    struct Bad {
        Vector x, y;
        std::string check;
    };
    const std::vector<Bad> bad = {
        {{0.1, nan, 0.2, 0.3, 0.4}, {1, 2}, "AllFinite(state, m_Neurons) @ OnlineReadout"},
        {{0.1, 0.2, -inf, 0.3, 0.4}, {1, 2}, "AllFinite(state, m_Neurons) @ OnlineReadout"},
        {{0.1, 0.2, 0.3, 0.4, 0.5}, {1, nan}, "AllFinite(targets, outputs) @ OnlineReadout"},
        {{0.1, 0.2, 0.3, 0.4, 0.5}, {inf, 2}, "AllFinite(targets, outputs) @ OnlineReadout"},
    };
    Source source(8);
    const Matrix start = source.Rows(outputs, n + 1);
    OnlineReadout clean(n, true, outputs, 0.97, 1.0), offered(n, true, outputs, 0.97, 1.0);
    ASSERT_TRUE(clean.Start(start));
    ASSERT_TRUE(offered.Start(start));
    for (int t = 0; t < 40; ++t) {
        const Vector x = source.Values(n), y = source.Values(outputs);
        ASSERT_TRUE(clean.Update(x.data(), y.data()));
        ASSERT_TRUE(offered.Update(x.data(), y.data()));
        if (t % 10 == 3) {
            const Bad& b = bad[t / 10];
            const Matrix weights = offered.Weights(), covariance = offered.Covariance();
            ReportCapture capture;
            EXPECT_FALSE(offered.Update(b.x.data(), b.y.data()));
            EXPECT_EQ(capture.Checks(), Checks{b.check});
            EXPECT_TRUE(SameBits(offered.Weights(), weights));
            EXPECT_TRUE(SameBits(offered.Covariance(), covariance));
        }
    }
    EXPECT_EQ(offered.Steps(), 40u);
    EXPECT_TRUE(SameBits(offered.Weights(), clean.Weights()));
    EXPECT_TRUE(SameBits(offered.Covariance(), clean.Covariance()));
}

// Steps whose arithmetic would overflow are refused where it shows, before anything changes.
TEST(OnlineReadoutRefused, OverflowChangesNothing) {
    struct Case {
        double delta, weight;
        Vector x;
        std::string check;
    };
    const std::vector<Case> cases = {
        {1.0, 1.0, {1e308, 1e308}, "AllFinite(m_Errors) @ OnlineReadout"},       // W x
        {1e-2, 0.0, {1e308, 1e308}, "AllFinite(m_Top) @ OnlineReadout"},         // x^T L
        {1.0, 0.0, {1.5e308, 1.5e308}, "std::isfinite(corner) @ OnlineReadout"}  // sqrt(1 + x^T P x)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.check);
        OnlineReadout readout(2, false, 1, 1.0, c.delta);
        ASSERT_TRUE(readout.Start({Vector(2, c.weight)}));
        const Matrix covariance = readout.Covariance();
        const double y = 1.0;
        ReportCapture capture;
        EXPECT_FALSE(readout.Update(c.x.data(), &y));
        EXPECT_EQ(capture.Checks(), Checks{c.check});
        EXPECT_EQ(readout.Steps(), 0u);
        EXPECT_EQ(readout.Weights(), Matrix(1, Vector(2, c.weight)));
        EXPECT_TRUE(SameBits(readout.Covariance(), covariance));
    }
}

// A change of weights too large for a double (gain 50, error 1e307) leaves the weights as they were; the
// covariance has taken the step.
TEST(OnlineReadoutRefused, OverflowingWeightsStay) {
    OnlineReadout readout(1, false, 1, 1.0, 1e-4);
    const double x = 1e-2, y = 1e307;
    ReportCapture capture;
    EXPECT_FALSE(readout.Update(&x, &y));
    EXPECT_EQ(capture.Checks(), Checks{"finite @ OnlineReadout"});
    EXPECT_EQ(readout.Weights(), Matrix(1, Vector{0.0}));
    EXPECT_EQ(readout.Steps(), 1u);
    // P = 1 / (delta + x^2)
    EXPECT_NEAR(readout.Covariance()[0][0], 1.0 / (1e-4 + 1e-4), 1e-9);
}

// Extreme but finite states are steps like any other: the factor's rotations neither overflow nor lose
// the step, and the weights stay finite.
TEST(OnlineReadoutRefused, HugeStatesAreTaken) {
    OnlineReadout readout(3, true, 1, 0.9, 1.0);
    const Vector x = {1e200, -1e200, 1e180}, y = {0.5};
    ReportCapture capture;
    ASSERT_TRUE(readout.Update(x.data(), y.data()));
    EXPECT_TRUE(capture.Lines().empty());
    // The prediction moves to the target: x^T P x >> forgetting, so the a posteriori error is tiny.
    const Vector& w = readout.Weights()[0];
    double prediction = w[3];
    for (size_t i = 0; i < 3; ++i) prediction += w[i] * x[i];
    EXPECT_NEAR(prediction, 0.5, 1e-9);
    for (const double v : w) EXPECT_TRUE(std::isfinite(v));
}

TEST(OnlineReadoutRefused, BadStartChangesNothing) {
    Source source(9);
    OnlineReadout readout(2, true, 2, 1.0, 1.0);
    const Matrix start = source.Rows(2, 3);
    ASSERT_TRUE(readout.Start(start));
    const Vector x = {0.3, -0.2}, y = {1.0, -1.0};
    ASSERT_TRUE(readout.Update(x.data(), y.data()));
    const Matrix weights = readout.Weights(), covariance = readout.Covariance();
    ReportCapture capture;
    EXPECT_FALSE(readout.Start(Matrix(3, Vector(3, 0.0))));
    EXPECT_FALSE(readout.Start({Vector(3, 0.0), Vector(2, 0.0)}));
    EXPECT_FALSE(readout.Start({Vector(3, 0.0), Vector{0.0, std::nan(""), 0.0}}));
    EXPECT_EQ(capture.Checks(),
              (Checks{"weights.size() == m_Weights.size() @ OnlineReadout",
                      "row.size() == m_Size @ OnlineReadout", "AllFinite(row) @ OnlineReadout"}));
    EXPECT_EQ(readout.Steps(), 1u);
    EXPECT_TRUE(SameBits(readout.Weights(), weights));
    EXPECT_TRUE(SameBits(readout.Covariance(), covariance));
}

TEST(OnlineReadoutRefused, UnsoundSettingsBecomeOne) {
    for (const double forgetting : {0.0, -0.5, 1.5, std::nan(""), double(INFINITY)}) {
        ReportCapture capture;
        const OnlineReadout readout(2, false, 1, forgetting, 0.5);
        EXPECT_EQ(test::ForgettingOf(readout), 1.0) << forgetting;
        EXPECT_EQ(test::RegularizationOf(readout), 0.5);
        EXPECT_EQ(capture.Checks(), Checks{"ValidForgetting(forgetting) @ OnlineReadout"});
    }
    for (const double delta : {0.0, -1.0, 1e-320, std::nan(""), double(INFINITY)}) {
        ReportCapture capture;
        const OnlineReadout readout(2, false, 1, 0.5, delta);
        EXPECT_EQ(test::ForgettingOf(readout), 0.5);
        EXPECT_EQ(test::RegularizationOf(readout), 1.0) << delta;
        EXPECT_EQ(capture.Checks(), Checks{"ValidRegularization(regularization) @ OnlineReadout"});
    }
    ReportCapture capture;
    const OnlineReadout smallest(2, false, 1, 1e-300, 1e-300);
    EXPECT_EQ(test::ForgettingOf(smallest), 1e-300);
    EXPECT_EQ(test::RegularizationOf(smallest), 1e-300);
    EXPECT_TRUE(capture.Lines().empty());
}

}  // namespace
