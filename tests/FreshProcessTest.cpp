// Runs in its own process: properties of a library that nothing has touched yet.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "src/Random.h"

namespace {

TEST(FreshProcess, RandomizeAloneNeverCreatesTheRegistry) {
    ASSERT_FALSE(rcnet::NetManager::IsCreated());
    Randomize(3);
    EXPECT_EQ(rcnet::rand(), 48);  // (3 * 214013 + 2531011) >> 16
    EXPECT_FALSE(rcnet::NetManager::IsCreated());

    // Several threads making their first call at the same moment all get the one registry.
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<const rcnet::NetManager*> seen(kThreads);
    std::vector<int> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            results[t] = RegisterUsage(40, 1, 1, 0);
            seen[t] = &rcnet::NetManager::Instance();
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(rcnet::NetManager::IsCreated());
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(std::count(results.begin(), results.end(), 1), 1) << "exactly one registration of id 40 wins";
    EXPECT_EQ(rcnet::NetManager::Instance().Count(), 1u);
}

}  // namespace

namespace {

TEST(FreshProcess, FirstNeuronsOfTheProcessHaveIdsOneAndTwo) {
    ASSERT_EQ(rcnet::NeuronBase::LastNeuronId(), 0u) << "no neuron may be made before this test";
    ASSERT_EQ(RegisterUsage(41, 1, 1, 0), 1);
    ASSERT_EQ(RegisterUsage(42, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(41, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(42, 1, 3), 1);
    auto& registry = rcnet::NetManager::Instance();
    EXPECT_EQ(registry.GetNet(41)->Reservoir().Neurons()[0]->m_Id, 1u);
    EXPECT_EQ(registry.GetNet(42)->Reservoir().Neurons()[0]->m_Id, 2u);
}

}  // namespace
