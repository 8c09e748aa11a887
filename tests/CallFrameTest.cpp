#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "src/CallFrame.h"
#include "tests/support/ReportCapture.h"

namespace {

using rcnet::Net;
using rcnet::NetManager;
using rcnet::frame::Guarded;
using rcnet::frame::WithNet;
using rcnet::frame::WithSizedNet;
using rcnet::test::ReportCapture;
using Checks = std::vector<std::string>;

const char kSizeCheck[] =
    "net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize) @ Exports";

TEST(CallFrame, UnregisteredIdMakesTwoReportsAndNeverRunsTheOperation) {
    ReportCapture capture;
    bool ran = false;
    EXPECT_EQ(WithNet(-5150, [&](Net&) { return ran = true; }), 0);
    EXPECT_EQ(WithSizedNet(-5150, 1, 1, [&](Net&) { return ran = true; }), 0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(capture.Checks(), (Checks{"it != m_Nets.end() @ NetManager", "net @ Exports",
                                        "it != m_Nets.end() @ NetManager", kSizeCheck}));
}

TEST(CallFrame, OperationResultBecomesOneOrZero) {
    ReportCapture capture;
    ASSERT_TRUE(NetManager::Instance().RegisterNet(2001, 3, 1, false));
    EXPECT_EQ(WithNet(2001, [](Net& net) { return net.InputSize() == 3; }), 1);
    EXPECT_EQ(WithNet(2001, [](Net&) { return false; }), 0);
    EXPECT_TRUE(capture.Lines().empty()) << "a false operation result is not a precondition failure";
    NetManager::Instance().UnregisterNet(2001);
}

TEST(CallFrame, SizesAreComparedAsUnsigned32BitValues) {
    ReportCapture capture;
    ASSERT_TRUE(NetManager::Instance().RegisterNet(2002, 0xFFFFFFFFu, 2, true));
    int runs = 0;
    auto op = [&](Net&) { return ++runs > 0; };
    EXPECT_EQ(WithSizedNet(2002, uint32_t(-1), 2, op), 1);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(WithSizedNet(2002, uint32_t(-1), 3, op), 0);
    EXPECT_EQ(WithSizedNet(2002, 0x7FFFFFFFu, 2, op), 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(capture.Checks(), (Checks{kSizeCheck, kSizeCheck}));
    NetManager::Instance().UnregisterNet(2002);
}

TEST(CallFrame, NoExceptionEscapes) {
    ReportCapture capture;
    EXPECT_EQ(Guarded([]() -> bool { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(Guarded([]() -> bool { throw std::length_error("vector"); }), 0);
    EXPECT_EQ(Guarded([]() -> bool { throw std::runtime_error("x"); }), 0);
    EXPECT_EQ(Guarded([]() -> bool { throw 42; }), 0);
    ASSERT_TRUE(NetManager::Instance().RegisterNet(2003, 1, 1, false));
    EXPECT_EQ(WithNet(2003, [](Net&) -> bool { throw std::logic_error("bug"); }), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"out of memory @ Exports", "out of memory @ Exports", "unexpected exception @ Exports",
                      "unexpected exception @ Exports", "unexpected exception @ Exports"}));
    NetManager::Instance().UnregisterNet(2003);
}

TEST(CallFrame, NetworkUnregisteredDuringACallLivesUntilTheCallReturns) {
    NetManager& registry = NetManager::Instance();
    ASSERT_TRUE(registry.RegisterNet(2004, 4, 1, true));
    std::weak_ptr<Net> watch = registry.GetNet(2004);

    std::atomic<int> phase{0};
    bool aliveAfterUnregister = false;
    uint32_t sizeSeen = 0;
    std::thread caller([&] {
        const int result = WithNet(2004, [&](Net& net) {
            phase = 1;
            while (phase != 2) std::this_thread::yield();
            aliveAfterUnregister = !watch.expired();
            net.AddPattern({1, 2, 3, 4}, {5});  // still a whole, usable network
            sizeSeen = net.InputSize();
            return true;
        });
        EXPECT_EQ(result, 1);
    });
    while (phase != 1) std::this_thread::yield();
    EXPECT_EQ(registry.UnregisterNet(2004), 1u);
    phase = 2;
    caller.join();

    EXPECT_TRUE(aliveAfterUnregister);
    EXPECT_EQ(sizeSeen, 4u);
    EXPECT_TRUE(watch.expired()) << "the call dropped the last reference";
    ReportCapture capture;
    EXPECT_EQ(WithNet(2004, [](Net&) { return true; }), 0);
    EXPECT_EQ(capture.Lines().size(), 2u);
}

}  // namespace
