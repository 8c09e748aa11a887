// Training and propagation, through the network object and through the exports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "src/Solver/Fold.h"
#include "tests/support/FailingAlloc.h"
#include "tests/support/Internals.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReferenceNet.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;

using rcnet::test::BuildSignalNet;
using rcnet::test::NetOf;

// A registered network with a mixed reservoir and `patterns` stored patterns of a deterministic signal.
void Build(int id, int in, int out, bool threshold, int neurons, int patterns, uint32_t seed = 7) {
    BuildSignalNet(id, in, out, threshold, neurons, patterns, seed, int(seed % 4));
}

class Training : public test::NetIdsTest<6000, 10> {};

// The library's Learn and Propagate against the plain ones on a twin network, bit for bit.
TEST_F(Training, SameBitsAsThePlainTraining) {
    for (bool threshold : {true, false}) {
        for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{60}}) {
            Build(6000, 2, 3, threshold, 40, 60);
            Build(6001, 2, 3, threshold, 40, 60);
            Net& fast = NetOf(6000);
            Net& plain = NetOf(6001);
            if (chunk) test::SetLearnChunkSize(fast, chunk);
            ASSERT_TRUE(fast.Learn());
            const Matrix expected = NetTestAccess::ReferenceLearn(plain);
            ASSERT_TRUE(SameBits(fast.OutputWeights(), expected)) << threshold << " chunk " << chunk;
            ASSERT_EQ(expected.size(), 3u);
            EXPECT_EQ(expected[0].size(), threshold ? 41u : 40u);
            for (int step = 0; step < 20; ++step) {
                const Vector input{std::sin(step * 0.7), 0.25};
                const Vector* got = fast.Propagate(input);
                ASSERT_NE(got, nullptr);
                ASSERT_TRUE(SameBits(*got, NetTestAccess::ReferencePropagate(plain, input)));
            }
            UnregisterUsage(6000);
            UnregisterUsage(6001);
        }
    }
}

void RCNET_CALL CountReport(int, double, void* context) {
    ++*static_cast<int*>(context);
}

// The harvest hands the normal equations one fold batch per chunk (each chunk reports progress once,
// the end once more), so that the fold of one chunk runs beside the harvest of the next.
TEST_F(Training, HarvestsOneFoldBatchPerChunk) {
    Build(6004, 2, 1, true, 300, 2000);
    const size_t batch = Folder::BatchPatterns(302);
    int reports = 0;
    ASSERT_EQ(SetNetProgress(6004, CountReport, &reports), 1);
    ASSERT_EQ(LearnNet(6004), 1);
    EXPECT_EQ(reports, int((2000 + batch - 1) / batch) + 1) << "batches of " << batch;
}

TEST_F(Training, LearnStepsOncePerPatternAndOutputAndPropagateOnce) {
    Build(6002, 1, 3, true, 10, 25);
    const Reservoire& r = NetOf(6002).Reservoir();
    EXPECT_EQ(LearnNet(6002), 1);
    EXPECT_EQ(r.StepCount(), 75u);
    double outs[3];
    EXPECT_EQ(PropagatePattern(6002, 1, outs, 3, outs), 1);
    EXPECT_EQ(r.StepCount(), 76u);
}

TEST_F(Training, NoOutputsTrainsNothingAndStepsNothing) {
    Build(6003, 2, 0, true, 8, 5);
    EXPECT_EQ(LearnNet(6003), 1);
    EXPECT_TRUE(NetOf(6003).OutputWeights().empty());
    EXPECT_EQ(NetOf(6003).Reservoir().StepCount(), 0u);
}

TEST_F(Training, LearnWithoutPatternsFailsAndKeepsTheWeights) {
    ReportCapture capture;
    Build(6004, 1, 1, true, 6, 4);
    ASSERT_EQ(LearnNet(6004), 1);
    const Matrix trained = NetOf(6004).OutputWeights();
    ASSERT_EQ(RegisterUsage(6005, 1, 1, true), 1);
    EXPECT_EQ(LearnNet(6005), 0);
    EXPECT_EQ(capture.Checks(), Checks{"m_Inputs.size() > 0 @ Net"});
    EXPECT_TRUE(NetOf(6005).OutputWeights().empty());
    EXPECT_TRUE(SameBits(NetOf(6004).OutputWeights(), trained));
}

