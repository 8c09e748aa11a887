#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "src/Solver/WorkerPool.h"

namespace {

using namespace rcnet;

// Every index is visited exactly once, and the ranges are the same whatever runs them.
void ExpectEachIndexOnce(const Parallel& parallel, size_t count, size_t minPerThread) {
    std::vector<std::atomic<int>> visits(count);
    std::atomic<size_t> ranges{0};
    parallel.Run(count, minPerThread, [&](size_t begin, size_t end) {
        ASSERT_LT(begin, end);
        ASSERT_LE(end, count);
        for (size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
        ranges.fetch_add(1);
    });
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << i << " of " << count;
    EXPECT_LE(ranges.load(), parallel.ThreadCount());
}

TEST(WorkerPool, EveryIndexOnce) {
    for (unsigned threads : {1u, 2u, 3u, 5u})
        for (size_t count : {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{1000}})
            for (size_t minPerThread : {size_t{1}, size_t{4}, size_t{100}})
                ExpectEachIndexOnce(Parallel(threads), count, minPerThread);
}

TEST(WorkerPool, SmallLoopsStayOnTheCaller) {
    const std::thread::id caller = std::this_thread::get_id();
    bool here = false;
    Parallel(4).Run(10, 8, [&](size_t begin, size_t end) {
        here = std::this_thread::get_id() == caller && begin == 0 && end == 10;
    });
    EXPECT_TRUE(here);
}

// Callers on several threads at once, and loops started inside loops: each still covers its range.
TEST(WorkerPool, ConcurrentAndNestedCallers) {
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const size_t count = 50 + (round * 7 + t) % 300;
                std::vector<std::atomic<int>> visits(count);
                Parallel(2 + t % 2).Run(count, 1, [&](size_t begin, size_t end) {
                    Parallel(2).Run(end - begin, 1, [&](size_t b, size_t e) {
                        for (size_t i = begin + b; i < begin + e; ++i) visits[i].fetch_add(1);
                    });
                });
                for (size_t i = 0; i < count; ++i)
                    if (visits[i].load() != 1) failures.fetch_add(1);
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
}

// The pool is made once: many loops reuse the same few workers.
TEST(WorkerPool, WorkersAreReused) {
    for (int round = 0; round < 1000; ++round) ExpectEachIndexOnce(Parallel(3), 64, 1);
    EXPECT_LE(pool::LiveWorkers(), 4u);
}

// Released workers are gone at once (joined, not left to linger), and the next loop starts new ones.
TEST(WorkerPool, ReleasedWorkersEndAndLaterLoopsStartAgain) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> others{0};
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::atomic<int>> visits(4000);
        Parallel(3).RunEach(64, 1, [&](size_t begin, size_t end) {
            if (std::this_thread::get_id() != caller) others.fetch_add(1);
            for (size_t i = begin * 62; i < end * 62 && i < visits.size(); ++i) visits[i].fetch_add(1);
        });
        for (size_t i = 0; i < 64 * 62 && i < visits.size(); ++i) ASSERT_EQ(visits[i].load(), 1) << i;
        if (round == 0) {
            EXPECT_GT(pool::LiveWorkers(), 0u);
        }
        pool::ReleaseWorkers();
        EXPECT_EQ(pool::LiveWorkers(), 0u) << "round " << round;
    }
}

// Where the workers end with each call (Windows), none is left when an export that trained returns.
TEST(WorkerPool, EndOfCallLeavesNoWorkerWhereThreadsEndWithTheCall) {
    ExpectEachIndexOnce(Parallel(3), 300, 1);
    const unsigned before = pool::LiveWorkers();
    pool::EndOfCall();
#ifdef _WIN32
    EXPECT_EQ(pool::LiveWorkers(), 0u) << "there were " << before;
#else
    EXPECT_EQ(pool::LiveWorkers(), before) << "elsewhere they live until the library goes";
#endif
}

}  // namespace
