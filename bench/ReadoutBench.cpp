// Training time of the readout methods and of joint training, through the exports: 400 neurons of
// type 1 (2,120 forward and 3,200 back links), 4 inputs, 4,000 patterns, 1, 4 or 16 outputs.
// Arguments: method (0 normal equations, 1 stable QR), jointly (0 LearnNet, 1 LearnNetJointly), outputs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "include/rcnet.h"

namespace {

constexpr int kNeurons = 400, kInputs = 4, kPatterns = 4000;

void Build(int id, int outputs) {
    Randomize(1);
    RegisterUsage(id, kInputs, outputs, 1);
    AddNeuronsToNet(id, kNeurons, 1);
    AddRandomConnectionsToNet(id, kNeurons * 53 / 10);
    AddRandomBackConnectionsToNet(id, kNeurons * 8);
    InitNetInputMatrix(id, kInputs);
    std::vector<double> inputs(size_t{kPatterns} * kInputs), targets(size_t{kPatterns} * outputs);
    for (int p = 0; p < kPatterns; ++p) {
        for (int i = 0; i < kInputs; ++i) inputs[p * kInputs + i] = std::sin(0.05 * p + 0.7 * i);
        for (int o = 0; o < outputs; ++o) targets[p * outputs + o] = std::sin(0.05 * (p + 1 + o));
    }
    AddPatternsToNet(id, kPatterns, kInputs, inputs.data(), outputs, targets.data());
}

void TrainBench(benchmark::State& state) {
    const int method = static_cast<int>(state.range(0));
    const bool jointly = state.range(1) != 0;
    const int outputs = static_cast<int>(state.range(2));
    Build(1, outputs);
    SetNetReadoutSolver(1, method);
    SetNetWashout(1, 100);
    for (auto _ : state) benchmark::DoNotOptimize(jointly ? LearnNetJointly(1) : LearnNet(1));
    UnregisterUsage(1);
}

BENCHMARK(TrainBench)
    ->ArgNames({"method", "jointly", "outputs"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 4, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