TEST_F(Training, PatternsThatNoLongerFitStopTraining) {
    ReportCapture capture;
    Build(6004, 2, 1, true, 6, 4);
    NetTestAccess::SetSizes(NetOf(6004), 3, 1);  // as a network file with other sizes would
    EXPECT_EQ(LearnNet(6004), 0);
    EXPECT_EQ(capture.Checks(),
              Checks{"m_Inputs[p].size() == m_InputSize && m_Outputs[p].size() == m_OutputSize @ Net"});
    EXPECT_EQ(NetOf(6004).Reservoir().StepCount(), 0u);
    EXPECT_TRUE(NetOf(6004).OutputWeights().empty());
}

TEST_F(Training, TwoLearnsInARowContinueTheState) {
    Build(6004, 1, 1, false, 20, 15);
    ASSERT_EQ(LearnNet(6004), 1);
    const Matrix first = NetOf(6004).OutputWeights();
    ASSERT_EQ(LearnNet(6004), 1);
    EXPECT_FALSE(SameBits(first, NetOf(6004).OutputWeights()));
}

TEST_F(Training, ReadoutWithSilentStates) {
    // Bipolar-sigmoid neurons without links end every step at 0: the outputs are the threshold alone,
    // or 0 without threshold.
    for (bool threshold : {true, false}) {
        ASSERT_EQ(RegisterUsage(6006, 1, 2, threshold), 1);
        AddNeuronsToNet(6006, 4, 1);
        InitNetInputMatrix(6006, 1);
        const double inputs[] = {0.5, -0.5, 0.25};
        const double targets[] = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ(AddPatternsToNet(6006, 3, 1, inputs, 2, targets), 1);
        ASSERT_EQ(LearnNet(6006), 1);
        const Matrix& w = NetOf(6006).OutputWeights();
        double outs[2];
        ASSERT_EQ(PropagatePattern(6006, 1, inputs, 2, outs), 1);
        if (threshold) {
            EXPECT_EQ(w[0][4], 3.0) << "the mean of 1, 3, 5";
            EXPECT_EQ(outs[0], w[0][4]);
            EXPECT_EQ(outs[1], w[1][4]);
        } else {
            EXPECT_EQ(outs[0], 0.0);
            EXPECT_EQ(outs[1], 0.0);
        }
        for (int j = 0; j < 4; ++j) EXPECT_EQ(w[0][j], 0.0);
        UnregisterUsage(6006);
    }
}

// "readout of output 3 ... (cause: advice)" -> "3: cause".
std::string Cause(const std::string& check) {
    const size_t number = std::strlen("readout of output ");
    const size_t open = check.find(" (");
    const size_t end = check.find_first_of(":)", open);
    return check.substr(number, check.find(' ', number) - number) + ": " +
           check.substr(open + 2, end - open - 2);
}

// A training that leaves an output unable to predict still returns 1 but says so, naming the output.
TEST_F(Training, ReportsEachReadoutThatCannotPredict) {
    // Inputs on one line: the normal equations meet dependent states and give up on output 0. Output
    // 1's targets are all 0, so its zero readout is the fit and is not reported.
    ASSERT_EQ(RegisterUsage(6007, 2, 2, 1), 1);
    AddNeuronsToNet(6007, 10, 1);
    AddRandomConnectionsToNet(6007, 20);
    InitNetInputMatrix(6007, 2);
    std::vector<double> inputs, targets;
    for (int p = 0; p < 20; ++p) {
        inputs.insert(inputs.end(), {0.1 * p, -0.05 * p});
        targets.insert(targets.end(), {0.3 * p, 0.0});
    }
    ASSERT_EQ(AddPatternsToNet(6007, 20, 2, inputs.data(), 2, targets.data()), 1);
    const auto reportsOfLearn = [] {
        ReportCapture reports;
        EXPECT_EQ(LearnNet(6007), 1);
        Checks readout;
        for (const std::string& check : reports.Checks())
            if (check.rfind("readout of output", 0) == 0) readout.push_back(Cause(check));
        return readout;
    };
    EXPECT_EQ(reportsOfLearn(), Checks{"0: the states did not fit the targets"});
    for (double w : NetOf(6007).OutputWeights()[0]) ASSERT_EQ(w, 0.0);

    ASSERT_EQ(SetNetReadoutSolver(6007, 1), 1);
    EXPECT_EQ(reportsOfLearn(), Checks{});
    bool someWeight = false;
    for (double w : NetOf(6007).OutputWeights()[0]) someWeight = someWeight || w != 0.0;
    EXPECT_TRUE(someWeight);
    // Neurons added after the input matrix: no step is fitted, and the cause says what to call.
    ASSERT_EQ(AddNeuronsToNet(6007, 2, 1), 1);
    EXPECT_EQ(reportsOfLearn(), Checks{"0: no state for every neuron"});

    // A NaN input reaches every output's states; what the weights then hold is the solver's affair,
    // the cause is named either way.
    const double nanInputs[] = {std::nan(""), 0.0};
    const double nanTargets[] = {1.0, 1.0};
    ASSERT_EQ(AddPatternsToNet(6007, 1, 2, nanInputs, 2, nanTargets), 1);
    EXPECT_EQ(reportsOfLearn(),
              (Checks{"0: a training value is NaN or infinite", "1: a training value is NaN or infinite"}));
}

