// Online learning through the exports: the network steps and its readout follows the least squares of
// src/OnlineReadout.h, driven here by hand on a twin network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/OnlineReadout.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::BuildSignalNet;
using rcnet::test::NetOf;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;

class OnlineLearning : public test::NetIdsTest<7300, 10> {
protected:
    test::TempDir dir;
};

// count steps of a 2-input, 2-output signal from step `from` on.
void Signal(int from, int count, std::vector<double>& ins, std::vector<double>& targets) {
    ins.clear();
    targets.clear();
    for (int t = from; t < from + count; ++t) {
        ins.push_back(std::sin(0.3 * t));
        ins.push_back(0.5 * std::cos(0.11 * t));
        targets.push_back(std::sin(0.3 * (t + 1)));
        targets.push_back(std::sin(0.3 * t) * std::cos(0.11 * t));
    }
}

// The same steps on the twin, with the least squares driven by hand from `start`.
Matrix ByHand(Net& twin, const Matrix& start, double forgetting, const std::vector<double>& ins,
              const std::vector<double>& targets, OnlineReadout* online = nullptr) {
    OnlineReadout own(twin.Reservoir().NeuronCount(), twin.UseThreshold(), twin.OutputSize(), forgetting,
                      1e-2);
    OnlineReadout& rls = online ? *online : own;
    if (!online) {
        EXPECT_TRUE(rls.Start(start));
    }
    for (size_t t = 0; t < targets.size() / 2; ++t) {
        twin.Reservoir().SetInputs(&ins[2 * t], 2);
        twin.Reservoir().Step();
        rls.Update(twin.Reservoir().States().data(), &targets[2 * t]);
    }
    return rls.Weights();
}

TEST_F(OnlineLearning, FollowsTheLeastSquaresFromTheCurrentReadout) {
    for (bool threshold : {true, false}) {
        BuildSignalNet(7300, 2, 2, threshold, 30, 80, 4, 0);
        BuildSignalNet(7301, 2, 2, threshold, 30, 80, 4, 0);
        ASSERT_EQ(LearnNet(7300), 1);
        ASSERT_EQ(LearnNet(7301), 1);
        const double forgetting = 0.995;
        ASSERT_EQ(SetNetOnlineLearning(7300, &forgetting), 1);
        std::vector<double> ins, targets;
        Signal(80, 120, ins, targets);
        const Matrix trained = NetOf(7301).OutputWeights();
        // Two calls go on where the first stopped: the same as one call of all steps.
        ASSERT_EQ(TrainNetOnline(7300, 70, 2, ins.data(), 2, targets.data()), 1);
        ASSERT_EQ(TrainNetOnline(7300, 50, 2, ins.data() + 140, 2, targets.data() + 140), 1);
        const Matrix expected = ByHand(NetOf(7301), trained, forgetting, ins, targets);
        EXPECT_TRUE(SameBits(NetOf(7300).OutputWeights(), expected)) << threshold;
        EXPECT_FALSE(SameBits(expected, trained));
        // Propagation uses the updated readout.
        double a[2], b[2];
        ASSERT_EQ(PropagatePattern(7300, 2, ins.data(), 2, a), 1);
        ASSERT_EQ(PropagatePattern(7301, 2, ins.data(), 2, b), 1);
        EXPECT_FALSE(a[0] == b[0] && a[1] == b[1]);
        UnregisterUsage(7300);
        UnregisterUsage(7301);
    }
}

TEST_F(OnlineLearning, RestartsWhenSomethingElseChangesTheReadout) {
    BuildSignalNet(7302, 2, 2, true, 25, 60, 8, 3);
    BuildSignalNet(7303, 2, 2, true, 25, 60, 8, 3);
    std::vector<double> ins, targets;
    Signal(60, 40, ins, targets);
    // Untrained: from zero rows, and afterwards the readout fits.
    ASSERT_EQ(TrainNetOnline(7302, 40, 2, ins.data(), 2, targets.data()), 1);
    const Matrix zero(2, Vector(26, 0.0));
    EXPECT_TRUE(SameBits(NetOf(7302).OutputWeights(), ByHand(NetOf(7303), zero, 1.0, ins, targets)));
    double out[2];
    EXPECT_EQ(PropagatePattern(7302, 2, ins.data(), 2, out), 1);
    {
        ReportCapture untrained;  // the twin only keeps in step
        EXPECT_EQ(PropagatePattern(7303, 2, ins.data(), 2, out), 0);
    }
    // LearnNet replaces the readout: online learning starts again from the new one.
    ASSERT_EQ(LearnNet(7302), 1);
    ASSERT_EQ(LearnNet(7303), 1);
    ASSERT_EQ(TrainNetOnline(7302, 40, 2, ins.data(), 2, targets.data()), 1);
    EXPECT_TRUE(SameBits(NetOf(7302).OutputWeights(),
                         ByHand(NetOf(7303), NetOf(7303).OutputWeights(), 1.0, ins, targets)));
    // A load starts it again too, even when the file's readout is bit for bit the learner's weights.
    const std::string path = dir.File("online.net");
    ASSERT_EQ(SetNetFilePrecision(7302, 0), 1);
    ASSERT_EQ(SaveNetToFile(7302, path.c_str()), 1);
    for (int id : {7302, 7303}) ASSERT_EQ(LoadNetFromFile(id, path.c_str()), 1);
    ASSERT_TRUE(SameBits(NetOf(7302).OutputWeights(), NetOf(7303).OutputWeights()));
    ASSERT_EQ(TrainNetOnline(7302, 40, 2, ins.data(), 2, targets.data()), 1);
    EXPECT_TRUE(SameBits(NetOf(7302).OutputWeights(),
                         ByHand(NetOf(7303), NetOf(7303).OutputWeights(), 1.0, ins, targets)));
}

