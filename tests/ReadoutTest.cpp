// The readout settings beyond the original exports: the stable least-squares method, ridge, washout,
// state control and joint training.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "src/Solver/QrSolver.h"
#include "src/Solver/Solver.h"
#include "tests/support/EigenQrSolver.h"
#include "tests/support/FailingAlloc.h"
#include "tests/support/Internals.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReferenceNet.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;

using rcnet::test::BuildSignalNet;
using rcnet::test::NetOf;

// BuildSignalNet with this file's second neuron type (0) and target shift (0.1).
void BuildReadoutNet(int id, int in, int out, bool threshold, int neurons, int patterns, uint32_t seed = 11) {
    BuildSignalNet(id, in, out, threshold, neurons, patterns, seed, 0, 0.1);
}

class Readout : public test::NetIdsTest<7000, 10> {};

TEST_F(Readout, DefaultSettingsGiveTheSameWeights) {
    for (int method : {0, 1}) {
        BuildReadoutNet(7000, 2, 2, true, 30, 50);
        BuildReadoutNet(7001, 2, 2, true, 30, 50);
        const double zero = 0.0;
        ASSERT_EQ(SetNetReadoutSolver(7000, method), 1);
        ASSERT_EQ(SetNetReadoutSolver(7001, method), 1);
        ASSERT_EQ(SetNetRegularization(7001, &zero), 1);
        ASSERT_EQ(SetNetWashout(7001, 0), 1);
        ASSERT_EQ(LearnNet(7000), 1);
        ASSERT_EQ(LearnNet(7001), 1);
        EXPECT_TRUE(SameBits(NetOf(7000).OutputWeights(), NetOf(7001).OutputWeights())) << method;
        UnregisterUsage(7000);
        UnregisterUsage(7001);
    }
}

// Washout, ridge and joint training of the original method against their plain form, bit for bit.
TEST_F(Readout, NormalEquationsMatchThePlainForm) {
    for (bool threshold : {true, false}) {
        for (bool jointly : {false, true}) {
            for (size_t washout : {size_t{0}, size_t{9}}) {
                for (double ridge : {0.0, 1e-3}) {
                    BuildReadoutNet(7000, 2, 3, threshold, 24, 45);
                    BuildReadoutNet(7001, 2, 3, threshold, 24, 45);
                    Net& fast = NetOf(7000);
                    test::SetLearnChunkSize(fast, 7);
                    ASSERT_EQ(SetNetWashout(7000, int(washout)), 1);
                    ASSERT_EQ(SetNetRegularization(7000, &ridge), 1);
                    ASSERT_EQ(jointly ? LearnNetJointly(7000) : LearnNet(7000), 1);
                    const Matrix expected =
                        NetTestAccess::ReferenceLearnWith(NetOf(7001), washout, ridge, jointly);
                    EXPECT_TRUE(SameBits(fast.OutputWeights(), expected))
                        << threshold << jointly << " washout " << washout << " ridge " << ridge;
                    EXPECT_EQ(fast.Reservoir().StepCount(), jointly ? 45u : 135u);
                    UnregisterUsage(7000);
                    UnregisterUsage(7001);
                }
            }
        }
    }
}

TEST_F(Readout, JointlyWithOneOutputIsLearnNet) {
    for (int method : {0, 1}) {
        for (bool threshold : {true, false}) {
            BuildReadoutNet(7002, 3, 1, threshold, 20, 40);
            BuildReadoutNet(7003, 3, 1, threshold, 20, 40);
            ASSERT_EQ(SetNetReadoutSolver(7002, method), 1);
            ASSERT_EQ(SetNetReadoutSolver(7003, method), 1);
            ASSERT_EQ(LearnNet(7002), 1);
            ASSERT_EQ(LearnNetJointly(7003), 1);
            EXPECT_TRUE(SameBits(NetOf(7002).OutputWeights(), NetOf(7003).OutputWeights())) << method;
            EXPECT_EQ(NetOf(7003).Reservoir().StepCount(), 40u);
            UnregisterUsage(7002);
            UnregisterUsage(7003);
        }
    }
}

