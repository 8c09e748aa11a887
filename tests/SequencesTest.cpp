// Whole runs and closed loops in one call, and training on marked sequences.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/FileOps.h"
#include "src/PatternFile.h"
#include "tests/support/Internals.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReferenceNet.h"
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

class Sequences : public test::NetIdsTest<7200, 10> {
protected:
    // Twin networks 7200 and 7201: 2 inputs, 2 outputs, trained alike (unless trained is false).
    void Twins(bool threshold, bool trained = true, double leak = 1.0) {
        for (int id : {7200, 7201}) {
            BuildSignalNet(id, 2, 2, threshold, 40, 120, 21, 2);
            ASSERT_EQ(SetNetLeakRate(id, &leak), 1);
            if (trained) {
                ASSERT_EQ(LearnNet(id), 1);
            }
        }
    }
    Vector State(int id) {
        Vector state(NetOf(id).Reservoir().NeuronCount());
        EXPECT_EQ(GetNetState(id, static_cast<int>(state.size()), state.data()), 1);
        return state;
    }
    test::TempDir dir;
};

std::vector<double> Inputs(int steps) {
    std::vector<double> ins;
    for (int t = 0; t < steps; ++t) {
        ins.push_back(std::sin(0.21 * t));
        ins.push_back(std::cos(0.05 * t) * 0.5);
    }
    return ins;
}

TEST_F(Sequences, RunIsTheSameAsOneCallPerStep) {
    for (bool threshold : {true, false}) {
        for (double leak : {1.0, 0.3}) {
            Twins(threshold, true, leak);
            const std::vector<double> ins = Inputs(57);
            std::vector<double> run(57 * 2, -7.0), single(57 * 2);
            ASSERT_EQ(RunNetSequence(7200, 57, 2, ins.data(), 2, run.data()), 1);
            for (int t = 0; t < 57; ++t)
                ASSERT_EQ(PropagatePattern(7201, 2, &ins[2 * t], 2, &single[2 * t]), 1);
            EXPECT_TRUE(SameBits(run, single));
            EXPECT_TRUE(SameBits(State(7200), State(7201)));
            // A run of none changes nothing and needs no arrays.
            ASSERT_EQ(RunNetSequence(7200, 0, 2, nullptr, 2, nullptr), 1);
            EXPECT_TRUE(SameBits(State(7200), State(7201)));
            UnregisterUsage(7200);
            UnregisterUsage(7201);
        }
    }
}

// The states of a whole run are the states read after each step; a state put back continues as the
// step that left it.
TEST_F(Sequences, StatesOfARunAndAStatePutBack) {
    Twins(true, true, 0.4);
    const int n = 40;
    const std::vector<double> ins = Inputs(50);
    std::vector<double> states(50 * n, -7.0);
    ASSERT_EQ(RunNetStates(7200, 50, 2, ins.data(), n, states.data()), 1);
    double out[2];
    for (int t = 0; t < 50; ++t) {
        ASSERT_EQ(PropagatePattern(7201, 2, &ins[2 * t], 2, out), 1);
        ASSERT_TRUE(SameBits(Vector(states.begin() + t * n, states.begin() + (t + 1) * n), State(7201))) << t;
    }
    ASSERT_EQ(GenerateNet(7201, 1, 2, out), 1);
    EXPECT_EQ(GenerateNet(7200, 1, 2, out), 0) << "a run of states leaves no last output";

    // From the state after step 19 the next 30 steps are the run's, from a reservoir reset meanwhile.
    ASSERT_EQ(ResetNetState(7200), 1);
    ASSERT_EQ(SetNetState(7200, n, &states[19 * n]), 1);
    std::vector<double> again(30 * n);
    ASSERT_EQ(RunNetStates(7200, 30, 2, &ins[2 * 20], n, again.data()), 1);
    EXPECT_TRUE(SameBits(again, std::vector<double>(states.begin() + 20 * n, states.end())));
    ASSERT_EQ(PropagatePattern(7201, 2, &ins[0], 2, out), 1);
    ASSERT_EQ(SetNetState(7201, n, &states[0]), 1);
    EXPECT_EQ(GenerateNet(7201, 1, 2, out), 0) << "the last output belonged to another state";

    ReportCapture capture;
    std::vector<double> bad(states.begin(), states.begin() + n);
    const Vector before = State(7200);
    EXPECT_EQ(SetNetState(7200, n - 1, bad.data()), 0);
    bad[3] = std::nan("");
    EXPECT_EQ(SetNetState(7200, n, bad.data()), 0);
    EXPECT_TRUE(SameBits(State(7200), before)) << "refused: unchanged";
    EXPECT_EQ(RunNetStates(7200, 5, 2, ins.data(), n + 1, again.data()), 0);
    EXPECT_EQ(RunNetStates(7200, 5, 2, nullptr, n, again.data()), 0);
    EXPECT_TRUE(SameBits(State(7200), before)) << "refused: nothing stepped";
    EXPECT_EQ(RunNetStates(7200, 0, 2, nullptr, n, nullptr), 1);
}