// Zero input for a long time carries no information in most directions: every step is still taken,
// the readout stays where it was, and informative data afterwards are learned as well as by a network
// that never saw the stretch.
TEST_F(OnlineLearning, UninformativeStretchesStayBounded) {
    for (const double forgetting : {0.99, 0.9}) {
        SCOPED_TRACE(forgetting);
        const int stretch = forgetting == 0.99 ? 200000 : 40000;
        for (int id : {7308, 7309}) {
            BuildSignalNet(id, 2, 2, true, 20, 100, 4, 2);
            ASSERT_EQ(LearnNet(id), 1);
            ASSERT_EQ(SetNetOnlineLearning(id, &forgetting), 1);
        }
        double before = 0.0, after = 0.0;
        for (double w : NetOf(7308).OutputWeights()[0]) before = std::max(before, std::fabs(w));
        const std::vector<double> zeros(2 * stretch, 0.0);
        ASSERT_EQ(TrainNetOnline(7308, stretch, 2, zeros.data(), 2, zeros.data()), 1);
        for (double w : NetOf(7308).OutputWeights()[0]) after = std::max(after, std::fabs(w));
        EXPECT_LT(after, 2 * before);
        std::vector<double> ins, targets;
        Signal(0, 3000, ins, targets);
        double errors[2] = {0.0, 0.0};
        for (int k = 0; k < 2; ++k) {
            const int id = 7308 + k;
            ASSERT_EQ(TrainNetOnline(id, 2500, 2, ins.data(), 2, targets.data()), 1);
            std::vector<double> outs(1000);
            ASSERT_EQ(RunNetSequence(id, 500, 2, &ins[5000], 2, outs.data()), 1);
            for (int i = 0; i < 1000; ++i)
                errors[k] += (outs[i] - targets[5000 + i]) * (outs[i] - targets[5000 + i]);
        }
        EXPECT_LT(errors[0], 2 * errors[1] + 1e-6)
            << errors[0] << " after the stretch, " << errors[1] << " without";
        for (int id : {7308, 7309}) UnregisterUsage(id);
    }
}

