// What a host can ask the library: the last call's report lines, and what a network holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "tests/support/FileError.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using rcnet::test::BuildSignalNet;
using rcnet::test::LastFileError;
using rcnet::test::NetOf;
using rcnet::test::SameBits;

class Inquiry : public rcnet::test::NetIdsTest<7400, 5> {
protected:
    void SetUp() override { SetReportEcho(0); }
    void TearDown() override {
        SetReportEcho(1);
        NetIdsTest::TearDown();
    }
};

std::string LastReport() {
    std::vector<char> buffer(20000);
    EXPECT_EQ(GetLastReport(buffer.data(), static_cast<int>(buffer.size())), 1);
    return buffer.data();
}

TEST_F(Inquiry, LastReportIsTheLastCallsLines) {
    ASSERT_EQ(RegisterUsage(7400, 2, 1, 1), 1);
    EXPECT_EQ(RegisterUsage(7400, 2, 1, 1), 0);
    const std::string first = LastReport();
    EXPECT_EQ(first.rfind("Assertion failed: it == m_Nets.end(), file NetManager, line ", 0), 0u) << first;
    EXPECT_EQ(LastReport(), first) << "asking does not start a new call";
    double out;
    const double in[2] = {0, 0};
    EXPECT_EQ(PropagatePattern(7400, 3, in, 1, &out), 0);
    EXPECT_NE(LastReport().find("net->InputSize() == size_t(inSize)"), std::string::npos);
    ASSERT_EQ(AddNeuronsToNet(7400, 3, 1), 1);
    EXPECT_EQ(LastReport(), "") << "a call without reports leaves none";

    // Cut to the buffer, always terminated.
    EXPECT_EQ(RegisterUsage(7400, 2, 1, 1), 0);
    char small[10];
    EXPECT_EQ(GetLastReport(small, sizeof small), 0);
    EXPECT_EQ(std::string(small), "Assertion");
    EXPECT_EQ(GetLastReport(nullptr, 100), 0);
    EXPECT_EQ(GetLastReport(small, 0), 0);

    // Each thread has its own.
    std::string other;
    std::thread thread([&] {
        ASSERT_EQ(AddNeuronsToNet(7400, 1, 1), 1);
        other = LastReport();
    });
    thread.join();
    EXPECT_EQ(other, "");
    EXPECT_EQ(LastReport().rfind("Assertion failed: it == m_Nets.end()", 0), 0u);
}

TEST_F(Inquiry, ManyReportsKeepWholeFirstLinesAndTheLast) {
    // Two inputs, an input matrix of one row: every step reports, and goes on.
    ASSERT_EQ(RegisterUsage(7401, 2, 1, 1), 1);
    ASSERT_EQ(AddNeuronsToNet(7401, 4, 1), 1);
    ASSERT_EQ(InitNetInputMatrix(7401, 1), 1);
    std::vector<double> ins(2 * 500, 0.5), outs(500);
    EXPECT_EQ(RunNetSequence(7401, 500, 2, ins.data(), 1, outs.data()), 0);
    const std::string text = LastReport();
    // The first 8192 bytes of whole lines, how many more there were, and the last of them.
    const size_t note = text.find(" more lines not kept)\n");
    ASSERT_NE(note, std::string::npos);
    EXPECT_LE(text.rfind('\n', note), 8192u);
    EXPECT_GT(text.rfind('\n', note), 8000u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.rfind("Assertion failed: inputs.size() == m_Inputs.size(), file Reservoire", 0), 0u);
    EXPECT_EQ(text.compare(text.find('\n', note) + 1, 18, "Assertion failed: "), 0);
}

