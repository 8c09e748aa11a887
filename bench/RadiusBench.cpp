// The spectral radius of a reservoir's back links (GetNetSpectralRadius's method), N neurons of type 1
// with L back links per neuron drawn as AddRandomBackConnectionsToNet draws them: time per computation,
// and for N <= 1000 its relative difference from a dense eigenvalue solve of the whole matrix (the
// counter dense_rel_diff; the dense solve runs once, outside the timing). Arguments: N, L.
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

void BackLinkRadius(benchmark::State& state) {
    Reservoire r;
    Build(r, static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    // An rvalue: DoNotOptimize on a variable written in the loop miscompiles with this compiler and
    // Google Benchmark 1.7 (the variable may never be stored).
    for (auto _ : state) benchmark::DoNotOptimize(r.BackLinkRadius().radius);
    const SpectralRadiusResult result = r.BackLinkRadius();
    state.counters["radius"] = result.radius;
    state.counters["restarts"] = static_cast<double>(result.restarts);
    state.counters["converged"] = result.converged ? 1 : 0;
    if (state.range(0) <= 1000)
        state.counters["dense_rel_diff"] = std::abs(result.radius / test::DenseBackLinkRadius(r) - 1);
}

}  // namespace

BENCHMARK(BackLinkRadius)
    ->Args({200, 10})
    ->Args({1000, 5})
    ->Args({1000, 10})
    ->Args({1000, 20})
    ->Args({10000, 5})
    ->Args({10000, 10})
    ->Args({10000, 20})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
