// The stable readout on its own: rows streamed into the QR and one solve, against the Eigen version it
// replaced (tests/support/EigenQrSolver.h), for n = 200, 400 and 1000 values, 4,000 rows, one target,
// threshold on, with and without a ridge.
//
// Arguments: n, ridge (0 or 1e-6), level (0 SSE2, 1 AVX2, 2 AVX-512, capped at the processor's; the
// Eigen version ignores it), rows per chunk (0: the default), threads (0: one per processor; the Eigen
// version has one).
#include <benchmark/benchmark.h>

#include <random>
#include <type_traits>
#include <vector>

#include "src/Solver/QrSolver.h"
#include "src/kernels/Cpu.h"
#include "tests/support/EigenQrSolver.h"

namespace {

using namespace rcnet;

constexpr size_t kRows = 4000;

std::vector<double> Rows(size_t n) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> rows(kRows * (n + 1));
    for (double& x : rows) x = u(rng);
    return rows;
}

template <typename Qr>
void Fit(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    const double ridge = state.range(1) ? 1e-6 : 0.0;
    const cpu::Level previous = cpu::Limit(static_cast<cpu::Level>(state.range(2)));
    state.SetLabel(cpu::Name(cpu::Active()));
    const std::vector<double> rows = Rows(n);
    for (auto _ : state) {
        Qr qr(n, true, 1);
        if (state.range(3)) qr.SetChunkRows(static_cast<size_t>(state.range(3)));
        if constexpr (std::is_same_v<Qr, QrSolver>) qr.SetThreadCount(static_cast<unsigned>(state.range(4)));
        for (size_t i = 0; i < kRows; ++i) qr.AddRow(&rows[i * (n + 1)], &rows[i * (n + 1) + n]);
        benchmark::DoNotOptimize(qr.Solve(ridge));
    }
    cpu::Limit(previous);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "ridge", "level", "chunk", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_TEMPLATE(Fit, QrSolver)->Apply(Args)->ArgsProduct({{200, 400, 1000}, {0, 1}, {0, 1, 2}, {0}, {0}});
BENCHMARK_TEMPLATE(Fit, QrSolver)->Apply(Args)->ArgsProduct({{1000}, {0, 1}, {2}, {0}, {1, 2}});
BENCHMARK_TEMPLATE(Fit, QrSolver)->Apply(Args)->ArgsProduct({{400}, {0}, {0, 1}, {16, 32, 64, 400}, {0}});
BENCHMARK_TEMPLATE(Fit, test::EigenQrSolver)
    ->Apply(Args)
    ->ArgsProduct({{200, 400, 1000}, {0, 1}, {0}, {0}, {0}});

}  // namespace

BENCHMARK_MAIN();