TEST_F(Inquiry, EchoGoesToStderrOnlyWhenOn) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(UnregisterUsage(7402), 1);
    EXPECT_EQ(LoadNetFromFile(7402, "x"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(LastReport().find("it != m_Nets.end()"), std::string::npos);
    SetReportEcho(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadNetFromFile(7402, "x"), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("it != m_Nets.end()"), std::string::npos);
}

TEST_F(Inquiry, SizesNeuronsReadoutAndLeakRate) {
    BuildSignalNet(7403, 2, 3, true, 20, 50, 6, 0);
    int in = -1, out = -1, threshold = -1, neurons = -1, rows = -1, columns = -1;
    ASSERT_EQ(GetNetSizes(7403, &in, &out, &threshold), 1);
    EXPECT_EQ(in, 2);
    EXPECT_EQ(out, 3);
    EXPECT_EQ(threshold, 1);
    EXPECT_EQ(GetNetSizes(7403, nullptr, &out, nullptr), 1);
    ASSERT_EQ(GetNetNeuronCount(7403, &neurons), 1);
    EXPECT_EQ(neurons, 20);
    ASSERT_EQ(GetNetReadoutShape(7403, &rows, &columns), 1);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(columns, 0);
    EXPECT_EQ(GetNetReadout(7403, 0, 0, nullptr), 1);
    ASSERT_EQ(LearnNet(7403), 1);
    ASSERT_EQ(GetNetReadoutShape(7403, &rows, &columns), 1);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(columns, 21);
    std::vector<double> weights(63, -7.0);
    ASSERT_EQ(GetNetReadout(7403, 3, 21, weights.data()), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(SameBits(std::vector<double>(weights.begin() + 21 * i, weights.begin() + 21 * (i + 1)),
                             NetOf(7403).OutputWeights()[i]));
    std::vector<double> untouched(63, -7.0);
    EXPECT_EQ(GetNetReadout(7403, 3, 20, untouched.data()), 0);
    EXPECT_EQ(GetNetReadout(7403, 2, 21, untouched.data()), 0);
    EXPECT_EQ(GetNetReadout(7403, 3, 21, nullptr), 0);
    EXPECT_EQ(untouched, std::vector<double>(63, -7.0));
    EXPECT_EQ(GetNetNeuronCount(7403, nullptr), 0);
    EXPECT_EQ(GetNetReadoutShape(7403, &rows, nullptr), 0);
    double rate = 0;
    ASSERT_EQ(GetNetLeakRate(7403, &rate), 1);
    EXPECT_EQ(rate, 1.0);
    const double leak = 0.25;
    ASSERT_EQ(SetNetLeakRate(7403, &leak), 1);
    ASSERT_EQ(GetNetLeakRate(7403, &rate), 1);
    EXPECT_EQ(rate, 0.25);
    EXPECT_EQ(GetNetLeakRate(7403, nullptr), 0);
    EXPECT_EQ(GetNetSizes(7499, &in, &out, &threshold), 0);
}

// The input matrix and the links as arrays: the matrices the step multiplies by.
TEST_F(Inquiry, InputMatrixAndLinks) {
    BuildSignalNet(7403, 2, 1, true, 20, 50, 6, 0);
    const rcnet::Reservoire& r = NetOf(7403).Reservoir();
    std::vector<double> matrix(40, -7.0);
    ASSERT_EQ(GetNetInputMatrix(7403, 2, 20, matrix.data()), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(SameBits(std::vector<double>(matrix.begin() + 20 * i, matrix.begin() + 20 * (i + 1)),
                             r.InputMatrix()[i]));
    EXPECT_EQ(GetNetInputMatrix(7403, 1, 20, matrix.data()), 0);
    EXPECT_EQ(GetNetInputMatrix(7403, 2, 19, matrix.data()), 0);
    EXPECT_EQ(GetNetInputMatrix(7403, 2, 20, nullptr), 0);
    for (int back : {0, 1}) {
        int count = -1;
        ASSERT_EQ(GetNetLinkCount(7403, back, &count), 1);
        EXPECT_EQ(count, back ? 40 : 60);
        std::vector<int> sources(count), targets(count);
        std::vector<double> weights(count);
        ASSERT_EQ(GetNetLinks(7403, back, count, sources.data(), targets.data(), weights.data()), 1);
        // Against the neurons' own maps, walked by position.
        std::vector<double> dense(400, 0.0), expected(400, 0.0);
        for (int k = 0; k < count; ++k) dense[targets[k] * 20 + sources[k]] += weights[k];
        for (size_t j = 0; j < 20; ++j)
            for (const auto& [connector, weight] :
                 back ? r.Neurons()[j]->m_OutgoingBack : r.Neurons()[j]->m_Outgoing)
                for (size_t t = 0; t < 20; ++t)
                    if (r.Neurons()[t].get() == connector->m_Neuron) expected[t * 20 + j] = weight;
        EXPECT_TRUE(SameBits(dense, expected)) << back;
        EXPECT_TRUE(std::is_sorted(sources.begin(), sources.end()));
        EXPECT_EQ(GetNetLinks(7403, back, count - 1, sources.data(), targets.data(), weights.data()), 0);
        EXPECT_EQ(GetNetLinks(7403, back, count, nullptr, targets.data(), weights.data()), 0);
    }
    EXPECT_EQ(GetNetLinkCount(7403, 1, nullptr), 0);
}

TEST_F(Inquiry, FileErrorsSayWhereAndWhy) {
    rcnet::test::TempDir dir;
    ASSERT_EQ(RegisterUsage(7404, 1, 1, 1), 1);
    const std::string missing = dir.File("missing.net"), bad = dir.File("bad.pat"),
                      good = dir.File("good.pat");
    EXPECT_EQ(LoadNetFromFile(7404, missing.c_str()), 0);
    EXPECT_EQ(LastFileError(), missing + ": cannot be opened (missing, not a regular file, or not readable)");
    std::ofstream(bad) << "1 1 2\n0.5 0.25\n0.5 x\n";
    EXPECT_EQ(AddPatternsFromFile(7404, bad.c_str()), 0);
    EXPECT_EQ(LastFileError(),
              bad + ": line 3, column 5: 'x' is not a number (expected target 1 of 1 of pattern 2 of 2)");
    EXPECT_EQ(LastFileError().empty(), false) << "asking does not start a new call";
    std::ofstream(good) << "1 1 1\n0.5 0.25\n";
    EXPECT_EQ(AddPatternsFromFile(7404, good.c_str()), 1);
    EXPECT_EQ(LastFileError(), "");
    char small[5];
    EXPECT_EQ(LoadNetFromFile(7404, missing.c_str()), 0);
    EXPECT_EQ(GetLastFileError(small, sizeof small), 0);
    EXPECT_EQ(std::string(small), missing.substr(0, 4));
}

// Each failure's kind, read right after its call, from the check that failed first.
TEST_F(Inquiry, ReportKindSaysWhatWentWrong) {
    rcnet::test::TempDir dir;
    const std::string missing = dir.File("missing.net"), bad = dir.File("bad.net");
    std::ofstream(bad) << "1 1 x\n";
    const double in[2] = {0.5, 0.5}, nan = std::numeric_limits<double>::quiet_NaN();
    double out[1];
    const auto expectKind = [](int result, int kind, const char* what) {
        EXPECT_EQ(result, 0) << what;
        EXPECT_EQ(GetLastReportKind(), kind) << what;
    };
    expectKind(LearnNet(7400), RCNET_REPORT_UNKNOWN_ID, "an unregistered id");
    ASSERT_EQ(RegisterUsage(7400, 2, 1, 1), 1);
    expectKind(RegisterUsage(7400, 2, 1, 1), RCNET_REPORT_ID_TAKEN, "a registered id");
    EXPECT_EQ(GetLastReportKind(), RCNET_REPORT_ID_TAKEN) << "asking does not start a new call";
    expectKind(InitNetInputMatrix(7400, -1), RCNET_REPORT_ARGUMENT, "a negative count");
    expectKind(PropagatePattern(7400, 3, in, 1, out), RCNET_REPORT_SIZE, "other sizes");
    expectKind(LearnNet(7400), RCNET_REPORT_CALL_ORDER, "no patterns");
    ASSERT_EQ(AddNeuronsToNet(7400, 5, 1), 1);
    ASSERT_EQ(InitNetInputMatrix(7400, 2), 1);
    expectKind(PropagatePattern(7400, 2, in, 1, out), RCNET_REPORT_CALL_ORDER, "no readout");
    expectKind(SetNetLeakRate(7400, &nan), RCNET_REPORT_NUMERIC, "a NaN");
    expectKind(LoadNetFromFile(7400, missing.c_str()), RCNET_REPORT_FILE_ACCESS, "a missing file");
    expectKind(LoadNetFromFile(7400, bad.c_str()), RCNET_REPORT_FILE_FORMAT, "a malformed file");
    EXPECT_EQ(SetReportEcho(0), 1);
    EXPECT_EQ(GetLastReportKind(), RCNET_REPORT_NONE) << "a call without reports clears it";

    // The first report decides: an unknown type warns, and the call succeeds.
    EXPECT_EQ(AddNeuronsToNet(7400, 1, 9), 1);
    EXPECT_EQ(GetLastReportKind(), RCNET_REPORT_ARGUMENT);
    std::thread([] { EXPECT_EQ(GetLastReportKind(), RCNET_REPORT_NONE) << "another thread's"; }).join();
}

}  // namespace
