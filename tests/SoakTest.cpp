// A bounded soak: threads mixing every export on private and shared ids, saves killed at random
// moments, and each thread's results checked against the same calls replayed alone.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "include/rcnet.h"
#include "tests/support/Fingerprint.h"
#include "tests/support/KilledSaves.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempDir.h"

namespace {

using rcnet::test::Fingerprint;
using rcnet::test::ReportCapture;
using rcnet::test::TempDir;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 4;  // the sanitizers run the same mix, slower
#else
constexpr int kRounds = 20;
#endif
constexpr int kThreads = 4;
constexpr int kSharedFirst = 9700, kShared = 4;

struct Lcg {
    uint32_t state;
    int Next(int below) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<uint32_t>(below));
    }
};

// One thread's share of the soak. Private ids follow a script drawn from (worker, round) alone, so that
// a replay in one thread must give the same fingerprint; between its calls the worker churns the
// shared ids, whose outcome depends on the other threads and is only checked for what must always hold.
class Worker {
public:
    Worker(int index, const TempDir& dir, bool churn) : m_Index(index), m_Dir(dir), m_Churn(churn) {}

    uint64_t Run() {
        for (int round = 0; round < kRounds; ++round) Round(round);
        return m_Print.Value();
    }

    long calls = 0, saves = 0, sharedCalls = 0, broken = 0;

private:
    // Every call goes through here: counted, its result fingerprinted, the shared ids churned after it
    // (except where the next call asks for this one's reports, which belong to the thread's last call).
    int Call(int result, bool churn = true) {
        ++calls;
        m_Print.Add(result);
        if (churn && m_Churn) Churn();
        return result;
    }

    void Churn() {
        const int id = kSharedFirst + m_Shared.Next(kShared);
        int in = 0, out = 0, threshold = 0;
        switch (m_Shared.Next(3)) {
            case 0:
                RegisterUsage(id, 1, 1, 1);
                break;
            case 1:
                UnregisterUsage(id);
                break;
            default:
                // Every shared registration is (1, 1, 1): whatever the interleaving, a found id says so.
                if (GetNetSizes(id, &in, &out, &threshold) && (in != 1 || out != 1 || threshold != 1))
                    ++broken;
                break;
        }
        ++sharedCalls;
    }

    void Round(int round) {
        Lcg draw{static_cast<uint32_t>(7919 * m_Index + round)};
        const int a = 9000 + 10 * m_Index, b = a + 1;
        const int in = 1 + draw.Next(3), out = 1 + draw.Next(2), threshold = draw.Next(2);
        const std::string net = m_Dir.File("w" + std::to_string(m_Index) + ".net");
        const std::string patterns = m_Dir.File("w" + std::to_string(m_Index) + ".pat");

        Randomize(static_cast<unsigned>(1000 * m_Index + round));
        ++calls;
        Call(RegisterUsage(a, in, out, threshold));
        Call(AddNeuronsToNet(a, 20 + draw.Next(30), 1));
        Call(AddNeuronsToNet(a, 5 + draw.Next(10), draw.Next(4)));
        int neurons = 0;
        Call(GetNetNeuronCount(a, &neurons));
        Call(AddRandomConnectionsToNet(a, neurons * (2 + draw.Next(4))));
        Call(AddRandomBackConnectionsToNet(a, neurons * (2 + draw.Next(6))));
        const double radius = 0.5 + 0.1 * draw.Next(8), scaling = 0.5 + 0.25 * draw.Next(6);
        const double leak = 0.3 + 0.1 * draw.Next(8), ridge = draw.Next(2) ? 1e-8 : 0.0;
        double measured = 0;
        Call(SetNetSpectralRadius(a, &radius));
        Call(GetNetSpectralRadius(a, &measured));
        m_Print.Add(measured);
        Call(InitNetInputMatrix(a, in));
        Call(SetNetInputScaling(a, &scaling));
        Call(SetNetLeakRate(a, &leak));
        Call(SetNetReadoutSolver(a, draw.Next(2)));
        Call(SetNetRegularization(a, &ridge));
        Call(SetNetWashout(a, draw.Next(10)));

        const int count = 60;
        std::vector<double> xs(size_t(count) * size_t(in)), ys(size_t(count) * size_t(out));
        for (int p = 0; p < count; ++p) {
            for (int i = 0; i < in; ++i) xs[size_t(p * in + i)] = std::sin(0.07 * (p + 1) * (i + 1) + round);
            for (int o = 0; o < out; ++o)
                ys[size_t(p * out + o)] = std::cos(0.07 * (p + 2) * (o + 1) + round);
        }
        Call(AddPatternsToNet(a, count / 2, in, xs.data(), out, ys.data()));
        Call(MarkNetSequenceStart(a));
        Call(
            AddPatternsToNet(a, count / 2, in, xs.data() + count / 2 * in, out, ys.data() + count / 2 * out));
        Call(draw.Next(2) ? LearnNetJointly(a) : LearnNet(a));

        std::vector<double> outs(size_t(count) * size_t(out));
        Call(PropagatePattern(a, in, xs.data(), out, outs.data()));
        Call(RunNetSequence(a, count, in, xs.data(), out, outs.data()));
        m_Print.Add(outs.data(), count * out);
        Call(GenerateNet(a, 10, out, outs.data()));  // 0 unless in == out
        if (in == out) m_Print.Add(outs.data(), 10 * out);
        std::vector<double> state(static_cast<size_t>(neurons));
        Call(GetNetState(a, neurons, state.data()));
        m_Print.Add(state.data(), neurons);
        Call(ResetNetState(a));

        int sizes[3] = {}, rows = 0, columns = 0;
        double rate = 0;
        Call(GetNetSizes(a, &sizes[0], &sizes[1], &sizes[2]));
        Call(GetNetReadoutShape(a, &rows, &columns));
        std::vector<double> weights(size_t(rows) * size_t(columns));
        Call(GetNetReadout(a, rows, columns, weights.data()));
        m_Print.Add(weights.data(), rows * columns);
        Call(GetNetLeakRate(a, &rate));
        m_Print.Add(rate);

        Call(SetNetFilePrecision(a, draw.Next(2) ? 0 : 6));
        ++saves;
        Call(SaveNetToFile(a, net.c_str()));
        Call(RegisterUsage(b, 1, 1, 0));
        Call(LoadNetFromFile(b, net.c_str()));
        Call(RunNetSequence(b, count, in, xs.data(), out, outs.data()));
        m_Print.Add(outs.data(), count * out);

        // A pattern file of the network's sizes, then files that are refused.
        if (FILE* f = std::fopen(patterns.c_str(), "wb")) {
            std::fprintf(f, "2 %d %d\n", in, out);
            for (int p = 0; p < 2; ++p) {
                for (int i = 0; i < in; ++i) std::fprintf(f, "%.17g ", xs[size_t(p * in + i)]);
                std::fprintf(f, "\n");
                for (int o = 0; o < out; ++o) std::fprintf(f, "%.17g ", ys[size_t(p * out + o)]);
                std::fprintf(f, "\n");
            }
            std::fclose(f);
        }
        Call(AddPatternsFromFile(b, patterns.c_str()));
        Call(LoadNetFromFile(b, patterns.c_str()), false);  // not a network file
        char text[512];
        Call(GetLastReport(text, sizeof text), false);
        m_Print.Add(static_cast<double>(std::strlen(text)));
        Call(GetLastFileError(text, sizeof text));
        m_Print.Add(static_cast<double>(std::strlen(text)));

        const double forgetting = 0.999;
        Call(SetNetOnlineLearning(b, &forgetting));
        Call(TrainNetOnline(b, count, in, xs.data(), out, ys.data()));
        Call(PropagatePattern(b, in, xs.data(), out, outs.data()));
        m_Print.Add(outs.data(), out);

        Call(UnregisterUsage(b));
        Call(UnregisterUsage(a));
    }

