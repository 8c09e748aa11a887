// The spectral radius of a reservoir's back links (GetNetSpectralRadius's method), N neurons of type 1
// with L back links per neuron drawn as AddRandomBackConnectionsToNet draws them: time per computation,
// and for N <= 1000 its relative difference from a dense eigenvalue solve of the whole matrix (the
// counter dense_rel_diff; the dense solve runs once, outside the timing). Arguments: N, L.
// Ring/N: the cycle reservoir, neuron i linked to i + 1 mod N with weight 0.9 (radius 0.9).
// RingWithChords/N/C: the same ring plus C links i -> i + N / 3 (weight 0.1), where the eigenvalues
// still crowd a circle: the time to converge or to give up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <vector>

#include "src/EigenvalueRadius.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "tests/support/DenseLinks.h"

namespace {

using namespace rcnet;

void Build(Reservoire& r, uint32_t neurons, uint32_t linksPerNeuron) {
    rcnet::srand(1);
    r.AddNeurons(neurons, ETYPE_BISIGMOID);
    r.AddRandomBackConnections(neurons * linksPerNeuron);
}

void Report(benchmark::State& state, const SpectralRadiusResult& result) {
    state.counters["radius"] = result.radius;
    state.counters["restarts"] = static_cast<double>(result.restarts);
    state.counters["converged"] = result.converged ? 1 : 0;
}

void BackLinkRadius(benchmark::State& state) {
    Reservoire r;
    Build(r, static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    // An rvalue: DoNotOptimize on a variable written in the loop miscompiles with this compiler and
    // Google Benchmark 1.7 (the variable may never be stored).
    for (auto _ : state) benchmark::DoNotOptimize(r.BackLinkRadius().radius);
    const SpectralRadiusResult result = r.BackLinkRadius();
    Report(state, result);
    if (state.range(0) <= 1000)
        state.counters["dense_rel_diff"] = std::abs(result.radius / test::DenseBackLinkRadius(r) - 1);
}

std::vector<MatrixEntry> Ring(uint32_t n, uint32_t chords) {
    std::vector<MatrixEntry> entries;
    for (uint32_t i = 0; i < n; ++i) entries.push_back({(i + 1) % n, i, 0.9});
    for (uint32_t c = 0; c < chords; ++c) {
        const uint32_t i = c * (n / chords);
        entries.push_back({(i + n / 3) % n, i, 0.1});
    }
    return entries;
}

void RingRadius(benchmark::State& state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    const std::vector<MatrixEntry> entries = Ring(n, static_cast<uint32_t>(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(SpectralRadius(n, entries).radius);
    Report(state, SpectralRadius(n, entries));
}

}  // namespace

BENCHMARK(BackLinkRadius)
    ->Args({200, 10})
    ->Args({400, 8})
    ->Args({501, 8})
    ->Args({700, 8})
    ->Args({1000, 8})
    ->Args({1000, 5})
    ->Args({1000, 10})
    ->Args({1000, 20})
    ->Args({10000, 5})
    ->Args({10000, 10})
    ->Args({10000, 20})
    ->Args({100000, 10})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(RingRadius)
    ->Name("Ring")
    ->Args({600, 0})
    ->Args({20000, 0})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RingRadius)
    ->Name("RingWithChords")
    ->Args({600, 3})
    ->Args({20000, 3})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
