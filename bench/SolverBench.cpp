// The readout's hot spots, fast against plain: folding patterns into the normal matrix and solving it.
// Workload of the figures in the README: n = 1000 neurons, 10,000 patterns.
#include <benchmark/benchmark.h>

#include <random>

#include "src/Solver/NoThresholdSolver.h"
#include "src/Solver/Solver.h"
#include "tests/support/ReferenceSolvers.h"

namespace {

using namespace rcnet;

std::vector<SolverPattern> RandomPatterns(int n, int count) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<SolverPattern> rows(count);
    for (SolverPattern& row : rows) {
        row.values.resize(n);
        for (double& v : row.values) v = u(rng);
        row.target = u(rng);
    }
    return rows;
}

void FoldFast(benchmark::State& state) {
    const int n = state.range(0), count = state.range(1);
    const auto rows = RandomPatterns(n, count);
    for (auto _ : state) {
        Solver solver(n);
        solver.SetThreadCount(state.range(2));
        solver.AddRows(rows);
        benchmark::DoNotOptimize(solver.GetMatrix().At(0, 0));
    }
    state.counters["GFLOP/s"] = benchmark::Counter(
        2.0 * n * n * count, benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
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

// The solve starts from a folded matrix; the fold is outside the timing.
template <typename Fast>
void SolveFast(benchmark::State& state) {
    const int n = state.range(0);
    const auto rows = RandomPatterns(n, 2 * n);
    for (auto _ : state) {
        state.PauseTiming();
        Fast solver(n);
        solver.SetThreadCount(state.range(1));
        solver.AddRows(rows);
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

BENCHMARK(FoldFast)
    ->Args({100, 500, 1})
    ->Args({1000, 10000, 1})
    ->Args({1000, 10000, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FoldPlain)->Args({100, 500})->Args({1000, 10000})->Unit(benchmark::kMillisecond);
BENCHMARK(SolveFast<Solver>)->Args({100, 1})->Args({1000, 1})->Args({1000, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(SolvePlain<test::ReferenceSolver>)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(SolveFast<NoThresholdSolver>)->Args({100, 1})->Args({1000, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(SolvePlain<test::ReferenceNoThresholdSolver>)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
