#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "tests/support/FailingAlloc.h"
#include "tests/support/ReportCapture.h"

namespace {

using rcnet::NetManager;
using rcnet::test::ReportCapture;
using Checks = std::vector<std::string>;

TEST(NetManager, RegisteringATakenIdFailsAndKeepsTheFirstNetwork) {
    ReportCapture capture;
    NetManager& registry = NetManager::Instance();
    ASSERT_TRUE(registry.RegisterNet(1001, 3, 2, true));
    std::shared_ptr<rcnet::Net> first = registry.GetNet(1001);
    first->AddPattern({1, 2, 3}, {4, 5});

    EXPECT_FALSE(registry.RegisterNet(1001, 7, 7, false));
    EXPECT_EQ(capture.Checks(), Checks{"it == m_Nets.end() @ NetManager"});
    std::shared_ptr<rcnet::Net> still = registry.GetNet(1001);
    EXPECT_EQ(still, first);
    EXPECT_EQ(still->InputSize(), 3u);
    EXPECT_EQ(still->OutputSize(), 2u);
    EXPECT_TRUE(still->UseThreshold());
    EXPECT_EQ(still->PatternCount(), 1u);
    registry.UnregisterNet(1001);
}

TEST(NetManager, ReRegisteringAfterUnregisterGivesANewEmptyNetwork) {
    ReportCapture capture;
    NetManager& registry = NetManager::Instance();
    ASSERT_TRUE(registry.RegisterNet(5, 1, 1, false));
    registry.GetNet(5)->AddPattern({1}, {2});
    std::weak_ptr<rcnet::Net> old = registry.GetNet(5);

    EXPECT_EQ(registry.UnregisterNet(5), 1u);
    EXPECT_TRUE(old.expired()) << "nothing else held it, so unregistering destroyed it";
    EXPECT_EQ(registry.UnregisterNet(5), 0u);
    ASSERT_TRUE(registry.RegisterNet(5, 1, 1, false));
    EXPECT_EQ(registry.GetNet(5)->PatternCount(), 0u);
    EXPECT_TRUE(capture.Lines().empty());
    registry.UnregisterNet(5);
}

TEST(NetManager, LookupOfAnUnknownIdReportsEveryTime) {
    ReportCapture capture;
    NetManager& registry = NetManager::Instance();
    EXPECT_EQ(registry.GetNet(-424242), nullptr);
    EXPECT_EQ(registry.GetNet(-424242), nullptr);
    EXPECT_EQ(capture.Checks(),
              (Checks{"it != m_Nets.end() @ NetManager", "it != m_Nets.end() @ NetManager"}));
}

TEST(NetManager, ExtremeIdsAreOrdinaryKeys) {
    ReportCapture capture;
    NetManager& registry = NetManager::Instance();
    const size_t before = registry.Count();
    const int32_t ids[] = {0, -1, INT32_MAX, INT32_MIN};
    for (int32_t id : ids) ASSERT_TRUE(registry.RegisterNet(id, uint32_t(id), 1, false)) << id;
    EXPECT_EQ(registry.Count(), before + 4);
    for (int32_t id : ids) EXPECT_EQ(registry.GetNet(id)->InputSize(), uint32_t(id));
    for (int32_t id : ids) EXPECT_EQ(registry.UnregisterNet(id), 1u);
    EXPECT_EQ(registry.Count(), before);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(NetManager, SizesAreStoredBitForBit) {
    ASSERT_EQ(RegisterUsage(1002, -1, INT_MIN, 17), 1);
    std::shared_ptr<rcnet::Net> net = NetManager::Instance().GetNet(1002);
    EXPECT_EQ(net->InputSize(), 0xFFFFFFFFu);
    EXPECT_EQ(net->OutputSize(), 0x80000000u);
    EXPECT_TRUE(net->UseThreshold());
    ASSERT_EQ(RegisterUsage(1003, 0, 0, 0), 1);
    EXPECT_FALSE(NetManager::Instance().GetNet(1003)->UseThreshold());
    UnregisterUsage(1002);
    UnregisterUsage(1003);
}

TEST(NetManager, OutOfMemoryWhileRegisteringChangesNothingAndReleasesTheLock) {
    NetManager& registry = NetManager::Instance();
    ASSERT_TRUE(registry.RegisterNet(1004, 1, 1, true));  // the registry's map is not empty
    const size_t before = registry.Count();
    ReportCapture capture;
    rcnet::test::ForEachAllocationFailure([&] { RegisterUsage(1005, 2, 2, 1); },
                                          [&](long k, bool failed) {
                                              if (!failed) return;
                                              EXPECT_EQ(registry.Count(), before) << "allocation " << k;
                                              EXPECT_EQ(capture.Checks(), Checks{"out of memory @ Exports"});
                                              capture.Clear();
                                          });
    EXPECT_EQ(registry.Count(), before + 1);
    EXPECT_EQ(registry.GetNet(1005)->InputSize(), 2u);
    EXPECT_TRUE(capture.Lines().empty());
    registry.UnregisterNet(1004);
    registry.UnregisterNet(1005);
}

}  // namespace
