// Many threads registering, using and unregistering overlapping ids at once. Run under ThreadSanitizer
// this shows the registry's locking; natively it shows that nothing is lost or mixed up.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "src/CallFrame.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SignalNet.h"

namespace {

using rcnet::Net;
using rcnet::NetManager;

constexpr int kBaseId = 4000;
constexpr int kIds = 6;

TEST(Stress, ConcurrentRegisterLookupUnregister) {
    constexpr int kThreads = 8;
    constexpr int kCallsPerThread = 3000;
    std::atomic<long> registered{0}, refused{0}, used{0}, missed{0}, mismatched{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            rcnet::test::ReportCapture quiet;  // thousands of expected reports
            std::mt19937 rng(t + 1);
            for (int i = 0; i < kCallsPerThread; ++i) {
                const int slot = static_cast<int>(rng() % kIds);
                const int id = kBaseId + slot;
                switch (rng() % 3) {
                    case 0:
                        // Every id is always registered with sizes derived from it, so a lookup can tell
                        // whether it got the right network.
                        (RegisterUsage(id, slot, slot + 1, slot % 2) ? registered : refused)++;
                        break;
                    case 1: {
                        const int result = rcnet::frame::WithNet(id, [&](Net& net) {
                            if (net.InputSize() != uint32_t(slot) || net.OutputSize() != uint32_t(slot + 1) ||
                                net.UseThreshold() != (slot % 2 == 1))
                                ++mismatched;
                            return true;
                        });
                        (result ? used : missed)++;
                        break;
                    }
                    default:
                        EXPECT_EQ(UnregisterUsage(id), 1);
                }
            }
            // Every report is one of the two that this mix can cause.
            for (const std::string& check : quiet.Checks()) {
                EXPECT_TRUE(check == "it == m_Nets.end() @ NetManager" ||
                            check == "it != m_Nets.end() @ NetManager" || check == "net @ Exports")
                    << check;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(mismatched.load(), 0);
    EXPECT_GT(registered.load(), 0);
    EXPECT_GT(used.load(), 0);
    EXPECT_GT(missed.load(), 0);
    for (int slot = 0; slot < kIds; ++slot) UnregisterUsage(kBaseId + slot);
}

TEST(Stress, UnregisterWhileManyCallsHoldTheNetwork) {
    constexpr int kRounds = 200;
    constexpr int kUsers = 4;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(RegisterUsage(kBaseId + 100, 2, 1, 1), 1);
        std::weak_ptr<Net> watch = NetManager::Instance().GetNet(kBaseId + 100);
        std::atomic<int> inside{0};
        std::atomic<bool> release{false};
        std::atomic<int> succeeded{0};
        std::vector<std::thread> users;
        for (int u = 0; u < kUsers; ++u) {
            users.emplace_back([&] {
                rcnet::test::ReportCapture quiet;
                const int result = rcnet::frame::WithNet(kBaseId + 100, [&](Net& net) {
                    // Calls on one network take turns.
                    EXPECT_EQ(++inside, 1);
                    while (!release) std::this_thread::yield();
                    --inside;
                    return net.InputSize() == 2 && net.UseThreshold();
                });
                if (result) ++succeeded;
            });
        }
        // Wait until every user holds a reference (one inside, the others waiting for their turn), then
        // pull the network out from under them.
        while (watch.use_count() < kUsers + 1) std::this_thread::yield();
        EXPECT_EQ(UnregisterUsage(kBaseId + 100), 1);
        EXPECT_FALSE(watch.expired());
        release = true;
        for (std::thread& user : users) user.join();
        EXPECT_EQ(succeeded.load(), kUsers);
        EXPECT_TRUE(watch.expired());
    }
}

// Threads sharing one id, training and running: every call runs alone on the network, so nothing is
// corrupted (the sanitizer builds see any overlap) and every call succeeds with finite outputs.
TEST(Stress, CallsOnOneNetworkTakeTurns) {
    const int id = kBaseId + 101;
    rcnet::test::BuildSignalNet(id, 2, 1, true, 40, 200, 3, 2);
    ASSERT_EQ(LearnNet(id), 1);
    std::vector<double> ins(2 * 300);
    for (size_t k = 0; k < ins.size(); ++k) ins[k] = std::sin(0.1 * double(k));
    std::atomic<int> differing{0};
    std::vector<std::thread> users;
    for (int u = 0; u < 4; ++u) {
        users.emplace_back([&, u] {
            std::vector<double> outs(300);
            for (int round = 0; round < 20; ++round) {
                if (u == 0) {
                    EXPECT_EQ(LearnNet(id), 1);
                    continue;
                }
                // Another thread may step between these two calls, but never inside one.
                std::vector<double> state(40, 0.0);
                EXPECT_EQ(SetNetState(id, 40, state.data()), 1);
                EXPECT_EQ(RunNetSequence(id, 300, 2, ins.data(), 1, outs.data()), 1);
                for (double v : outs) differing += !std::isfinite(v);
            }
        });
    }
    for (std::thread& user : users) user.join();
    EXPECT_EQ(differing.load(), 0);
    UnregisterUsage(id);
}

}  // namespace
