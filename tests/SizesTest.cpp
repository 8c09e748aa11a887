// Sizes made from counts: a size past size_t is out of memory, never a small array. The boundary that
// matters is the 32-bit target's, where 65,536 neurons and the threshold square past 2^32.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/OnlineReadout.h"
#include "src/Sizes.h"
#include "src/Solver/QrSolver.h"
#include "tests/support/ReportCapture.h"

namespace {

using namespace rcnet;
using Checks = std::vector<std::string>;

TEST(Sizes, WrapsAreOutOfMemory) {
    EXPECT_THROW(SizeProduct(kSizeMax / 3 + 1, 3), std::bad_alloc);
    EXPECT_THROW(SizeSum(kSizeMax, 1), std::bad_alloc);
    // The largest side whose m (m + 1) fits (65,535 on 32-bit targets), and the next.
    const size_t side = kSizeMax >> (4 * sizeof(size_t));
    EXPECT_EQ(TriangleSize(side), (side + 1) / 2 * side);
    EXPECT_THROW(TriangleSize(side + 1), std::bad_alloc);
}

// 65,534 and 65,535 neurons with the threshold, through the exports: online learning and the stable
// readout refuse for want of memory, on the 32-bit target too, where m (m + 1) / 2 and features x width
// used to wrap into a tiny array that was then written far past its end.
TEST(Sizes, LargeReadoutsAreRefusedNotOverrun) {
    if (sizeof(size_t) > 4) GTEST_SKIP() << "64-bit: the arrays would really be allocated (17 GB)";
    EXPECT_THROW(OnlineReadout(65535, true, 1, 0.99, 1e-2), std::bad_alloc);
    EXPECT_THROW(QrSolver(65535, true, 1), std::bad_alloc);
    for (const int neurons : {65534, 65535}) {
        SCOPED_TRACE(neurons);
        ASSERT_EQ(RegisterUsage(7400, 1, 1, 1), 1);
        ASSERT_EQ(AddNeuronsToNet(7400, neurons, 1), 1);
        ASSERT_EQ(InitNetInputMatrix(7400, 1), 1);
        const double in = 0.5, target = 0.25;
        ASSERT_EQ(AddPatternsToNet(7400, 1, 1, &in, 1, &target), 1);
        ASSERT_EQ(SetNetReadoutSolver(7400, 1), 1);
        test::ReportCapture capture;
        EXPECT_EQ(TrainNetOnline(7400, 1, 1, &in, 1, &target), 0);
        EXPECT_EQ(LearnNet(7400), 0);
        EXPECT_EQ(capture.Checks(), Checks(2, "out of memory @ Exports"));
        UnregisterUsage(7400);
    }
}

}  // namespace
