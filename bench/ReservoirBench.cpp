// One reservoir step, fast plan against the plain map walk. Workload: N neurons of type 1 (bipolar
// sigmoid), 10 N forward and 10 N back links, 10 inputs; N = 200, 1000 (workload W) and 2000. The
// fast step's second argument is the instruction-set level (0 SSE2, 1 AVX2, 2 AVX-512), capped at the
// processor's. Also the activations over 2000 values (what one step of W computes), whole arrays
// against one call per value.
#include <benchmark/benchmark.h>

#include <random>

#include "src/Activations.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "src/kernels/Cpu.h"
#include "src/kernels/Kernels.h"
#include "tests/support/ReservoireTestAccess.h"

namespace {

using namespace rcnet;

void Build(Reservoire& r, uint32_t neurons) {
    rcnet::srand(1);
    r.AddNeurons(neurons, ETYPE_BISIGMOID);
    r.AddRandomConnections(neurons * 10);
    r.AddRandomBackConnections(neurons * 10);
    r.InitInputMatrix(10);
    r.SetInputs(Vector(10, 0.3));
}

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

void StepFast(benchmark::State& state) {
    Reservoire r;
    Build(r, state.range(0));
    LevelCap cap(state, state.range(1));
    for (auto _ : state) {
        r.Step();
        benchmark::DoNotOptimize(r.States().data());
    }
}

void StepPlain(benchmark::State& state) {
    Reservoire r;
    Build(r, state.range(0));
    for (auto _ : state) {
        ReservoireTestAccess::ReferenceStep(r);
        benchmark::DoNotOptimize(r.States().data());
    }
}

// Arguments like a step's: input sums and states of W.
std::vector<double> ActivationArguments() {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> value(0.0, 2.0);
    std::vector<double> xs(2000);
    for (double& x : xs) x = value(rng);
    return xs;
}

void ActivateFast(benchmark::State& state) {
    const std::vector<double> xs = ActivationArguments();
    const std::vector<int32_t> types(xs.size(), ETYPE_BISIGMOID);
    std::vector<double> out(xs.size());
    LevelCap cap(state, state.range(0));
    for (auto _ : state) {
        kernels::Active().activate(types.data(), xs.data(), out.data(), xs.size());
        benchmark::DoNotOptimize(out.data());
    }
}

void ActivatePlain(benchmark::State& state) {
    const std::vector<double> xs = ActivationArguments();
    std::vector<double> out(xs.size());
    for (auto _ : state) {
        for (size_t j = 0; j < xs.size(); ++j) out[j] = BiSigmoidFunction::Value(xs[j]);
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(StepFast)->ArgsProduct({{100, 200, 1000, 2000}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);
BENCHMARK(StepPlain)->Arg(100)->Arg(200)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ActivateFast)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(ActivatePlain)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