// The stable method's weights are the streamed QR of exactly the states the plain step gives, whatever
// the harvest's chunk size.
TEST_F(Readout, StableMethodFitsTheHarvestedStates) {
    for (bool jointly : {false, true}) {
        for (size_t chunk : {size_t{0}, size_t{1}, size_t{13}}) {
            const size_t washout = 5;
            const double ridge = jointly ? 1e-4 : 0.0;
            BuildReadoutNet(7004, 2, 2, true, 16, 60);
            BuildReadoutNet(7005, 2, 2, true, 16, 60);
            Net& fast = NetOf(7004);
            if (chunk) test::SetLearnChunkSize(fast, chunk);
            ASSERT_TRUE(fast.SetReadoutMethod(kStableQr) && fast.SetWashout(washout) && fast.SetRidge(ridge));
            ASSERT_TRUE(jointly ? fast.LearnJointly() : fast.Learn());

            Net& plain = NetOf(7005);
            Matrix expected;
            for (uint32_t c = 0; c < 2; ++c) {
                if (jointly && c == 1) break;
                const std::vector<Vector> states = NetTestAccess::ReferenceStates(plain, washout);
                QrSolver solver(16, true, jointly ? 2 : 1);
                for (size_t i = 0; i < states.size(); ++i) {
                    const Vector y = test::StoredOutputs(plain)[washout + i].ToVector();
                    solver.AddRow(states[i].data(), jointly ? y.data() : &y[c]);
                }
                Matrix w = solver.Solve(ridge);
                expected.insert(expected.end(), w.begin(), w.end());
            }
            EXPECT_TRUE(SameBits(fast.OutputWeights(), expected)) << jointly << " chunk " << chunk;
            UnregisterUsage(7004);
            UnregisterUsage(7005);
        }
    }
}

// A ridge of any size leaves the threshold weight to fit the targets' mean, in both methods: the stable
// readout's output follows the normal equations' (the value weights go to about 0 in both).
TEST_F(Readout, HugeRidgeKeepsTheThreshold) {
    for (double ridge : {1e32, 1e300}) {
        for (bool jointly : {false, true}) {
            BuildReadoutNet(7004, 1, 2, true, 12, 80);
            BuildReadoutNet(7005, 1, 2, true, 12, 80);
            ASSERT_EQ(SetNetReadoutSolver(7004, 1), 1);
            ASSERT_EQ(SetNetReadoutSolver(7005, 0), 1);
            for (int id : {7004, 7005}) {
                ASSERT_EQ(SetNetRegularization(id, &ridge), 1);
                ASSERT_EQ(jointly ? LearnNetJointly(id) : LearnNet(id), 1);
            }
            const Matrix stable = NetOf(7004).OutputWeights(), normal = NetOf(7005).OutputWeights();
            ASSERT_EQ(stable.size(), 2u);
            for (size_t c = 0; c < 2; ++c) {
                ASSERT_EQ(stable[c].size(), 13u);
                // The stored targets' mean: what a lone threshold weight fits.
                double mean = 0;
                for (size_t p = 0; p < 80; ++p) mean += test::StoredOutputs(NetOf(7004))[p][c];
                mean /= 80;
                EXPECT_GT(std::fabs(mean), 1e-3) << "a threshold weight worth keeping";
                EXPECT_NEAR(stable[c][12], mean, 1e-9 * std::fabs(mean)) << ridge << jointly;
                EXPECT_NEAR(stable[c][12], normal[c][12], 1e-9 * std::fabs(mean)) << ridge << jointly;
            }
            const double in = 0.3;
            double out[2][2] = {};
            ASSERT_EQ(PropagatePattern(7004, 1, &in, 2, out[0]), 1);
            ASSERT_EQ(PropagatePattern(7005, 1, &in, 2, out[1]), 1);
            for (size_t c = 0; c < 2; ++c) {
                EXPECT_GT(std::fabs(out[0][c]), 1e-3);
                EXPECT_NEAR(out[0][c], out[1][c], 1e-9 * std::fabs(out[1][c])) << ridge << jointly;
            }
            UnregisterUsage(7004);
            UnregisterUsage(7005);
        }
    }
}

