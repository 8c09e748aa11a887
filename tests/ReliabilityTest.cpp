// Concurrency under load, and the limits of memory: what a host running rcnet inside its own process
// relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempDir.h"

namespace {

using rcnet::test::ReportCapture;
using rcnet::test::TempDir;

class Fingerprint {
public:
    void Add(double x) {
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        m_Hash = (m_Hash ^ bits) * 1099511628211ull;
    }
    void Add(int x) { Add(static_cast<double>(x)); }
    uint64_t Value() const { return m_Hash; }

private:
    uint64_t m_Hash = 1469598103934665603ull;
};

// One worker's whole life: build, train, propagate, save, reload, propagate again, a few rounds, with
// its own ids and files. Returns a fingerprint of every result and output.
uint64_t Work(int worker, const TempDir& dir, int rounds) {
    Fingerprint print;
    const int id = 8000 + 2 * worker, copy = id + 1;
    const std::string path = dir.File("worker" + std::to_string(worker) + ".net");
    for (int round = 0; round < rounds; ++round) {
        Randomize(1000 * worker + round);
        print.Add(RegisterUsage(id, 2, 1, round % 2));
        print.Add(AddNeuronsToNet(id, 20 + worker, 1));
        print.Add(AddNeuronsToNet(id, 5, round % 4));
        print.Add(AddRandomConnectionsToNet(id, 60));
        print.Add(AddRandomBackConnectionsToNet(id, 40));
        print.Add(InitNetInputMatrix(id, 2));
        std::vector<double> in, out;
        for (int p = 0; p < 80; ++p) {
            in.push_back(std::sin(0.1 * p + worker));
            in.push_back(0.5 - 0.01 * p);
            out.push_back(std::cos(0.1 * p));
        }
        print.Add(AddPatternsToNet(id, 80, 2, in.data(), 1, out.data()));
        print.Add(LearnNet(id));
        for (int step = 0; step < 10; ++step) {
            double y = 0;
            print.Add(PropagatePattern(id, 2, &in[2 * step], 1, &y));
            print.Add(y);
        }
        print.Add(SaveNetToFile(id, path.c_str()));
        print.Add(RegisterUsage(copy, 1, 1, 0));
        print.Add(LoadNetFromFile(copy, path.c_str()));
        for (int step = 0; step < 10; ++step) {
            double y = 0;
            print.Add(PropagatePattern(copy, 2, &in[2 * step], 1, &y));
            print.Add(y);
        }
        print.Add(UnregisterUsage(copy));
        print.Add(UnregisterUsage(id));
    }
    return print.Value();
}

// Workers in parallel, while another thread keeps registering and unregistering ids around theirs: each
// worker's results are bit-identical to the same calls made alone in one thread.
TEST(Reliability, ParallelWorkersGetTheirSingleThreadedResults) {
    constexpr int kWorkers = 6, kRounds = 4;
    TempDir dir;
    std::vector<uint64_t> alone(kWorkers), together(kWorkers);
    {
        ReportCapture quiet;
        for (int w = 0; w < kWorkers; ++w) alone[w] = Work(w, dir, kRounds);
    }
    std::atomic<bool> done{false};
    std::atomic<long> churn{0};
    std::thread churner([&] {
        ReportCapture quiet;
        for (long i = 0; !done; ++i) {
            RegisterUsage(8100 + i % 7, 1, 1, 1);
            UnregisterUsage(8100 + (i + 3) % 7);
            churn += 2;
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            ReportCapture quiet;
            together[w] = Work(w, dir, kRounds);
        });
    }
    for (std::thread& worker : workers) worker.join();
    done = true;
    churner.join();
    for (int id = 8100; id < 8107; ++id) UnregisterUsage(id);
    for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(together[w], alone[w]) << "worker " << w;
    RecordProperty("workers", kWorkers);
    RecordProperty("churn_calls", std::to_string(churn.load()));
}

// A reservoir whose normal matrix cannot be allocated: training fails cleanly with a report (the 32-bit
// DLL cannot hold 20,000 x 20,000 doubles; a 64-bit process tries a smaller limit below).
TEST(Reliability, TrainingTooLargeForMemoryFailsCleanly) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "on a 64-bit process the allocation would succeed";
    ReportCapture capture;
    ASSERT_EQ(RegisterUsage(8200, 1, 1, 1), 1);
    ASSERT_EQ(AddNeuronsToNet(8200, 20000, 1), 1);
    ASSERT_EQ(InitNetInputMatrix(8200, 1), 1);
    const double x = 0.5;
    ASSERT_EQ(AddPatternsToNet(8200, 1, 1, &x, 1, &x), 1);
    EXPECT_EQ(LearnNet(8200), 0);
    EXPECT_EQ(capture.Checks(), std::vector<std::string>{"out of memory @ Exports"});
    double y = 7;
    EXPECT_EQ(PropagatePattern(8200, 1, &x, 1, &y), 0) << "never trained";
    EXPECT_EQ(y, 7.0);
    EXPECT_EQ(UnregisterUsage(8200), 1);
}

}  // namespace