TEST_F(Training, PropagateWritesExactlyOutSizeValues) {
    Build(6007, 2, 2, true, 12, 30);
    ASSERT_EQ(LearnNet(6007), 1);
    double outs[4] = {-7, -7, -7, -7};
    const double ins[2] = {0.1, 0.2};
    ASSERT_EQ(PropagatePattern(6007, 2, ins, 2, outs), 1);
    EXPECT_TRUE(SameBits(Vector(outs, outs + 2), test::ResultOf(NetOf(6007))));
    EXPECT_EQ(outs[2], -7.0);
    EXPECT_EQ(outs[3], -7.0);
}

// Refused or not, a call steps the reservoir: the states that training sees next do not depend on
// whether the readout fitted.
TEST_F(Training, PropagateRefusesAReadoutThatDoesNotFit) {
    ReportCapture capture;
    const double ins[2] = {0.1, 0.2};
    double outs[2] = {-7, -7};
    auto refused = [&](int id, const char* why) {
        const uint64_t steps = NetOf(id).Reservoir().StepCount();
        capture.Clear();
        EXPECT_EQ(PropagatePattern(id, 2, ins, 2, outs), 0) << why;
        EXPECT_EQ(outs[0], -7.0) << why;
        EXPECT_EQ(outs[1], -7.0) << why;
        EXPECT_EQ(NetOf(id).Reservoir().StepCount(), steps + 1) << why << ": every call steps once";
    };
    Build(6008, 2, 2, true, 10, 20);
    refused(6008, "never trained");
    EXPECT_EQ(capture.Checks(), Checks{"m_OutputWeights.size() >= m_OutputSize @ Net"});

    ASSERT_EQ(LearnNet(6008), 1);
    AddNeuronsToNet(6008, 1, 0);
    refused(6008, "a neuron added since training");
    // The step itself reports the neuron that the input matrix does not cover.
    EXPECT_EQ(capture.Checks(), (Checks{"jSize == m_Neurons.size() @ Reservoire",
                                        "m_OutputWeights[i].size() >= needed @ Net"}));

    ASSERT_EQ(LearnNet(6008), 1);  // weights for 11 neurons, states for the 10 of the input matrix
    refused(6008, "state shorter than the neuron count");
    EXPECT_EQ(capture.Checks(), (Checks{"jSize == m_Neurons.size() @ Reservoire",
                                        "m_Reservoir.States().size() >= neurons @ Net"}));

    capture.Clear();
    EXPECT_EQ(PropagatePattern(6008, 3, ins, 2, outs), 0);
    EXPECT_EQ(PropagatePattern(6008, 2, ins, 1, outs), 0);
    EXPECT_EQ(PropagatePattern(6008, 2, nullptr, 2, outs), 0);
    EXPECT_EQ(PropagatePattern(6008, 2, ins, 2, nullptr), 0);
    EXPECT_EQ(PropagatePattern(-1234, 2, ins, 2, outs), 0);
    const char* size =
        "net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize) @ Exports";
    EXPECT_EQ(capture.Checks(), (Checks{size, size, "(ins || inSize == 0) && (out || outSize == 0) @ Exports",
                                        "(ins || inSize == 0) && (out || outSize == 0) @ Exports",
                                        "it != m_Nets.end() @ NetManager", size}));
    EXPECT_EQ(outs[0], -7.0);
}