TEST_F(OnlineLearning, RefusalsChangeNothingAndBadSamplesAreSkipped) {
    BuildSignalNet(7304, 2, 2, true, 20, 40, 2, 1);
    BuildSignalNet(7305, 2, 2, true, 20, 40, 2, 1);
    ASSERT_EQ(LearnNet(7304), 1);
    ASSERT_EQ(LearnNet(7305), 1);
    std::vector<double> ins, targets;
    Signal(40, 30, ins, targets);
    const Matrix trained = NetOf(7304).OutputWeights();
    ReportCapture capture;
    for (double bad : {0.0, -0.5, 1.5, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(SetNetOnlineLearning(7304, &bad), 0);
    EXPECT_EQ(SetNetOnlineLearning(7304, nullptr), 0);
    EXPECT_EQ(TrainNetOnline(7304, 30, 3, ins.data(), 2, targets.data()), 0);
    EXPECT_EQ(TrainNetOnline(7304, -1, 2, ins.data(), 2, targets.data()), 0);
    EXPECT_EQ(TrainNetOnline(7304, 30, 2, ins.data(), 2, nullptr), 0);
    EXPECT_EQ(capture.Checks().size(), 8u);
    EXPECT_TRUE(SameBits(NetOf(7304).OutputWeights(), trained));
    capture.Clear();

    // A NaN target: the step is taken, its update skipped; the others count.
    std::vector<double> spoilt = targets;
    spoilt[2 * 10 + 1] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(TrainNetOnline(7304, 30, 2, ins.data(), 2, spoilt.data()), 0);
    EXPECT_EQ(capture.Checks().size(), 1u);
    OnlineReadout rls(20, true, 2, 1.0, 1e-2);
    ASSERT_TRUE(rls.Start(trained));
    for (size_t t = 0; t < 30; ++t) {
        NetOf(7305).Reservoir().SetInputs(&ins[2 * t], 2);
        NetOf(7305).Reservoir().Step();
        if (t != 10) {
            ASSERT_TRUE(rls.Update(NetOf(7305).Reservoir().States().data(), &targets[2 * t]));
        }
    }
    EXPECT_TRUE(SameBits(NetOf(7304).OutputWeights(), rls.Weights()));
    for (const Vector& row : NetOf(7304).OutputWeights())
        for (double w : row) ASSERT_TRUE(std::isfinite(w));

    // Neurons without a state yet: nothing stepped.
    ASSERT_EQ(AddNeuronsToNet(7304, 1, 1), 1);
    capture.Clear();
    EXPECT_EQ(TrainNetOnline(7304, 30, 2, ins.data(), 2, targets.data()), 0);
    EXPECT_EQ(capture.Checks(), Checks{"m_Reservoir.States().size() == n @ Net"});
}

// A signal whose dynamics change half-way: a readout trained once keeps the old map, online learning
// with forgetting follows the new one about as well as a network retrained on the new data alone.
TEST_F(OnlineLearning, TracksAChangeOfDynamics) {
    // Target: a delayed, scaled copy of the input; after the change, another delay and sign.
    const int steps = 3000, change = 1500;
    std::vector<double> u(steps + 10), y(steps + 10);
    uint64_t state = 99;
    for (int t = 0; t < steps + 10; ++t) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        u[t] = static_cast<double>(state >> 11) * 0x1p-53 - 0.5;
    }
    for (int t = 3; t < steps + 10; ++t)
        y[t] = t < change ? 0.8 * u[t - 2] : -0.6 * u[t - 3] + 0.3 * u[t - 1];
    const auto build = [&](int id) {
        ASSERT_NO_FATAL_FAILURE(test::BuildSigmoidNet(id, 17, 60, 120, 300));
        const double radius = 0.9;
        ASSERT_EQ(SetNetSpectralRadius(id, &radius), 1);
        ASSERT_EQ(SetNetReadoutSolver(id, 1), 1);
        ASSERT_EQ(SetNetWashout(id, 50), 1);
    };
    build(7306);  // trained once on the first half, then online
    build(7307);  // trained once on the first half only
    for (int id : {7306, 7307}) {
        ASSERT_EQ(AddPatternsToNet(id, change, 1, u.data(), 1, y.data()), 1);
        ASSERT_EQ(LearnNet(id), 1);
    }
    const double forgetting = 0.99;
    ASSERT_EQ(SetNetOnlineLearning(7306, &forgetting), 1);
    // Online: every step of the second half updates the readout; errors are those of the readout before
    // each step's update. The fixed network predicts the same steps.
    double online = 0, fixed = 0;
    const int measured = 500;  // the last steps, after adapting
    for (int t = change; t < steps; ++t) {
        double a = 0, b = 0;
        ASSERT_EQ(PropagatePattern(7307, 1, &u[t], 1, &b), 1);
        const Vector w = NetOf(7306).OutputWeights()[0];  // the readout before this step's update
        ASSERT_EQ(TrainNetOnline(7306, 1, 1, &u[t], 1, &y[t]), 1);
        const Vector& s = NetOf(7306).Reservoir().States();
        for (size_t j = 0; j < s.size(); ++j) a += s[j] * w[j];
        a += w[s.size()];
        if (t >= steps - measured) {
            online += (a - y[t]) * (a - y[t]);
            fixed += (b - y[t]) * (b - y[t]);
        }
    }
    // Retrained from scratch on the second half's first 1000 steps, tested on the same last steps.
    build(7308);
    ASSERT_EQ(AddPatternsToNet(7308, steps - measured - change, 1, &u[change], 1, &y[change]), 1);
    ASSERT_EQ(LearnNet(7308), 1);
    double retrained = 0;
    for (int t = steps - measured; t < steps; ++t) {
        double c = 0;
        ASSERT_EQ(PropagatePattern(7308, 1, &u[t], 1, &c), 1);
        retrained += (c - y[t]) * (c - y[t]);
    }
    const double rmsOnline = std::sqrt(online / measured), rmsFixed = std::sqrt(fixed / measured),
                 rmsRetrained = std::sqrt(retrained / measured);
    std::printf("rms after the change: online %.3g, trained once %.3g, retrained %.3g\n", rmsOnline, rmsFixed,
                rmsRetrained);
    RecordProperty("rms_online", std::to_string(rmsOnline));
    RecordProperty("rms_fixed", std::to_string(rmsFixed));
    RecordProperty("rms_retrained", std::to_string(rmsRetrained));
    EXPECT_LT(rmsOnline, 0.2 * rmsFixed) << rmsOnline << " vs fixed " << rmsFixed;
    EXPECT_LT(rmsOnline, 3 * rmsRetrained + 1e-3) << rmsOnline << " vs retrained " << rmsRetrained;
}

}  // namespace