TEST_F(Readout, WashoutThatLeavesNothingFailsAndChangesNothing) {
    for (bool jointly : {false, true}) {
        ReportCapture capture;
        BuildReadoutNet(7006, 1, 2, true, 10, 8);
        ASSERT_EQ(LearnNet(7006), 1);
        const Matrix trained = NetOf(7006).OutputWeights();
        const uint64_t steps = NetOf(7006).Reservoir().StepCount();
        ASSERT_EQ(SetNetWashout(7006, 8), 1);
        EXPECT_EQ(jointly ? LearnNetJointly(7006) : LearnNet(7006), 0);
        EXPECT_EQ(capture.Checks(), Checks{"m_Settings.washout < m_Inputs.size() @ Net"});
        EXPECT_TRUE(SameBits(NetOf(7006).OutputWeights(), trained));
        EXPECT_EQ(NetOf(7006).Reservoir().StepCount(), steps);
        ASSERT_EQ(SetNetWashout(7006, 7), 1);
        EXPECT_EQ(jointly ? LearnNetJointly(7006) : LearnNet(7006), 1) << "one pattern left to fit";
        UnregisterUsage(7006);
    }
}

TEST_F(Readout, SettingsStayWithTheNetworkAndOutOfItsFile) {
    test::TempDir dir;
    BuildReadoutNet(7001, 2, 1, true, 12, 30);
    ASSERT_EQ(LearnNet(7001), 1);
    ASSERT_EQ(SaveNetToFile(7001, dir.File("plain").c_str()), 1);
    const double ridge = 0.25;
    ASSERT_EQ(SetNetReadoutSolver(7001, 1), 1);
    ASSERT_EQ(SetNetRegularization(7001, &ridge), 1);
    ASSERT_EQ(SetNetWashout(7001, 3), 1);
    ASSERT_EQ(SaveNetToFile(7001, dir.File("set").c_str()), 1);
    EXPECT_EQ(test::ReadBytes(dir.File("plain")), test::ReadBytes(dir.File("set")));

    ASSERT_EQ(LoadNetFromFile(7001, dir.File("plain").c_str()), 1);
    const ReadoutSettings& s = test::SettingsOf(NetOf(7001));
    EXPECT_EQ(s.method, kStableQr);
    EXPECT_EQ(s.ridge, 0.25);
    EXPECT_EQ(s.washout, 3u);
}

TEST_F(Readout, ResetStateIsLikeAFreshlyLoadedFile) {
    test::TempDir dir;
    BuildReadoutNet(7000, 1, 1, false, 20, 30);
    ASSERT_EQ(LearnNet(7000), 1);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("net").c_str()), 1);
    // The file keeps 6 digits of each weight: both networks take the file's.
    ASSERT_EQ(LoadNetFromFile(7000, dir.File("net").c_str()), 1);
    ASSERT_EQ(RegisterUsage(7001, 1, 1, 0), 1);
    ASSERT_EQ(LoadNetFromFile(7001, dir.File("net").c_str()), 1);
    for (int step = 0; step < 5; ++step) {
        const double in = 0.3 * step;
        double out = 0;
        ASSERT_EQ(PropagatePattern(7000, 1, &in, 1, &out), 1);
    }

    std::vector<double> state(20, 1.0);
    ASSERT_EQ(GetNetState(7000, 20, state.data()), 1);
    EXPECT_TRUE(SameBits(state, NetOf(7000).Reservoir().States()));
    EXPECT_NE(state, std::vector<double>(20, 0.0));
    ASSERT_EQ(ResetNetState(7000), 1);
    ASSERT_EQ(GetNetState(7000, 20, state.data()), 1);
    EXPECT_EQ(state, std::vector<double>(20, 0.0));
    for (const NeuronRef& neuron : NetOf(7000).Reservoir().Neurons()) {
        EXPECT_EQ(neuron->m_Input, 0.0);
        EXPECT_EQ(neuron->m_InputActivation, 0.0);
        EXPECT_EQ(neuron->m_PrevState, 0.0);
        EXPECT_EQ(neuron->m_State, 0.0);
    }
    for (int step = 0; step < 15; ++step) {
        const double in = std::cos(step * 0.4);
        double a = 0, b = 0;
        ASSERT_EQ(PropagatePattern(7000, 1, &in, 1, &a), 1);
        ASSERT_EQ(PropagatePattern(7001, 1, &in, 1, &b), 1);
        ASSERT_TRUE(SameBits(Vector{a}, Vector{b})) << step;
    }
}

