// One step of the online readout (recursive least squares with forgetting 0.999) against the plain
// covariance form. Arguments: neurons N (200, 1000) and outputs (1, 10); a threshold term. The states
// are 64 fixed random vectors in [-1, 1] taken in turn, the targets their first values. UpdateFactored's
// third argument is the forgetting in thousandths: at 1000 no regularisation row follows the step.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "src/OnlineReadout.h"
#include "tests/support/ReferenceOnlineReadout.h"

namespace {

using namespace rcnet;

constexpr size_t kStates = 64;

Matrix States(size_t n) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    Matrix states(kStates, Vector(n));
    for (Vector& s : states)
        for (double& v : s) v = u(rng);
    return states;
}

void UpdateFactored(benchmark::State& state) {
    const size_t n = state.range(0), outputs = state.range(1);
    const Matrix states = States(n);
    OnlineReadout readout(n, true, outputs, static_cast<double>(state.range(2)) / 1000, 1.0);
    size_t t = 0;
    for (auto _ : state) {
        const Vector& x = states[t++ % kStates];
        readout.Update(x.data(), x.data());
        benchmark::DoNotOptimize(readout.Weights()[0].data());
    }
}

void UpdatePlain(benchmark::State& state) {
    const size_t n = state.range(0), outputs = state.range(1);
    const Matrix states = States(n);
    test::ReferenceOnlineReadout readout(n, true, outputs, 0.999, 1.0);
    size_t t = 0;
    for (auto _ : state) {
        const Vector& x = states[t++ % kStates];
        readout.Update(x.data(), x.data());
        benchmark::DoNotOptimize(readout.w[0].data());
    }
}

BENCHMARK(UpdateFactored)->ArgsProduct({{200, 1000}, {1, 10}, {999, 1000}})->Unit(benchmark::kMicrosecond);
BENCHMARK(UpdatePlain)->ArgsProduct({{200, 1000}, {1, 10}})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
