#include <gtest/gtest.h>

#include <vector>

#include "src/Net.h"
#include "tests/support/FailingAlloc.h"
#include "tests/support/Internals.h"
#include "tests/support/ReportCapture.h"

namespace {

using rcnet::Net;
using rcnet::Vector;
using rcnet::VectorList;
using rcnet::test::ReportCapture;
using Lists = std::vector<Vector>;

TEST(Net, NewNetworkHoldsItsSizesAndNothingElse) {
    Net net(3, 2, true);
    EXPECT_EQ(net.InputSize(), 3u);
    EXPECT_EQ(net.OutputSize(), 2u);
    EXPECT_TRUE(net.UseThreshold());
    EXPECT_EQ(net.PatternCount(), 0u);
    EXPECT_TRUE(net.OutputWeights().empty());
    EXPECT_FALSE(Net(0, 0, false).UseThreshold());
}

TEST(Net, PatternsAreAppendedInOrderAndNeverDeduplicated) {
    ReportCapture capture;
    Net net(3, 1, false);
    net.AddPattern({0, 0, 0}, {9});
    net.AddPatterns(VectorList(Lists{{1, 2, 3}, {4, 5, 6}, {1, 2, 3}}), VectorList(Lists{{7}, {8}, {7}}));
    net.AddPatterns(VectorList(Lists{}), VectorList(Lists{}));
    EXPECT_EQ(rcnet::test::StoredInputs(net).ToLists(), (Lists{{0, 0, 0}, {1, 2, 3}, {4, 5, 6}, {1, 2, 3}}));
    EXPECT_EQ(rcnet::test::StoredOutputs(net).ToLists(), (Lists{{9}, {7}, {8}, {7}}));
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(Net, PatternsOfOtherSizesAreReportedAndNotStored) {
    ReportCapture capture;
    Net net(2, 1, true);
    EXPECT_FALSE(net.AddPattern({1, 2, 3}, {1}));
    EXPECT_FALSE(net.AddPattern({1, 2}, {}));
    EXPECT_FALSE(net.AddPattern({1}, {1, 2}));
    EXPECT_TRUE(net.AddPattern({1, 2}, {3}));
    EXPECT_EQ(capture.Checks(), (std::vector<std::string>{
                                    "m_InputSize == input.size() @ Net",
                                    "m_OutputSize == output.size() @ Net",
                                    "m_InputSize == input.size() @ Net",
                                    "m_OutputSize == output.size() @ Net",
                                }));
    EXPECT_EQ(net.PatternCount(), 1u);

    // In a list, the fitting patterns are still stored, in order.
    capture.Clear();
    net.AddPatterns(VectorList(Lists{{5, 6}, {7}, {8, 9}}), VectorList(Lists{{1}, {2}, {3}}));
    EXPECT_EQ(capture.Checks(), (std::vector<std::string>{"m_InputSize == input.size() @ Net"}));
    EXPECT_EQ(rcnet::test::StoredInputs(net).ToLists(), (Lists{{1, 2}, {5, 6}, {8, 9}}));
    EXPECT_EQ(rcnet::test::StoredOutputs(net).ToLists(), (Lists{{3}, {1}, {3}}));
}

TEST(Net, ListsOfDifferentLengthsAddNothing) {
    ReportCapture capture;
    Net net(1, 1, true);
    net.AddPatterns(VectorList(Lists{{1}, {2}}), VectorList(Lists{{1}}));
    net.AddPatterns(VectorList(Lists{{1}}), VectorList(Lists{{1}, {2}}));
    EXPECT_EQ(capture.Checks(),
              (std::vector<std::string>{"size == outputs.size() @ Net", "size == outputs.size() @ Net"}));
    EXPECT_EQ(net.PatternCount(), 0u);
}

TEST(Net, OutOfMemoryWhileAddingLeavesTheStoreAsItWas) {
    Net net(2, 1, false);
    net.AddPattern({-1, -2}, {-3});
    const Lists inputs{{1, 2}, {3, 4}, {5, 6}};
    const Lists outputs{{7}, {8}, {9}};
    const long allocations = rcnet::test::ForEachAllocationFailure(
        [&] {
            try {
                net.AddPatterns(VectorList(inputs), VectorList(outputs));
            } catch (const std::bad_alloc&) {
            }
        },
        [&](long k, bool failed) {
            if (failed) {
                EXPECT_EQ(net.PatternCount(), 1u) << "allocation " << k;
                EXPECT_EQ(rcnet::test::StoredInputs(net)[0].ToVector(), (Vector{-1, -2}));
            } else {
                EXPECT_EQ(net.PatternCount(), 4u);
            }
        });
    EXPECT_GT(allocations, 3);
}

}  // namespace
