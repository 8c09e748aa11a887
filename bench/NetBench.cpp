// Training and propagation: through the exports, and the same network trained and run the plain way
// (map-walking step, pattern-by-pattern fold, entry-by-entry solve) in the same binary. Workload W:
// 1000 neurons of type 1, 10,000 forward and 10,000 back links, 10 inputs, 10,000 patterns, 1 output,
// threshold on; also N = 200 and 2000 with 10 N links of each kind; W with the stable readout. Arguments:
// neurons, patterns.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "tests/support/ReferenceNet.h"

namespace {

using namespace rcnet;

// Registers id with the workload's reservoir and patterns.
void Build(int id, int neurons, int patterns) {
    UnregisterUsage(id);
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

void LearnNetFast(benchmark::State& state) {
    Build(1, state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(LearnNet(1));
    UnregisterUsage(1);
}

// The stable readout, SetNetReadoutSolver(id, 1).
void LearnNetStable(benchmark::State& state) {
    Build(10, state.range(0), state.range(1));
    SetNetReadoutSolver(10, 1);
    for (auto _ : state) benchmark::DoNotOptimize(LearnNet(10));
    UnregisterUsage(10);
}

void LearnNetPlain(benchmark::State& state) {
    Build(2, state.range(0), state.range(1));
    Net& net = *NetManager::Instance().GetNet(2);
    for (auto _ : state) benchmark::DoNotOptimize(NetTestAccess::ReferenceLearn(net).data());
    UnregisterUsage(2);
}

const double kInputs[10] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0};

void PropagatePatternFast(benchmark::State& state) {
    Build(3, state.range(0), 100);
    LearnNet(3);
    double out;
    for (auto _ : state) benchmark::DoNotOptimize(PropagatePattern(3, 10, kInputs, 1, &out));
    UnregisterUsage(3);
}

void PropagatePatternPlain(benchmark::State& state) {
    Build(4, state.range(0), 100);
    LearnNet(4);
    Net& net = *NetManager::Instance().GetNet(4);
    const Vector input(kInputs, kInputs + 10);
    for (auto _ : state) benchmark::DoNotOptimize(NetTestAccess::ReferencePropagate(net, input).data());
    UnregisterUsage(4);
}

// A run of kSteps steps per iteration, three ways: the bare step (the reservoir's step and the readout's
// sum, called directly), one PropagatePattern call per step, one RunNetSequence call for all. The counter
// step is the time per step.
constexpr int kSteps = 1000;

void PerStep(benchmark::State& state) {
    state.counters["step"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSteps,
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::vector<double> RunInputs() {
    std::vector<double> inputs(kSteps * 10);
    for (int t = 0; t < kSteps * 10; ++t) inputs[t] = std::sin(0.013 * t);
    return inputs;
}

void StepBare(benchmark::State& state) {
    Build(5, state.range(0), 100);
    LearnNet(5);
    Net& net = *NetManager::Instance().GetNet(5);
    Reservoire& reservoir = net.Reservoir();
    const Vector& w = net.OutputWeights()[0];
    const size_t n = reservoir.NeuronCount();
    const std::vector<double> inputs = RunInputs();
    std::vector<double> outs(kSteps);
    for (auto _ : state) {
        for (int t = 0; t < kSteps; ++t) {
            reservoir.SetInputs(&inputs[t * 10], 10);
            reservoir.Step();
            const Vector& s = reservoir.States();
            double sum = 0.0;
            for (size_t j = 0; j < n; ++j) sum = s[j] * w[j] + sum;
            outs[t] = w[n] + sum;
        }
        benchmark::DoNotOptimize(outs.data());
    }
    PerStep(state);
    UnregisterUsage(5);
}

void StepsByPropagatePattern(benchmark::State& state) {
    Build(6, state.range(0), 100);
    LearnNet(6);
    const std::vector<double> inputs = RunInputs();
    std::vector<double> outs(kSteps);
    for (auto _ : state) {
        for (int t = 0; t < kSteps; ++t) PropagatePattern(6, 10, &inputs[t * 10], 1, &outs[t]);
        benchmark::DoNotOptimize(outs.data());
    }
    PerStep(state);
    UnregisterUsage(6);
}

void StepsByRunNetSequence(benchmark::State& state) {
    Build(7, state.range(0), 100);
    LearnNet(7);
    const std::vector<double> inputs = RunInputs();
    std::vector<double> outs(kSteps);
    for (auto _ : state) {
        RunNetSequence(7, kSteps, 10, inputs.data(), 1, outs.data());
        benchmark::DoNotOptimize(outs.data());
    }
    PerStep(state);
    UnregisterUsage(7);
}

// Closed loops of kSteps steps per iteration: GenerateNet on a network of one input and one output,
// GenerateNetMapped with the same feedback as a one-tap map on the same network, and on a network of
// five inputs, four of them taps (delays 1, 6, 11, 16) and one a constant from the host.
void BuildLoop(int id, int neurons, int inputs) {
    UnregisterUsage(id);
    Randomize(1);
    RegisterUsage(id, inputs, 1, 1);
    AddNeuronsToNet(id, neurons, 1);
    AddRandomConnectionsToNet(id, neurons * 10);
    AddRandomBackConnectionsToNet(id, neurons * 10);
    InitNetInputMatrix(id, inputs);
    std::vector<double> ins, targets;
    for (int p = 0; p < 500; ++p) {
        for (int i = 0; i < inputs; ++i)
            ins.push_back(i + 1 < inputs || inputs == 1 ? std::sin(0.1 * p) : 0.25);
        targets.push_back(std::sin(0.1 * (p + 1)));
    }
    AddPatternsToNet(id, 500, inputs, ins.data(), 1, targets.data());
    LearnNet(id);
}

void GenerateByGenerateNet(benchmark::State& state) {
    BuildLoop(8, state.range(0), 1);
    std::vector<double> outs(kSteps);
    const double start = 0.5;
    PropagatePattern(8, 1, &start, 1, &outs[0]);
    for (auto _ : state) {
        GenerateNet(8, kSteps, 1, outs.data());
        benchmark::DoNotOptimize(outs.data());
    }
    PerStep(state);
    UnregisterUsage(8);
}

void GenerateByMappedTaps(benchmark::State& state) {
    const int inputs = static_cast<int>(state.range(1));
    BuildLoop(9, state.range(0), inputs);
    const int taps[] = {0, 0, 1, 1, 0, 6, 2, 0, 11, 3, 0, 16};
    const int tapCount = inputs == 1 ? 1 : 4;
    std::vector<double> rows(static_cast<size_t>(kSteps) * inputs, 0.25), outs(kSteps);
    for (auto _ : state) {
        GenerateNetMapped(9, kSteps, tapCount, taps, inputs, rows.data(), 1, outs.data());
        benchmark::DoNotOptimize(outs.data());
    }
    PerStep(state);
    UnregisterUsage(9);
}

BENCHMARK(GenerateByGenerateNet)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(GenerateByMappedTaps)->ArgsProduct({{200, 1000}, {1, 5}})->Unit(benchmark::kMillisecond);
BENCHMARK(StepBare)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(StepsByPropagatePattern)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(StepsByRunNetSequence)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK(LearnNetFast)
    ->Args({200, 1000})
    ->ArgsProduct({{200, 1000, 2000}, {10000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(LearnNetStable)->Args({1000, 10000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LearnNetPlain)
    ->Args({200, 1000})
    ->ArgsProduct({{200, 1000, 2000}, {10000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PropagatePatternFast)->Arg(200)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(PropagatePatternPlain)->Arg(200)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
