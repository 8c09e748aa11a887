#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "src/Report.h"
#include "tests/support/ReportCapture.h"

namespace {

constexpr char kReportSource[] = "Solver";

int Require(int x) {
    RC_REQUIRE(x > 0 && x != 3, -1);
    return x;
}

TEST(Report, FormatIsExact) {
    rcnet::test::ReportCapture capture;
    rcnet::ReportFailure("count <= size*size", "Reservoire", 42);
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], "Assertion failed: count <= size*size, file Reservoire, line 42\n");
}

TEST(Report, MacrosQuoteTheExpressionAndGoOnOrReturn) {
    rcnet::test::ReportCapture capture;
    EXPECT_EQ(Require(5), 5);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(Require(3), -1);
    EXPECT_EQ(RC_CHECK(1 + 1 == 3), false);
    EXPECT_EQ(RC_CHECK(1 + 1 == 2), true);
    EXPECT_EQ(capture.Checks(),
              (std::vector<std::string>{"x > 0 && x != 3 @ Solver", "1 + 1 == 3 @ Solver"}));
}

TEST(Report, DefaultSinkIsOneLineOnStderr) {
    testing::internal::CaptureStderr();
    rcnet::ReportFailure("net", "Exports", 7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Assertion failed: net, file Exports, line 7\n");
}

TEST(Report, OverlongExpressionIsCutButStaysOneLine) {
    rcnet::test::ReportCapture capture;
    const std::string longExpr(5000, 'x');
    rcnet::ReportFailure(longExpr.c_str(), "Net", 1);
    ASSERT_EQ(capture.Lines().size(), 1u);
    const std::string& line = capture.Lines()[0];
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.rfind("Assertion failed: xxx", 0), 0u);
}

TEST(Report, HooksBelongToOneThread) {
    rcnet::test::ReportCapture capture;
    testing::internal::CaptureStderr();
    std::thread other([] { rcnet::ReportFailure("elsewhere", "Net", 2); });
    other.join();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(err, "Assertion failed: elsewhere, file Net, line 2\n");
}

TEST(Report, CallKindIsItsFileErrorsOrElseItsFirstReports) {
    rcnet::test::ReportCapture capture;
    rcnet::BeginCallReports();
    EXPECT_EQ(Require(3), -1);
    EXPECT_EQ(rcnet::CallReportKind(), RCNET_REPORT_ARGUMENT) << "the plain macros' kind";
    rcnet::BeginCallReports();
    EXPECT_EQ(rcnet::CallReportKind(), RCNET_REPORT_NONE);
    const int32_t x = 1;
    EXPECT_FALSE(RC_CHECK_AS(RCNET_REPORT_SIZE, x == INT32_MAX));
    EXPECT_EQ(Require(3), -1);
    EXPECT_EQ(rcnet::CallReportKind(), RCNET_REPORT_SIZE);
    rcnet::KeepFileError("x: cannot be opened", RCNET_REPORT_FILE_ACCESS);
    EXPECT_EQ(rcnet::CallReportKind(), RCNET_REPORT_FILE_ACCESS);
    // Quoted as written: a macro in the expression is not expanded into the report.
    EXPECT_EQ(capture.Checks(),
              (std::vector<std::string>{"x > 0 && x != 3 @ Solver", "x == INT32_MAX @ Solver",
                                        "x > 0 && x != 3 @ Solver"}));
    rcnet::BeginCallReports();
}

// A network of 5 neurons, 1 input, trained on `patterns` steps of a sine (one NaN target with `nan`);
// returns LearnNet's result with the call's kind and lines.
struct Learned {
    int result, kind;
    std::string report;
};
Learned LearnSine(int id, int patterns, bool nan, RcnetProgress progress) {
    EXPECT_EQ(RegisterUsage(id, 1, 1, 1), 1);
    Randomize(3);
    AddNeuronsToNet(id, 5, 1);
    AddRandomConnectionsToNet(id, 20);
    InitNetInputMatrix(id, 1);
    std::vector<double> in(patterns), out(patterns);
    for (int t = 0; t < patterns; ++t) in[t] = std::sin(0.2 * t), out[t] = std::sin(0.2 * (t + 1));
    if (nan) out[7] = std::nan("");
    AddPatternsToNet(id, patterns, 1, in.data(), 1, out.data());
    SetNetProgress(id, progress, nullptr);
    SetReportEcho(0);
    Learned learned{LearnNet(id), GetLastReportKind(), ""};
    std::vector<char> text(20000);
    GetLastReport(text.data(), static_cast<int>(text.size()));
    learned.report = text.data();
    SetReportEcho(1);  // a call of its own: after the reports are read
    UnregisterUsage(id);
    return learned;
}

// A progress callback that asks the library about another network, as a display would.
void RCNET_CALL AskAnother(int, double, void*) {
    int inputs = 0;
    GetNetSizes(99, &inputs, nullptr, nullptr);
    Randomize(1);
}

TEST(Report, ACallbackCallingTheLibraryLeavesTheOuterCallsReport) {
    const Learned plain = LearnSine(97, 60, true, nullptr);
    ASSERT_EQ(plain.kind, RCNET_REPORT_NUMERIC);
    ASSERT_NE(plain.report.find("readout of output 0 finite (a training value is NaN"), std::string::npos);
    const Learned watched = LearnSine(98, 60, true, AskAnother);
    EXPECT_EQ(watched.result, plain.result);
    EXPECT_EQ(watched.kind, plain.kind);
    EXPECT_EQ(watched.report.substr(0, watched.report.find(", line")),
              plain.report.substr(0, plain.report.find(", line")));
}

}  // namespace
