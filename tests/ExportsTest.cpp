// The exports as a host sees them: through the public header only.
#include <gtest/gtest.h>

#include <climits>

#include "include/rcnet.h"
#include "tests/support/ReportCapture.h"

namespace {

using rcnet::test::ReportCapture;
using Checks = std::vector<std::string>;

TEST(Exports, RegisterTwiceReturnsOneThenZero) {
    ReportCapture capture;
    EXPECT_EQ(RegisterUsage(3001, 3, 1, 1), 1);
    EXPECT_EQ(RegisterUsage(3001, 3, 1, 1), 0);
    EXPECT_EQ(RegisterUsage(3001, 9, 9, 0), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"it == m_Nets.end() @ NetManager", "it == m_Nets.end() @ NetManager"}));
    EXPECT_EQ(UnregisterUsage(3001), 1);
}

TEST(Exports, UnregisterAlwaysReturnsOneWithoutReport) {
    ReportCapture capture;
    EXPECT_EQ(UnregisterUsage(3002), 1);
    EXPECT_EQ(RegisterUsage(3002, 1, 1, 0), 1);
    EXPECT_EQ(UnregisterUsage(3002), 1);
    EXPECT_EQ(UnregisterUsage(3002), 1);
    EXPECT_EQ(UnregisterUsage(INT_MIN), 1);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(RegisterUsage(3002, 1, 1, 0), 1) << "the id is free again";
    EXPECT_EQ(UnregisterUsage(3002), 1);
}

TEST(Exports, AnyNonzeroThresholdArgumentMeansTrue) {
    for (int flag : {1, -1, 2, INT_MIN}) {
        ASSERT_EQ(RegisterUsage(3003, 1, 1, flag), 1);
        EXPECT_EQ(UnregisterUsage(3003), 1);
    }
}

}  // namespace
