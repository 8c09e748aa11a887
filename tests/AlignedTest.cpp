#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "src/Aligned.h"

namespace {

using namespace rcnet;

bool OnCacheLine(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % 64 == 0;
}

// Small and large blocks start on cache lines; a large block freed is handed out again for the same
// size and no other, and what is kept stays within its budget. Sizes no other code asks for.
TEST(Aligned, LargeBlocksComeBackForTheSameSizeWithinTheBudget) {
    for (size_t n : {1, 7, 100, 5000}) {
        AlignedVector<double> small(n, 1.0);
        EXPECT_TRUE(OnCacheLine(small.data())) << n;
    }
    const size_t bytes = aligned::kKeptFrom * 3 + 64 * 7;
    void* block = aligned::Allocate(bytes);
    EXPECT_TRUE(OnCacheLine(block));
    // Other tests may have left blocks; the newest is never the one let go.
    aligned::Free(block, bytes);
    const size_t kept = aligned::KeptBytes();
    EXPECT_GE(kept, bytes);
    void* other = aligned::Allocate(bytes + 64);
    EXPECT_NE(other, block) << "a block of another size is not handed out";
    void* again = aligned::Allocate(bytes);
    EXPECT_EQ(again, block);
    EXPECT_EQ(aligned::KeptBytes(), kept - bytes);
    aligned::Free(other, bytes + 64);
    aligned::Free(again, bytes);

    // More than the budget, freed one after another: the oldest go.
    std::vector<void*> blocks;
    const size_t big = aligned::kKeptBytes / 3 + 64;
    for (int i = 0; i < 5; ++i) blocks.push_back(aligned::Allocate(big));
    for (void* b : blocks) aligned::Free(b, big);
    EXPECT_LE(aligned::KeptBytes(), aligned::kKeptBytes);
    EXPECT_GE(aligned::KeptBytes(), 2 * big);
    // Larger than the budget: never kept.
    const size_t huge = aligned::kKeptBytes + 64;
    const size_t keptBefore = aligned::KeptBytes();
    aligned::Free(aligned::Allocate(huge), huge);
    EXPECT_EQ(aligned::KeptBytes(), keptBefore);
}

}  // namespace