TEST_F(Sequences, ARefusedReadoutStillStepsEveryStep) {
    Twins(true, false);
    const std::vector<double> ins = Inputs(9);
    std::vector<double> outs(18, -7.0);
    ReportCapture capture;
    EXPECT_EQ(RunNetSequence(7200, 9, 2, ins.data(), 2, outs.data()), 0);
    EXPECT_EQ(capture.Checks(), Checks{"m_OutputWeights.size() >= m_OutputSize @ Net"})
        << "one report, not nine";
    for (int t = 0; t < 9; ++t) {
        double out[2];
        EXPECT_EQ(PropagatePattern(7201, 2, &ins[2 * t], 2, out), 0);
    }
    EXPECT_TRUE(SameBits(State(7200), State(7201)));
    EXPECT_EQ(outs, std::vector<double>(18, -7.0));
}

TEST_F(Sequences, RunRefusesBadArgumentsWithoutStepping) {
    Twins(true);
    const Vector before = State(7200);
    const std::vector<double> ins = Inputs(4);
    std::vector<double> outs(8);
    ReportCapture capture;
    EXPECT_EQ(RunNetSequence(7200, 4, 3, ins.data(), 2, outs.data()), 0);
    EXPECT_EQ(RunNetSequence(7200, -1, 2, ins.data(), 2, outs.data()), 0);
    EXPECT_EQ(RunNetSequence(7200, 4, 2, nullptr, 2, outs.data()), 0);
    EXPECT_EQ(RunNetSequence(7200, 4, 2, ins.data(), 2, nullptr), 0);
    EXPECT_EQ(capture.Checks().size(), 4u);
    EXPECT_TRUE(SameBits(State(7200), before));
}

// The closed loop against the host loop that feeds every output back as the next input.
TEST_F(Sequences, GenerateIsTheHostsFeedbackLoop) {
    for (double leak : {1.0, 0.5}) {
        Twins(true, true, leak);
        const std::vector<double> ins = Inputs(30);
        std::vector<double> warm(60);
        ASSERT_EQ(RunNetSequence(7200, 30, 2, ins.data(), 2, warm.data()), 1);
        ASSERT_EQ(RunNetSequence(7201, 30, 2, ins.data(), 2, warm.data()), 1);
        std::vector<double> generated(2 * 40), fed(2 * 40);
        ASSERT_EQ(GenerateNet(7200, 25, 2, generated.data()), 1);
        ASSERT_EQ(GenerateNet(7200, 15, 2, generated.data() + 50), 1) << "goes on from its own last output";
        double previous[2] = {warm[58], warm[59]};
        for (int t = 0; t < 40; ++t) {
            ASSERT_EQ(PropagatePattern(7201, 2, previous, 2, &fed[2 * t]), 1);
            previous[0] = fed[2 * t];
            previous[1] = fed[2 * t + 1];
        }
        EXPECT_TRUE(SameBits(generated, fed));
        EXPECT_TRUE(SameBits(State(7200), State(7201)));
        UnregisterUsage(7200);
        UnregisterUsage(7201);
    }
}