TEST_F(Readout, MisuseIsReportedAndChangesNothing) {
    ReportCapture capture;
    const double bad[] = {-1.0, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
    double out[4] = {7, 7, 7, 7};
    EXPECT_EQ(SetNetReadoutSolver(7007, 1), 0);
    EXPECT_EQ(SetNetRegularization(7007, bad), 0);
    EXPECT_EQ(SetNetWashout(7007, 1), 0);
    EXPECT_EQ(ResetNetState(7007), 0);
    EXPECT_EQ(GetNetState(7007, 0, out), 0);
    EXPECT_EQ(LearnNetJointly(7007), 0);
    Checks unknown;
    for (int call = 0; call < 6; ++call) {
        unknown.push_back("it != m_Nets.end() @ NetManager");
        unknown.push_back("net @ Exports");
    }
    EXPECT_EQ(capture.Checks(), unknown);
    capture.Clear();

    ASSERT_EQ(RegisterUsage(7007, 1, 1, 1), 1);
    AddNeuronsToNet(7007, 3, 1);
    EXPECT_EQ(GetNetState(7007, 3, out), 0) << "no state vector before the input matrix";
    InitNetInputMatrix(7007, 1);
    for (int method : {2, -1}) EXPECT_EQ(SetNetReadoutSolver(7007, method), 0);
    for (const double& value : bad) EXPECT_EQ(SetNetRegularization(7007, &value), 0);
    EXPECT_EQ(SetNetRegularization(7007, nullptr), 0);
    EXPECT_EQ(SetNetWashout(7007, -1), 0);
    EXPECT_EQ(GetNetState(7007, 2, out), 0);
    EXPECT_EQ(GetNetState(7007, -3, out), 0);
    EXPECT_EQ(GetNetState(7007, 3, nullptr), 0);
    EXPECT_EQ(out[0], 7.0);
    const Checks expected{"states.size() == size_t(count) @ Exports",
                          "method == kNormalEquations || method == kStableQr @ Net",
                          "method == kNormalEquations || method == kStableQr @ Net",
                          "std::isfinite(ridge) && ridge >= 0 @ Net",
                          "std::isfinite(ridge) && ridge >= 0 @ Net",
                          "std::isfinite(ridge) && ridge >= 0 @ Net",
                          "lambda @ Exports",
                          "count >= 0 @ Net",
                          "count >= 0 && uint32_t(count) == net.Reservoir().NeuronCount() @ Exports",
                          "count >= 0 && uint32_t(count) == net.Reservoir().NeuronCount() @ Exports",
                          "out || count == 0 @ Exports"};
    EXPECT_EQ(capture.Checks(), expected);
    const ReadoutSettings& s = test::SettingsOf(NetOf(7007));
    EXPECT_EQ(s.method, kNormalEquations);
    EXPECT_EQ(s.ridge, 0.0);
    EXPECT_EQ(s.washout, 0u);
    EXPECT_EQ(LearnNetJointly(7007), 0) << "no patterns";
}

TEST_F(Readout, StableMethodSurvivesNonFiniteTargets) {
    BuildReadoutNet(7008, 1, 1, true, 8, 20);
    const double in = 0.5, nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(AddPatternsToNet(7008, 1, 1, &in, 1, &nan), 1);
    ASSERT_EQ(SetNetReadoutSolver(7008, 1), 1);
    EXPECT_EQ(LearnNet(7008), 1);
    double out = 0;
    EXPECT_EQ(PropagatePattern(7008, 1, &in, 1, &out), 1);
}

// Out of memory at any allocation of a training: 0, one report, the readout as it was. (A failed
// allocation that only costs a worker thread still trains.)
TEST_F(Readout, TrainingOutOfMemoryKeepsTheReadout) {
    for (int method : {0, 1}) {
        for (bool jointly : {false, true}) {
            ReportCapture capture;
            BuildReadoutNet(7009, 1, 2, true, 6, 12);
            ASSERT_EQ(LearnNet(7009), 1);
            ASSERT_EQ(SetNetReadoutSolver(7009, method), 1);
            ASSERT_EQ(SetNetWashout(7009, 2), 1);
            Matrix before = NetOf(7009).OutputWeights();  // copied outside the failing runs
            int result = 0, refusals = 0;
            const long allocations = test::ForEachAllocationFailure(
                [&] { result = jointly ? LearnNetJointly(7009) : LearnNet(7009); },
                [&](long k, bool failed) {
                    if (failed && result == 0) {
                        ++refusals;
                        EXPECT_EQ(capture.Checks(), Checks{"out of memory @ Exports"})
                            << method << jointly << k;
                        EXPECT_TRUE(SameBits(NetOf(7009).OutputWeights(), before)) << method << jointly << k;
                    }
                    capture.Clear();
                    before = NetOf(7009).OutputWeights();
                });
            EXPECT_GT(refusals, 5) << method << jointly << " of " << allocations;
            EXPECT_EQ(result, 1) << "the last run trained";
            UnregisterUsage(7009);
        }
    }
}

// ---- The streamed QR solver on its own.

// Random rows, the targets a noisy linear function of them.
struct QrProblem {
    size_t rows, values;
    Matrix x, y;
    QrProblem(size_t r, size_t v, size_t targets, unsigned seed)
        : rows(r), values(v), x(r, Vector(v)), y(r, Vector(targets)) {
        uint64_t state = seed;
        auto next = [&] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return double(state >> 11) / double(uint64_t{1} << 53) - 0.5;
        };
        for (size_t i = 0; i < r; ++i)
            for (size_t j = 0; j < v; ++j) x[i][j] = next();
        for (size_t i = 0; i < r; ++i)
            for (size_t t = 0; t < targets; ++t) {
                double sum = 0.3 * t + 0.01 * next();
                for (size_t j = 0; j < v; ++j) sum += x[i][j] * (0.5 + j + t);
                y[i][t] = sum;
            }
    }
    Matrix Stream(bool threshold, double ridge, size_t chunk) const {
        QrSolver solver(values, threshold, y[0].size());
        if (chunk) solver.SetChunkRows(chunk);
        for (size_t i = 0; i < rows; ++i) solver.AddRow(x[i].data(), y[i].data());
        return solver.Solve(ridge);
    }
    // All rows at once, ridge rows appended, solved by a pivoted QR.
    Matrix Direct(bool threshold, double ridge) const {
        const size_t f = values + (threshold ? 1 : 0);
        Matrix a(rows + values, Vector(f, 0.0)), b(rows + values, Vector(y[0].size(), 0.0));
        for (size_t i = 0; i < rows; ++i) {
            std::copy(x[i].begin(), x[i].end(), a[i].begin());
            if (threshold) a[i][values] = 1.0;
            b[i] = y[i];
        }
        for (size_t j = 0; j < values; ++j) a[rows + j][j] = std::sqrt(ridge);
        return test::DirectLeastSquares(a, b);
    }
};

