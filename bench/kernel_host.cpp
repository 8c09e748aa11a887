// The hot spots of LearnNet on workload W, timed one by one at each instruction-set level, for the
// targets Google Benchmark does not build for (the 32-bit DLL's code under wine) and for comparing them
// with the native ones: the fold (n = 1000, 10,000 patterns), the solve (n = 1000), the reservoir step
// (N = 1000), each on 1 and 2 threads where it has threads. Medians of `runs` runs:
//   KERNEL_HOST target=... level=AVX-512 fold1_ms=... fold2_ms=... solve1_ms=... solve2_ms=... step_us=...
// Usage: kernel_host [runs] [levels]: levels from the best down (default all)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/RandomPatterns.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "src/Solver/Solver.h"
#include "src/kernels/Cpu.h"

namespace {

using namespace rcnet;
using Clock = std::chrono::steady_clock;

using bench::RandomPatterns;

template <typename Work>
double MedianMs(int runs, Work work) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double FoldMs(const std::vector<SolverPattern>& rows, unsigned threads, int runs) {
    return MedianMs(runs, [&] {
        Solver solver(1000);
        solver.SetThreadCount(threads);
        solver.AddRows(rows);
        solver.GetMatrix();
    });
}

double SolveMs(const std::vector<SolverPattern>& rows, unsigned threads, int runs) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        Solver solver(1000);
        solver.SetThreadCount(threads);
        solver.AddRows(rows);
        solver.GetMatrix();
        const auto start = Clock::now();
        solver.Solve();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double StepUs(int runs) {
    Reservoire r;
    rcnet::srand(1);
    r.AddNeurons(1000, ETYPE_BISIGMOID);
    r.AddRandomConnections(10000);
    r.AddRandomBackConnections(10000);
    r.InitInputMatrix(10);
    r.SetInputs(Vector(10, 0.3));
    return MedianMs(runs,
                    [&] {
                        for (int s = 0; s < 1000; ++s) r.Step();
                    }) /
           1000 * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int levels = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
#if defined(_WIN64)
    const char* target = "win64";
#elif defined(_WIN32)
    const char* target = "win32";
#else
    const char* target = "native";
#endif
    const auto foldRows = RandomPatterns(1000, 10000);
    const auto solveRows = RandomPatterns(1000, 2000);
    const int best = static_cast<int>(cpu::Detected());
    for (int level = best; level >= 0 && level > best - levels; --level) {
        cpu::Limit(static_cast<cpu::Level>(level));
        std::printf(
            "KERNEL_HOST target=%s level=%s fold1_ms=%.1f fold2_ms=%.1f solve1_ms=%.1f solve2_ms=%.1f "
            "step_us=%.2f\n",
            target, cpu::Name(cpu::Active()), FoldMs(foldRows, 1, runs), FoldMs(foldRows, 2, runs),
            SolveMs(solveRows, 1, runs), SolveMs(solveRows, 2, runs), StepUs(runs));
        std::fflush(stdout);
    }
    return 0;
}