// A feedback map: input 0 from output 0 one step back, input 1 from output 1 three back, input 2 from
// output 0 five back; input 3 always the host's (a covariate).
const int kTaps[] = {0, 0, 1, 1, 1, 3, 2, 0, 5};

// The host's loop that the mapped closed loop must equal: rows as given, tapped inputs overwritten.
std::vector<double> HostLoop(int id, int steps, std::vector<double> rows) {
    std::vector<double> outs(2 * steps);
    for (int t = 0; t < steps; ++t) {
        for (int k = 0; k < 3; ++k) {
            const int* tap = &kTaps[3 * k];
            if (t >= tap[2]) rows[4 * t + tap[0]] = outs[2 * (t - tap[2]) + tap[1]];
        }
        EXPECT_EQ(PropagatePattern(id, 4, &rows[4 * t], 2, &outs[2 * t]), 1);
    }
    return outs;
}

TEST_F(Sequences, GenerateMappedIsTheHostsLoopWithTaps) {
    for (int id : {7203, 7204}) {
        BuildSignalNet(id, 4, 2, true, 40, 120, 21, 2);
        ASSERT_EQ(LearnNet(id), 1);
    }
    std::vector<double> rows;
    for (int t = 0; t < 30; ++t)
        for (int i = 0; i < 4; ++i) rows.push_back(std::sin(0.4 * t + i));
    const std::vector<double> fed = HostLoop(7204, 30, rows);
    // Values the loop overwrites are never read.
    std::vector<double> given = rows;
    for (int t = 5; t < 30; ++t) given[4 * t] = given[4 * t + 1] = given[4 * t + 2] = std::nan("");
    // In two calls: the second's rows carry the first's outputs where its taps reach back.
    std::vector<double> generated(60);
    ASSERT_EQ(GenerateNetMapped(7203, 12, 3, kTaps, 4, given.data(), 2, generated.data()), 1);
    for (int t = 12; t < 17; ++t) {
        for (int k = 0; k < 3; ++k) {
            const int* tap = &kTaps[3 * k];
            if (t >= tap[2]) given[4 * t + tap[0]] = generated[2 * (t - tap[2]) + tap[1]];
        }
    }
    ASSERT_EQ(GenerateNetMapped(7203, 18, 3, kTaps, 4, &given[48], 2, &generated[24]), 1);
    EXPECT_TRUE(SameBits(generated, fed));
    EXPECT_TRUE(SameBits(State(7203), State(7204)));
    // The last output is the loop's: GenerateNet's rule for what comes next holds too.
    double a[2], b[2];
    ASSERT_EQ(PropagatePattern(7203, 4, &rows[0], 2, a), 1);
    ASSERT_EQ(PropagatePattern(7204, 4, &rows[0], 2, b), 1);
    EXPECT_TRUE(SameBits(std::vector<double>(a, a + 2), std::vector<double>(b, b + 2)));

    // Refused, nothing stepped, outputs untouched.
    const Vector before = State(7203);
    std::vector<double> outs(8, -7.0);
    const int twice[] = {0, 0, 1, 0, 1, 2};
    const int wide[] = {4, 0, 1};
    const int noOutput[] = {0, 2, 1};
    const int now[] = {0, 0, 0};
    std::vector<double> unknown = rows;
    unknown[4 * 3] = std::nan("");  // input 0 of step 3 is the output of step 2; step 0's is read
    unknown[0] = std::nan("");
    ReportCapture capture;
    EXPECT_EQ(GenerateNetMapped(7203, 4, 2, twice, 4, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 1, wide, 4, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 1, noOutput, 4, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 1, now, 4, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 3, kTaps, 4, unknown.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 5, kTaps, 4, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(GenerateNetMapped(7203, 4, 3, kTaps, 3, rows.data(), 2, outs.data()), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"!mapped[tap.input] @ Net",
                      "tap.input < m_InputSize && tap.output < m_OutputSize && tap.delay >= 1 @ Net",
                      "tap.input < m_InputSize && tap.output < m_OutputSize && tap.delay >= 1 @ Net",
                      "tap[0] >= 0 && tap[1] >= 0 && tap[2] >= 1 @ Exports",
                      "HostValuesFinite(count, m_InputSize, taps, inputs) @ Net",
                      "count >= 0 && mapSize >= 0 && uint32_t(mapSize) <= net.InputSize() @ Exports",
                      "net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize) "
                      "@ Exports"}));
    EXPECT_EQ(outs, std::vector<double>(8, -7.0));
    EXPECT_TRUE(SameBits(State(7203), before));
    unknown[0] = rows[0];
    EXPECT_EQ(GenerateNetMapped(7203, 4, 3, kTaps, 4, unknown.data(), 2, outs.data()), 1);
}

