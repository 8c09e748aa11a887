// One reservoir step, fast plan against the plain map walk. Workload: N neurons of type 1 (bipolar
// sigmoid), 10 N forward and 10 N back links, 10 inputs; N = 200, 1000 (workload W) and 2000. The
// fast step's second argument is the instruction-set level (0 SSE2, 1 AVX2, 2 AVX-512), capped at the
// processor's. Also the activations over 2000 values (what one step of W computes), whole arrays
// against one call per value.
//
// SumProbe: the limit of the step's sums at each level, the same gathers, multiplies and adds over the
// plan's arrays of W (the same layout and sizes) with nothing else: no running sums that wait on each
// other, no sums written back, no activations. Its third argument is how the lanes' sources are read:
// 0 one 32-bit index a lane, 1 two 32-bit indices a 64-bit load, 2 four 16-bit indices a 64-bit load,
// 3 the processor's gather instruction (AVX2 and AVX-512). StepSums: the plan's sums as the step runs them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "src/Activations.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "src/StepPlan.h"
#include "src/kernels/Cpu.h"
#include "src/kernels/Kernels.h"
#include "src/kernels/Vec.h"
#include "tests/support/ReservoireTestAccess.h"

// The probe's templates are instantiated at the end of this unit (as in src/kernels/Kernels.cpp).
#pragma GCC diagnostic ignored "-Wpsabi"

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

// ---- the sums' limit

RCNET_VECTOR_CODE_BEGIN

struct OneByOne {
    using Index = uint32_t;
    template <typename P>
    static RCNET_INLINE typename P::V Get(const double* carried, const Index* s) {
        return P::Gather(carried, s);
    }
};

struct Pairs {
    using Index = uint32_t;
    template <typename P>
    static RCNET_INLINE typename P::V Get(const double* carried, const Index* s) {
        return P::Of([&](size_t l) __attribute__((always_inline)) {
            uint64_t pair;
            std::memcpy(&pair, s + (l & ~size_t{1}), sizeof pair);
            return carried[l & 1 ? pair >> 32 : pair & 0xffffffffu];
        });
    }
};

struct Quads {
    using Index = uint16_t;
    template <typename P>
    static RCNET_INLINE typename P::V Get(const double* carried, const Index* s) {
        return P::Of([&](size_t l) __attribute__((always_inline)) {
            uint64_t quad;
            std::memcpy(&quad, s + (l & ~size_t{3}), sizeof quad);
            return carried[(quad >> (16 * (l & 3))) & 0xffffu];
        });
    }
};

struct Hardware {
    using Index = uint32_t;
    template <typename P>
    static RCNET_INLINE typename P::V Get(const double* carried, const Index* s) {
        using V = typename P::V;
        if constexpr (P::kLanes == 8) {
            typedef int32_t I8 __attribute__((vector_size(32)));
            I8 index;
            std::memcpy(&index, s, sizeof index);
            return __builtin_ia32_gathersiv8df(V{}, carried, index, 0xff, 8);
        } else if constexpr (P::kLanes == 4) {
            typedef int32_t I4 __attribute__((vector_size(16)));
            I4 index;
            std::memcpy(&index, s, sizeof index);
            return __builtin_ia32_gathersiv4df(V{}, carried, index, reinterpret_cast<V>(V{} == V{}), 8);
        } else {
            return P::Gather(carried, s);  // no such instruction
        }
    }
};

