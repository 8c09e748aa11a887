#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "src/Random.h"
#include "tests/support/ModelRandom.h"

namespace {

std::vector<int> Draw(int count) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) values.push_back(rcnet::rand());
    return values;
}

// The first count draws of the model generator seeded with state.
std::vector<int> Model(uint64_t state, int count) {
    rcnet::test::ModelRandom model{state};
    std::vector<int> values;
    for (int i = 0; i < count; ++i) values.push_back(model.Next());
    return values;
}

TEST(Random, SeedOneGivesTheClassicSequence) {
    Randomize(1);
    EXPECT_EQ(Draw(5), (std::vector<int>{41, 18467, 6334, 26500, 19169}));
}

TEST(Random, OtherSeedsFollowTheRecurrence) {
    for (uint32_t seed : {0u, 12345u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Randomize(seed);
        EXPECT_EQ(Draw(1000), Model(seed, 1000)) << "seed " << seed;
    }
}

TEST(Random, ValuesStayInRange) {
    Randomize(99);
    for (int value : Draw(100000)) {
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 32767);
    }
}

TEST(Random, EveryThreadStartsAtOneAndOwnsItsState) {
    Randomize(777);
    const int mainFirst = rcnet::rand();

    std::vector<int> fresh;
    std::vector<int> seeded;
    std::thread freshThread([&] { fresh = Draw(3); });
    std::thread seededThread([&] {
        Randomize(5);
        seeded = Draw(3);
    });
    freshThread.join();
    seededThread.join();

    EXPECT_EQ(fresh, Model(1, 3));
    EXPECT_EQ(seeded, Model(5, 3));
    // The other threads' draws and seeds did not move this thread's sequence.
    EXPECT_EQ(mainFirst, Model(777, 1)[0]);
    EXPECT_EQ(rcnet::rand(), Model(777, 2)[1]);
}

}  // namespace