TEST_F(Sequences, GenerateNeedsALastOutput) {
    Twins(true);
    std::vector<double> outs(10, -7.0);
    ReportCapture capture;
    EXPECT_EQ(GenerateNet(7200, 5, 2, outs.data()), 0) << "never propagated since training";
    const double in[2] = {0.1, 0.2};
    double out[2];
    ASSERT_EQ(PropagatePattern(7200, 2, in, 2, out), 1);
    EXPECT_EQ(GenerateNet(7200, 5, 3, outs.data()), 0);
    EXPECT_EQ(GenerateNet(7200, 5, 2, nullptr), 0);
    const std::string path = dir.File("net.txt");
    ASSERT_EQ(SaveNetToFile(7200, path.c_str()), 1);
    ASSERT_EQ(LoadNetFromFile(7200, path.c_str()), 1);
    EXPECT_EQ(GenerateNet(7200, 5, 2, outs.data()), 0) << "a load forgets the last output";
    EXPECT_EQ(outs, std::vector<double>(10, -7.0));
    // A refused step leaves no output to go on from.
    ASSERT_EQ(PropagatePattern(7200, 2, in, 2, out), 1);
    ASSERT_EQ(AddNeuronsToNet(7200, 1, 1), 1);
    EXPECT_EQ(PropagatePattern(7200, 2, in, 2, out), 0);
    EXPECT_EQ(GenerateNet(7200, 5, 2, outs.data()), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"m_Result.size() == m_OutputSize @ Net",
                      "count >= 0 && uint32_t(outSize) == net.OutputSize() @ Exports",
                      "outs || count == 0 @ Exports", "m_Result.size() == m_OutputSize @ Net",
                      "jSize == m_Neurons.size() @ Reservoire", "m_OutputWeights[i].size() >= needed @ Net",
                      "m_Result.size() == m_OutputSize @ Net"}));
    // A new readout drops the last output: it came from the old one.
    capture.Clear();
    const double targets[2] = {0.3, 0.4};
    ASSERT_EQ(PropagatePattern(7201, 2, in, 2, out), 1);
    ASSERT_EQ(LearnNet(7201), 1);
    EXPECT_EQ(GenerateNet(7201, 5, 2, outs.data()), 0) << "trained since";
    ASSERT_EQ(PropagatePattern(7201, 2, in, 2, out), 1);
    ASSERT_EQ(TrainNetOnline(7201, 1, 2, in, 2, targets), 1);
    EXPECT_EQ(GenerateNet(7201, 5, 2, outs.data()), 0) << "learned online since";
    EXPECT_EQ(capture.Checks(), Checks(2, "m_Result.size() == m_OutputSize @ Net"));
    ASSERT_EQ(RegisterUsage(7202, 1, 2, 1), 1);
    EXPECT_EQ(GenerateNet(7202, 1, 2, outs.data()), 0) << "inputs and outputs differ";
}

