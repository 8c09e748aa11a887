// One reservoir step, fast plan against the plain map walk. Workload: 1000 neurons of type 1 (bipolar
// sigmoid), 10,000 forward and 10,000 back links, 10 inputs.
#include <benchmark/benchmark.h>

#include "common/Random.h"
#include "src/Cpu.h"
#include "src/Reservoire.h"
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

// Second argument: the instruction-set level (0 SSE2, 1 AVX2, 2 AVX-512), capped at the processor's.
void StepFast(benchmark::State& state) {
    Reservoire r;
    Build(r, state.range(0));
    const cpu::Level previous = cpu::Limit(static_cast<cpu::Level>(state.range(1)));
    state.SetLabel(cpu::Name(cpu::Active()));
    for (auto _ : state) {
        r.Step();
        benchmark::DoNotOptimize(r.States().data());
    }
    cpu::Limit(previous);
}

void StepPlain(benchmark::State& state) {
    Reservoire r;
    Build(r, state.range(0));
    for (auto _ : state) {
        ReservoireTestAccess::ReferenceStep(r);
        benchmark::DoNotOptimize(r.States().data());
    }
}

BENCHMARK(StepFast)->ArgsProduct({{100, 1000}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);
BENCHMARK(StepPlain)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