// Rows of 16 terms (the plan's slices end to end); two sets of running sums where the registers allow,
// taken in turns, so that no add waits on the one before.
template <typename P, typename G>
RCNET_INLINE double ProbeSums(const double* weight, const typename G::Index* source, size_t rows,
                              const double* carried) {
    constexpr size_t W = P::kLanes, kVectors = 16 / W;
    constexpr size_t kSets = 4 * kVectors <= P::kRegisters ? 2 : 1;
    typename P::V acc[kSets][kVectors];
    for (auto& set : acc)
        for (auto& a : set) a = P::Set(0.0);
    size_t i = 0;
    for (; i + kSets <= rows; i += kSets) {
        for (size_t k = 0; k < kSets; ++k, weight += 16, source += 16) {
#pragma GCC unroll 16
            for (size_t v = 0; v < kVectors; ++v)
                acc[k][v] = P::Load(weight + v * W) * G::template Get<P>(carried, source + v * W) + acc[k][v];
        }
    }
    for (; i < rows; ++i, weight += 16, source += 16)
        for (size_t v = 0; v < kVectors; ++v)
            acc[0][v] = P::Load(weight + v * W) * G::template Get<P>(carried, source + v * W) + acc[0][v];
    double lanes[W], total = 0.0;
    for (auto& set : acc)
        for (auto& a : set) {
            P::Store(lanes, a);
            for (double x : lanes) total += x;
        }
    return total;
}

template <typename G, typename Index>
double ProbeSse2(const double* weight, const Index* source, size_t rows, const double* carried) {
    return ProbeSums<kernels::Sse2, G>(weight, source, rows, carried);
}
template <typename G, typename Index>
RCNET_TARGET_AVX2 double ProbeAvx2(const double* weight, const Index* source, size_t rows,
                                   const double* carried) {
    return ProbeSums<kernels::Avx2, G>(weight, source, rows, carried);
}
template <typename G, typename Index>
RCNET_TARGET_AVX512 double ProbeAvx512(const double* weight, const Index* source, size_t rows,
                                       const double* carried) {
    return ProbeSums<kernels::Avx512, G>(weight, source, rows, carried);
}

RCNET_VECTOR_CODE_END

template <typename G>
void RunProbe(benchmark::State& state, const StepPlan& plan, int64_t level) {
    using Index = typename G::Index;
    const std::vector<Index> source(plan.sliceSource.begin(), plan.sliceSource.end());
    const size_t rows = source.size() / 16;
    auto probe = level == 2 ? ProbeAvx512<G, Index> : level == 1 ? ProbeAvx2<G, Index> : ProbeSse2<G, Index>;
    for (auto _ : state)
        benchmark::DoNotOptimize(probe(plan.sliceWeight.data(), source.data(), rows, plan.carried.data()));
    state.counters["terms"] = static_cast<double>(source.size());
}

void SumProbe(benchmark::State& state) {
    const int64_t level = state.range(1), form = state.range(2);
    if (level > static_cast<int64_t>(cpu::Detected()) || (form == 3 && level == 0)) {
        state.SkipWithError("not on this processor or level");
        return;
    }
    Reservoire r;
    Build(r, state.range(0));
    StepPlan plan;
    plan.Build(r.Neurons());
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (size_t j = 0; j + 1 < plan.carried.size(); ++j) plan.carried[j] = value(rng);
    state.SetLabel(cpu::Name(static_cast<cpu::Level>(level)));
    switch (form) {
        case 0:
            RunProbe<OneByOne>(state, plan, level);
            break;
        case 1:
            RunProbe<Pairs>(state, plan, level);
            break;
        case 2:
            RunProbe<Quads>(state, plan, level);
            break;
        default:
            RunProbe<Hardware>(state, plan, level);
            break;
    }
}

// The step's sums alone: the plan's kernel with its running sums and the write-back.
void StepSums(benchmark::State& state) {
    Reservoire r;
    Build(r, state.range(0));
    StepPlan plan;
    plan.Build(r.Neurons());
    Vector sums(plan.NeuronCount());
    LevelCap cap(state, state.range(1));
    for (auto _ : state) {
        plan.SumIncoming(sums.data());
        benchmark::DoNotOptimize(sums.data());
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
BENCHMARK(SumProbe)->ArgsProduct({{200, 1000, 2000}, {0, 1, 2}, {0, 1, 2, 3}})->Unit(benchmark::kMicrosecond);
BENCHMARK(StepSums)->ArgsProduct({{200, 1000, 2000}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);
BENCHMARK(StepPlain)->Arg(100)->Arg(200)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ActivateFast)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(ActivatePlain)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