    int m_Index;
    const TempDir& m_Dir;
    bool m_Churn;
    Fingerprint m_Print;
    Lcg m_Shared{12345};
};

#ifdef __linux__
// Kills saves at random moments while the workers run; after each kill the file holds one of the two
// versions, whole. Returns the number of kills, or -1 at the first broken file.
long KillSaves(const TempDir& dir, std::atomic<bool>& done) {
#if defined(__SANITIZE_THREAD__)
    (void)dir;
    (void)done;
    return 0;  // no fork under ThreadSanitizer
#else
    rcnet::test::KilledSaves saves(9800, 300, dir.File("killed.net"), 777);
    long kills = 0;
    for (bool whole = true; !done; ++kills) {
        if (!saves.KillOne(whole)) break;
        if (!whole) return -1;
    }
    return kills;
#endif
}
#endif

TEST(Soak, ThreadsMixingEveryExportMatchTheirReplayAlone) {
    TempDir dir;
    std::vector<Worker> together, alone;
    for (int w = 0; w < kThreads; ++w) {
        together.emplace_back(w, dir, true);
        alone.emplace_back(w, dir, false);
    }
    std::vector<uint64_t> results(kThreads);
    std::atomic<bool> done{false};
    long kills = 0;
    {
        std::vector<std::thread> threads;
        for (int w = 0; w < kThreads; ++w) {
            threads.emplace_back([&, w] {
                ReportCapture quiet;
                results[size_t(w)] = together[size_t(w)].Run();
            });
        }
#ifdef __linux__
        std::thread killer([&] {
            ReportCapture quiet;
            kills = KillSaves(dir, done);
        });
#endif
        for (std::thread& t : threads) t.join();
        done = true;
#ifdef __linux__
        killer.join();
#endif
    }
    for (int id = kSharedFirst; id < kSharedFirst + kShared; ++id) UnregisterUsage(id);

    long calls = 0, saves = 0, mismatches = 0, broken = 0;
    ReportCapture quiet;
    for (int w = 0; w < kThreads; ++w) {
        const uint64_t replay = alone[size_t(w)].Run();
        mismatches += replay != results[size_t(w)];
        EXPECT_EQ(replay, results[size_t(w)]) << "worker " << w << " differs from its replay alone";
        calls += together[size_t(w)].calls + together[size_t(w)].sharedCalls;
        saves += together[size_t(w)].saves;
        broken += together[size_t(w)].broken;
    }
    EXPECT_EQ(broken, 0) << "a shared id answered with sizes it was never registered with";
    EXPECT_GE(kills, 0) << "a killed save left a file that is neither version whole";
    std::printf("soak: %d threads x %d rounds: %ld calls, %ld saves, %ld killed saves, %ld mismatches\n",
                kThreads, kRounds, calls, saves, kills < 0 ? 0 : kills, mismatches);
    RecordProperty("calls", std::to_string(calls));
    RecordProperty("killed_saves", std::to_string(kills));
}

}  // namespace