// Marked sequences against the plain computation: each sequence from zero states, its washout left out,
// every fitted state folded in store order by the plain solver.
TEST_F(Sequences, MarkedSequencesTrainFromZeroWithTheirOwnWashout) {
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}}) {
        for (int id : {7203, 7204}) {
            ASSERT_NO_FATAL_FAILURE(test::BuildSigmoidNet(id, 5, 30, 90, 120));
            ASSERT_EQ(SetNetWashout(id, 6), 1);
        }
        // Three sequences of 40, 3 (all washout) and 50 patterns, after 20 unmarked ones.
        const int lengths[] = {20, 40, 3, 50};
        std::vector<std::vector<double>> ins(4), outs(4);
        for (int k = 0; k < 4; ++k) {
            for (int t = 0; t < lengths[k]; ++t) {
                ins[k].push_back(std::sin(0.3 * t + k));
                outs[k].push_back(std::sin(0.3 * (t + 1) + k));
            }
            if (k > 0) {
                ASSERT_EQ(MarkNetSequenceStart(7203), 1);
            }
            ASSERT_EQ(AddPatternsToNet(7203, lengths[k], 1, ins[k].data(), 1, outs[k].data()), 1);
        }
        ASSERT_EQ(MarkNetSequenceStart(7203), 1);
        ASSERT_EQ(MarkNetSequenceStart(7203), 1) << "a trailing mark, twice: an empty sequence";
        EXPECT_EQ(test::SequenceStarts(NetOf(7203)), (std::vector<size_t>{20, 60, 63, 113}));
        if (chunk) test::SetLearnChunkSize(NetOf(7203), chunk);
        // Some state to forget first.
        const double in = 3.0;
        double out;
        {
            ReportCapture untrained;
            EXPECT_EQ(PropagatePattern(7203, 1, &in, 1, &out), 0);
        }
        ASSERT_EQ(LearnNet(7203), 1);

        Reservoire& r = NetOf(7204).Reservoir();
        test::ReferenceSolver solver(30);
        for (int k = 0; k < 4; ++k) {
            r.ResetState();
            for (int t = 0; t < lengths[k]; ++t) {
                r.SetInputs({ins[k][t]});
                ReservoireTestAccess::ReferenceStep(r);
                if (t >= 6) solver.AddRow(r.GetState(), outs[k][t]);
            }
        }
        EXPECT_TRUE(SameBits(NetOf(7203).OutputWeights()[0], solver.Solve())) << "chunk " << chunk;
        UnregisterUsage(7203);
        UnregisterUsage(7204);
    }
}

TEST_F(Sequences, AWashoutLongerThanEverySequenceIsRefused) {
    BuildSignalNet(7205, 2, 2, true, 20, 10, 3, 1);
    ASSERT_EQ(MarkNetSequenceStart(7205), 1);
    const std::vector<double> ins = Inputs(8);
    ASSERT_EQ(AddPatternsToNet(7205, 4, 2, ins.data(), 2, ins.data()), 1);
    ASSERT_EQ(SetNetWashout(7205, 10), 1);
    ReportCapture capture;
    EXPECT_EQ(LearnNet(7205), 0);
    EXPECT_EQ(capture.Checks(), Checks{"m_Settings.washout < longest @ Net"});
    ASSERT_EQ(SetNetWashout(7205, 9), 1);
    EXPECT_EQ(LearnNet(7205), 1) << "the first ten patterns, before the mark, are a sequence";
}

