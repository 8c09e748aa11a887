// Fixtures for tests that register networks through the exports: whatever a test leaves registered,
// even after a failed assertion, is gone before the next test starts.
#pragma once

#include <gtest/gtest.h>

#include "include/rcnet.h"

namespace rcnet::test {

// Unregisters the ids First to First + Count - 1 after every test.
template <int First, int Count>
class NetIdsTest : public testing::Test {
protected:
    void TearDown() override {
        for (int id = First; id < First + Count; ++id) UnregisterUsage(id);
    }
};

// Registers network kId (in inputs, out outputs, threshold) before every test.
template <int Id, int In, int Out, int Threshold>
class OneNetTest : public NetIdsTest<Id, 1> {
protected:
    void SetUp() override { ASSERT_EQ(RegisterUsage(kId, In, Out, Threshold), 1); }
    static constexpr int kId = Id;
};

}  // namespace rcnet::test