TEST(QrSolverTest, StreamingGivesTheDirectLeastSquaresSolution) {
    const QrProblem problem(300, 12, 2, 5);
    for (bool threshold : {true, false}) {
        for (double ridge : {0.0, 0.5}) {
            const Matrix direct = problem.Direct(threshold, ridge);
            for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{1000}}) {
                const Matrix w = problem.Stream(threshold, ridge, chunk);
                ASSERT_EQ(w.size(), 2u);
                ASSERT_EQ(w[0].size(), threshold ? 13u : 12u);
                for (size_t t = 0; t < 2; ++t)
                    for (size_t j = 0; j < w[t].size(); ++j)
                        EXPECT_NEAR(w[t][j], direct[t][j], 1e-11)
                            << threshold << " ridge " << ridge << " chunk " << chunk;
                EXPECT_TRUE(SameBits(w, problem.Stream(threshold, ridge, chunk))) << "same bits on every run";
            }
        }
    }
}

TEST(QrSolverTest, DependentColumnsGetTheMinimumNormSolution) {
    // Columns: a, 0, a again, b. The fit y = 2a + b splits a's weight evenly; the zero column gets 0.
    QrSolver solver(4, true, 1);
    for (int i = 0; i < 40; ++i) {
        const double a = std::sin(i * 0.7), b = std::cos(i * 1.3);
        const double row[] = {a, 0.0, a, b};
        const double y = 2 * a + b + 0.5;
        solver.AddRow(row, &y);
    }
    const Matrix w = solver.Solve(0.0);
    EXPECT_EQ(w[0][1], 0.0);
    EXPECT_NEAR(w[0][0], 1.0, 1e-12);
    EXPECT_NEAR(w[0][2], 1.0, 1e-12);
    EXPECT_NEAR(w[0][3], 1.0, 1e-12);
    EXPECT_NEAR(w[0][4], 0.5, 1e-12);
}