TEST_F(Sequences, PatternFilesCarryMarks) {
    const std::string path = dir.File("seq.pat");
    const std::string records = "1 1 5\n0.1 0.2\n0.2 0.3\n0.3 0.4\n0.4 0.5\n0.5 0.6\n";
    std::ofstream(path) << records << "sequences 2 0 3\n";
    BuildSignalNet(7206, 1, 1, true, 10, 4, 3, 1);
    ASSERT_EQ(AddPatternsFromFile(7206, path.c_str()), 1);
    EXPECT_EQ(test::SequenceStarts(NetOf(7206)), (std::vector<size_t>{4, 7}));
    EXPECT_EQ(NetOf(7206).PatternCount(), 9u);

    // Malformed records refuse the whole file; anything else after the records is ignored.
    for (const char* bad : {"sequences 2 0\n", "sequences 2 3 1\n", "sequences 1 5\n",
                            "sequences 9 0 1 2 3 4 5\n", "sequences x\n", "sequences 2 1 1\n"}) {
        std::ofstream(path) << records << bad;
        ReportCapture quiet;
        EXPECT_EQ(AddPatternsFromFile(7206, path.c_str()), 0) << bad;
        EXPECT_EQ(NetOf(7206).PatternCount(), 9u) << bad;
        PatternFile file;
        TextReader in(records + bad);
        EXPECT_FALSE(ReadPatterns(in, file));
        EXPECT_FALSE(in.Stop().reason.empty()) << bad;
    }
    for (const char* ignored : {"end\n", "sequence 1 0\n", "1 2 3\n"}) {
        std::ofstream(path) << records << ignored;
        ASSERT_EQ(AddPatternsFromFile(7206, path.c_str()), 1) << ignored;
    }
    EXPECT_EQ(test::SequenceStarts(NetOf(7206)), (std::vector<size_t>{4, 7}))
        << "files without marks add none";
}

}  // namespace

namespace {

// Progress: rising fractions between chunks of training and runs, 1 at the end, the same weights and
// outputs as without it; nothing once removed.
void RCNET_CALL Record(int id, double fraction, void* context) {
    auto* seen = static_cast<std::vector<std::pair<int, double>>*>(context);
    seen->push_back({id, fraction});
}

TEST_F(Sequences, ProgressRisesToOneWithoutChangingResults) {
    Twins(true, false);
    test::SetLearnChunkSize(NetOf(7200), 7);
    test::SetLearnChunkSize(NetOf(7201), 7);
    std::vector<std::pair<int, double>> seen;
    ASSERT_EQ(SetNetProgress(7200, Record, &seen), 1);
    ASSERT_EQ(LearnNet(7200), 1);
    ASSERT_EQ(LearnNet(7201), 1);
    EXPECT_TRUE(SameBits(NetOf(7200).OutputWeights(), NetOf(7201).OutputWeights()));
    ASSERT_GT(seen.size(), 10u);  // 120 patterns in chunks of 7, two passes
    for (size_t k = 1; k < seen.size(); ++k) EXPECT_LT(seen[k - 1].second, seen[k].second);
    EXPECT_EQ(seen.back(), std::make_pair(7200, 1.0));
    const std::vector<double> ins = Inputs(10000);
    std::vector<double> outs(20000), plain(20000);
    seen.clear();
    ASSERT_EQ(RunNetSequence(7200, 10000, 2, ins.data(), 2, outs.data()), 1);
    ASSERT_EQ(RunNetSequence(7201, 10000, 2, ins.data(), 2, plain.data()), 1);
    EXPECT_TRUE(SameBits(outs, plain));
    EXPECT_EQ(seen, (std::vector<std::pair<int, double>>{{7200, 0.4096}, {7200, 0.8192}, {7200, 1.0}}));
    ASSERT_EQ(SetNetProgress(7200, nullptr, nullptr), 1);
    seen.clear();
    ASSERT_EQ(LearnNet(7200), 1);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(SetNetProgress(7299, Record, &seen), 0);
}

}  // namespace
