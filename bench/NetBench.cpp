// Training and propagation through the exports. Workload W: 1000 neurons of type 1, 10,000 forward and
// 10,000 back links, 10 inputs, 10,000 patterns, 1 output, threshold on. Arguments: neurons, patterns.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "include/rcnet.h"

namespace {

// Registers id with the workload's reservoir and patterns.
void Build(int id, int neurons, int patterns) {
    Randomize(1);
    RegisterUsage(id, 10, 1, 1);
    AddNeuronsToNet(id, neurons, 1);
    AddRandomConnectionsToNet(id, neurons * 10);
    AddRandomBackConnectionsToNet(id, neurons * 10);
    InitNetInputMatrix(id, 10);
    std::vector<double> inputs(static_cast<size_t>(patterns) * 10), targets(patterns);
    for (int p = 0; p < patterns; ++p) {
        for (int i = 0; i < 10; ++i) inputs[p * 10 + i] = std::sin(0.01 * p * (i + 1));
        targets[p] = std::sin(0.01 * (p + 1));
    }
    AddPatternsToNet(id, patterns, 10, inputs.data(), 1, targets.data());
}

void LearnNetBench(benchmark::State& state) {
    Build(1, state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(LearnNet(1));
    UnregisterUsage(1);
}

void PropagatePatternBench(benchmark::State& state) {
    Build(2, state.range(0), 100);
    LearnNet(2);
    const double ins[10] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0};
    double out;
    for (auto _ : state) benchmark::DoNotOptimize(PropagatePattern(2, 10, ins, 1, &out));
    UnregisterUsage(2);
}

BENCHMARK(LearnNetBench)->Args({200, 1000})->Args({1000, 10000})->Unit(benchmark::kMillisecond);
BENCHMARK(PropagatePatternBench)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
