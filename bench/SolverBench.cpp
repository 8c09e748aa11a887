// The readout's hot spots, fast against plain: folding patterns into the normal matrix and solving it,
// for n = 200, 1000 (workload W) and 2000 neurons with 10,000 patterns; and this machine's peak
// multiply-add rate without fused multiply-add, measured by the same binary, so that the fold's share
// of the peak is a ratio within one run.
//
// Arguments: fold (n, patterns, threads, level), solve (n, threads, level), peak (level, threads); level 0
// SSE2, 1 AVX2, 2 AVX-512, capped at the processor's.
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "bench/RandomPatterns.h"
#include "src/Solver/Solver.h"
#include "src/kernels/Cpu.h"
#include "tests/support/ReferenceSolvers.h"

namespace {

using namespace rcnet;

using bench::RandomPatterns;

// Holds the hot loops to a level while it lives, and names the level in the report.
class LevelCap {
public:
    LevelCap(benchmark::State& state, int64_t level)
        : m_Previous(cpu::Limit(static_cast<cpu::Level>(level))) {
        state.SetLabel(cpu::Name(cpu::Active()));
    }
    ~LevelCap() { cpu::Limit(m_Previous); }

private:
    cpu::Level m_Previous;
};

// The products a fold computes: the upper triangle of the (n + 1) x (n + 2) matrix, a multiply and an
// add each, per pattern.
double FoldFlops(double n, double patterns) {
    const double rows = n + 1, columns = n + 2;
    return 2.0 * (rows * columns - rows * (rows - 1) / 2) * patterns;
}

void FoldFast(benchmark::State& state) {
    const int n = state.range(0), count = state.range(1);
    const auto rows = RandomPatterns(n, count);
    LevelCap cap(state, state.range(3));
    for (auto _ : state) {
        Solver solver(n);
        solver.SetThreadCount(state.range(2));
        solver.AddRows(rows);
        benchmark::DoNotOptimize(solver.GetMatrix().At(0, 0));
    }
    state.counters["GFLOP/s"] = benchmark::Counter(
        FoldFlops(n, count), benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}

void FoldPlain(benchmark::State& state) {
    const int n = state.range(0), count = state.range(1);
    const auto rows = RandomPatterns(n, count);
    for (auto _ : state) {
        test::ReferenceSolver solver(n);
        for (const SolverPattern& row : rows) solver.AddRow(row.values, row.target);
        benchmark::DoNotOptimize(solver.m[0][0]);
    }
}

// The solve starts from a folded matrix (2n patterns); the fold is outside the timing.
template <typename Fast>
void SolveFast(benchmark::State& state) {
    const int n = state.range(0);
    const auto rows = RandomPatterns(n, 2 * n);
    LevelCap cap(state, state.range(2));
    for (auto _ : state) {
        state.PauseTiming();
        Fast solver(n);
        solver.SetThreadCount(state.range(1));
        solver.AddRows(rows);
        solver.GetMatrix();
        state.ResumeTiming();
        benchmark::DoNotOptimize(solver.Solve().data());
    }
}

template <typename Plain>
void SolvePlain(benchmark::State& state) {
    const int n = state.range(0);
    const auto rows = RandomPatterns(n, 2 * n);
    for (auto _ : state) {
        state.PauseTiming();
        Plain solver(n);
        for (const SolverPattern& row : rows) solver.AddRow(row.values, row.target);
        state.ResumeTiming();
        benchmark::DoNotOptimize(solver.Solve().data());
    }
}

// acc[i] = acc[i] + x[i] * y with x re-read from the first-level cache: a fold's inner step at its best,
// separate multiply and add. 4 vectors per accumulator row keep the adds' latency covered.
template <typename V, size_t kAccumulators>
__attribute__((always_inline)) inline double PeakLoop(size_t iterations) {
    constexpr size_t W = sizeof(V) / sizeof(double);
    V acc[kAccumulators], x[kAccumulators];
    for (size_t i = 0; i < kAccumulators; ++i)
        for (size_t l = 0; l < W; ++l) {
            acc[i][l] = static_cast<double>(i);
            x[i][l] = 1.0 + i;
        }
    double y = 1e-12;
    const V* xp = x;
    for (size_t it = 0; it < iterations; ++it) {
#pragma GCC unroll 32
        for (size_t i = 0; i < kAccumulators; ++i) acc[i] = acc[i] + xp[i] * y;
        __asm__ volatile("" : "+r"(xp));  // x is read from memory every time
        __asm__ volatile("" : "+x"(y));
    }
    double sum = 0;
    for (size_t i = 0; i < kAccumulators; ++i)
        for (size_t l = 0; l < W; ++l) sum += acc[i][l];
    return sum;
}

typedef double V2 __attribute__((vector_size(16)));
double PeakBaseline(size_t iterations) {
#if defined(__x86_64__)
    return PeakLoop<V2, 12>(iterations);
#else
    return PeakLoop<V2, 6>(iterations);
#endif
}
#if defined(__x86_64__)
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));
__attribute__((target("avx2"))) double PeakAvx2(size_t iterations) {
    return PeakLoop<V4, 12>(iterations);
}
__attribute__((target("avx512f"))) double PeakAvx512(size_t iterations) {
    return PeakLoop<V8, 24>(iterations);
}
#endif

void PeakMulAdd(benchmark::State& state) {
    LevelCap cap(state, state.range(0));
    double (*loop)(size_t) = &PeakBaseline;
    size_t width = 2, accumulators = 12;
#if defined(__x86_64__)
    if (cpu::Active() == cpu::Level::Avx512) loop = &PeakAvx512, width = 8, accumulators = 24;
    if (cpu::Active() == cpu::Level::Avx2) loop = &PeakAvx2, width = 4;
#endif
    const unsigned threads = state.range(1);
    constexpr size_t kIterations = 20000000;
    for (auto _ : state) {
        std::vector<std::thread> others;
        std::vector<double> sums(threads);
        for (unsigned t = 1; t < threads; ++t) others.emplace_back([&, t] { sums[t] = loop(kIterations); });
        sums[0] = loop(kIterations);
        for (std::thread& other : others) other.join();
        benchmark::DoNotOptimize(sums.data());
    }
    state.counters["GFLOP/s"] =
        benchmark::Counter(2.0 * width * accumulators * kIterations * threads,
                           benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}

BENCHMARK(PeakMulAdd)->ArgsProduct({{0, 1, 2}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FoldFast)
    ->Args({100, 500, 1, 2})
    ->ArgsProduct({{200, 1000, 2000}, {10000}, {1, 2}, {2}})
    ->ArgsProduct({{1000}, {10000}, {1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(FoldPlain)
    ->Args({100, 500})
    ->ArgsProduct({{200, 1000, 2000}, {10000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SolveFast<Solver>)
    ->ArgsProduct({{100, 200, 1000, 2000}, {1, 2}, {2}})
    ->ArgsProduct({{1000}, {1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(SolvePlain<test::ReferenceSolver>)
    ->Arg(100)
    ->Arg(200)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SolveFast<NoThresholdSolver>)
    ->ArgsProduct({{100, 1000}, {1, 2}, {2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(SolvePlain<test::ReferenceNoThresholdSolver>)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