TEST_F(Training, AddPatternsCutsTheFlatArraysInOrder) {
    ReportCapture capture;
    ASSERT_EQ(RegisterUsage(6009, 3, 1, 1), 1);
    const double inputs[] = {1, 2, 3, 4, 5, 6};
    const double outputs[] = {7, 8};
    EXPECT_EQ(AddPatternsToNet(6009, 0, 3, nullptr, 1, nullptr), 1);
    EXPECT_EQ(AddPatternsToNet(6009, 2, 3, inputs, 1, outputs), 1);
    EXPECT_EQ(AddPatternsToNet(6009, 1, 3, inputs, 1, outputs), 1);
    EXPECT_TRUE(capture.Lines().empty());
    const Net& net = NetOf(6009);
    EXPECT_EQ(test::StoredInputs(net).ToLists(), (std::vector<Vector>{{1, 2, 3}, {4, 5, 6}, {1, 2, 3}}));
    EXPECT_EQ(test::StoredOutputs(net).ToLists(), (std::vector<Vector>{{7}, {8}, {7}}));

    EXPECT_EQ(AddPatternsToNet(6009, 2, 4, inputs, 1, outputs), 0);
    EXPECT_EQ(AddPatternsToNet(6009, -1, 3, inputs, 1, outputs), 0);
    EXPECT_EQ(AddPatternsToNet(6009, 1, 3, nullptr, 1, outputs), 0);
    EXPECT_EQ(AddPatternsToNet(6009, 1, 3, inputs, 1, nullptr), 0);
    EXPECT_EQ(
        capture.Checks(),
        (Checks{"net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize) @ Exports",
                "count >= 0 @ Exports",
                "count == 0 || ((inputs || inSize == 0) && (outputs || outSize == 0)) @ Exports",
                "count == 0 || ((inputs || inSize == 0) && (outputs || outSize == 0)) @ Exports"}));
    EXPECT_EQ(net.PatternCount(), 3u);

    // Out of memory at any allocation: 0, one report, nothing added.
    capture.Clear();
    rcnet::test::ForEachAllocationFailure([&] { AddPatternsToNet(6009, 2, 3, inputs, 1, outputs); },
                                          [&](long k, bool failed) {
                                              if (!failed) return;
                                              EXPECT_EQ(net.PatternCount(), 3u) << "allocation " << k;
                                              EXPECT_EQ(capture.Checks(), Checks{"out of memory @ Exports"});
                                              capture.Clear();
                                          });
    EXPECT_EQ(net.PatternCount(), 5u);
}

// A real task: one-step prediction of a sine mixture. A broken readout (transposed weights, a
// missing threshold, a wrong state) gives an error of the order of the signal itself.
TEST_F(Training, PredictsASineMixtureOneStepAhead) {
    auto signal = [](int t) { return 0.5 * std::sin(0.2 * t) + 0.3 * std::sin(0.311 * t + 1.0); };
    const int id = 6000, neurons = 150, train = 800, test = 200;
    ASSERT_EQ(RegisterUsage(id, 1, 1, 1), 1);
    Randomize(3);
    AddNeuronsToNet(id, neurons, 1);
    AddRandomConnectionsToNet(id, neurons * 4);
    AddRandomBackConnectionsToNet(id, neurons * 2);
    InitNetInputMatrix(id, 1);
    std::vector<double> in, out;
    for (int t = 0; t < train; ++t) {
        in.push_back(signal(t));
        out.push_back(signal(t + 1));
    }
    ASSERT_EQ(AddPatternsToNet(id, train, 1, in.data(), 1, out.data()), 1);
    ASSERT_EQ(LearnNet(id), 1);
    // The reservoir continues from the end of training, where the test segment begins.
    double squared = 0, variance = 0, mean = 0;
    for (int t = train; t < train + test; ++t) mean += signal(t + 1) / test;
    for (int t = train; t < train + test; ++t) {
        const double x = signal(t);
        double y;
        ASSERT_EQ(PropagatePattern(id, 1, &x, 1, &y), 1);
        squared += (y - signal(t + 1)) * (y - signal(t + 1));
        variance += (signal(t + 1) - mean) * (signal(t + 1) - mean);
    }
    const double nrmse = std::sqrt(squared / variance);
    RecordProperty("nrmse", std::to_string(nrmse));
    EXPECT_LT(nrmse, 0.01);
}

}  // namespace