TEST(QrSolverTest, EmptyShapesGiveZeroWeights) {
    QrSolver none(0, false, 2);
    const double y[] = {1, 2};
    none.AddRow(nullptr, y);
    EXPECT_EQ(none.Solve(0.0), Matrix(2));
    QrSolver onlyThreshold(0, true, 1);
    onlyThreshold.AddRow(nullptr, y);
    onlyThreshold.AddRow(nullptr, y + 1);
    EXPECT_NEAR(onlyThreshold.Solve(0.0)[0][0], 1.5, 1e-15);
    QrSolver noRows(3, true, 1);
    EXPECT_EQ(noRows.Solve(1.0), (Matrix{{0.0, 0.0, 0.0, 0.0}}));
}

// Columns 1, t, t^2, ... t^14 on [0, 1]: the normal equations square a condition number of about 1e10
// and lose most digits; the QR keeps the residual at rounding level.
TEST(QrSolverTest, StaysAccurateWhereNormalEquationsFail) {
    const size_t rows = 400, degree = 14;
    std::vector<Vector> values(rows, Vector(degree));
    Vector targets(rows);
    for (size_t i = 0; i < rows; ++i) {
        const double t = double(i) / (rows - 1);
        double power = t;
        for (size_t j = 0; j < degree; ++j, power *= t) values[i][j] = power;
        targets[i] = std::exp(t);
    }
    QrSolver qr(degree, true, 1);
    Solver normal{int32_t(degree)};
    for (size_t i = 0; i < rows; ++i) {
        qr.AddRow(values[i].data(), &targets[i]);
        normal.AddRow({values[i], targets[i]});
    }
    const Vector stable = qr.Solve(0.0)[0];
    const Vector folded = normal.Solve();
    auto worst = [&](const Vector& w) {
        double error = 0;
        for (size_t i = 0; i < rows; ++i) {
            double sum = w[degree];
            for (size_t j = 0; j < degree; ++j) sum += w[j] * values[i][j];
            error = std::max(error, std::fabs(sum - targets[i]));
        }
        return error;
    };
    EXPECT_LT(worst(stable), 1e-12);
    EXPECT_GT(worst(folded), 1000 * worst(stable));
}

}  // namespace
