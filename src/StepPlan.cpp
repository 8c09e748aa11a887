#include "src/StepPlan.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "src/kernels/Cpu.h"

namespace rcnet {
namespace {

void FlattenLinks(const LinkMap& links, const std::unordered_map<const NeuronBase*, uint32_t>& positions,
                  std::vector<uint32_t>& targets, Vector& weights) {
    for (const auto& [connector, weight] : links) {
        // Links only ever join neurons of one reservoir, so every target has a position.
        targets.push_back(positions.at(connector->m_Neuron));
        weights.push_back(weight);
    }
}

// One slice's sums, lane by lane (four lanes at a time: four independent chains).
void SumSliceBaseline(const double* weight, const uint32_t* source, size_t terms, const double* carried,
                      double* sums) {
    constexpr size_t kLanes = StepPlan::kLanes;
    for (size_t l0 = 0; l0 < kLanes; l0 += 4) {
        double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
        for (size_t i = 0; i < terms; ++i) {
            const double* w = weight + i * kLanes + l0;
            const uint32_t* c = source + i * kLanes + l0;
            a0 = w[0] * carried[c[0]] + a0;
            a1 = w[1] * carried[c[1]] + a1;
            a2 = w[2] * carried[c[2]] + a2;
            a3 = w[3] * carried[c[3]] + a3;
        }
        sums[l0] = a0;
        sums[l0 + 1] = a1;
        sums[l0 + 2] = a2;
        sums[l0 + 3] = a3;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The same products and sums, a multiply then an add per term, four or eight lanes at a time. The
// carried values are loaded one by one: this processor family's gather instructions are slower.
__attribute__((target("avx2"), always_inline)) inline __m256d Load4(const double* carried,
                                                                    const uint32_t* source) {
    return _mm256_set_pd(carried[source[3]], carried[source[2]], carried[source[1]], carried[source[0]]);
}

__attribute__((target("avx512f"), always_inline)) inline __m512d Load8(const double* carried,
                                                                       const uint32_t* source) {
    return _mm512_set_pd(carried[source[7]], carried[source[6]], carried[source[5]], carried[source[4]],
                         carried[source[3]], carried[source[2]], carried[source[1]], carried[source[0]]);
}

__attribute__((target("avx2"))) void SumSliceAvx2(const double* weight, const uint32_t* source, size_t terms,
                                                  const double* carried, double* sums) {
    __m256d acc[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
    for (size_t i = 0; i < terms; ++i, weight += 16, source += 16) {
        for (size_t v = 0; v < 4; ++v)
            acc[v] = _mm256_add_pd(
                _mm256_mul_pd(_mm256_loadu_pd(weight + 4 * v), Load4(carried, source + 4 * v)), acc[v]);
    }
    for (size_t v = 0; v < 4; ++v) _mm256_storeu_pd(sums + 4 * v, acc[v]);
}

#if defined(__x86_64__)
__attribute__((target("avx512f"))) void SumSliceAvx512(const double* weight, const uint32_t* source,
                                                       size_t terms, const double* carried, double* sums) {
    __m512d acc0 = _mm512_setzero_pd(), acc1 = _mm512_setzero_pd();
    for (size_t i = 0; i < terms; ++i, weight += 16, source += 16) {
        const __m512d value0 = Load8(carried, source);
        const __m512d value1 = Load8(carried, source + 8);
        acc0 = _mm512_add_pd(_mm512_mul_pd(_mm512_loadu_pd(weight), value0), acc0);
        acc1 = _mm512_add_pd(_mm512_mul_pd(_mm512_loadu_pd(weight + 8), value1), acc1);
    }
    _mm512_storeu_pd(sums, acc0);
    _mm512_storeu_pd(sums + 8, acc1);
}
#endif
#endif

// sums[j] = the sum from +0 of rows[i][j] * inputs[i], i in order: W columns at a time in registers
// instead of a pass over the sums per row.
template <typename V>
__attribute__((always_inline)) inline void SumInputsLanes(const double* const* rows, const double* inputs,
                                                          size_t rowCount, double* sums, size_t columns) {
    constexpr size_t W = sizeof(V) / sizeof(double);
    size_t j = 0;
    for (; j + W <= columns; j += W) {
        V acc = {};
        for (size_t i = 0; i < rowCount; ++i) {
            V w;
            std::memcpy(&w, rows[i] + j, sizeof w);
            acc = w * inputs[i] + acc;
        }
        std::memcpy(sums + j, &acc, sizeof acc);
    }
    for (; j < columns; ++j) {
        double acc = 0.0;
        for (size_t i = 0; i < rowCount; ++i) acc = rows[i][j] * inputs[i] + acc;
        sums[j] = acc;
    }
}

typedef double V2 __attribute__((vector_size(16)));
void SumInputsBaseline(const double* const* rows, const double* inputs, size_t rowCount, double* sums,
                       size_t columns) {
    SumInputsLanes<V2>(rows, inputs, rowCount, sums, columns);
}
#if defined(__x86_64__) || defined(__i386__)
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));
__attribute__((target("avx2"))) void SumInputsAvx2(const double* const* rows, const double* inputs,
                                                   size_t rowCount, double* sums, size_t columns) {
    SumInputsLanes<V4>(rows, inputs, rowCount, sums, columns);
}
__attribute__((target("avx512f"))) void SumInputsAvx512(const double* const* rows, const double* inputs,
                                                        size_t rowCount, double* sums, size_t columns) {
    SumInputsLanes<V8>(rows, inputs, rowCount, sums, columns);
}
#endif

using SumSliceFn = void (*)(const double*, const uint32_t*, size_t, const double*, double*);

SumSliceFn PickSumSlice() {
#if defined(__x86_64__) || defined(__i386__)
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
#if defined(__x86_64__)
            return &SumSliceAvx512;
#else
            // 32-bit code builds the wider vectors from loads with too few registers: four lanes are
            // quicker there.
            return &SumSliceAvx2;
#endif
        case cpu::Level::Avx2:
            return &SumSliceAvx2;
        default:
            break;
    }
#endif
    return &SumSliceBaseline;
}

}  // namespace

void StepPlan::Build(const std::vector<NeuronRef>& neurons) {
    const size_t n = neurons.size();
    std::unordered_map<const NeuronBase*, uint32_t> positions;
    positions.reserve(n);
    for (size_t j = 0; j < n; ++j) positions.emplace(neurons[j].get(), static_cast<uint32_t>(j));

    StepPlan plan;
    plan.types.resize(n);
    plan.input.resize(n);
    plan.carried.assign(2 * n + 1, 0.0);
    plan.state.resize(n);
    plan.forwardStart.reserve(n + 1);
    plan.backStart.reserve(n + 1);
    for (size_t j = 0; j < n; ++j) {
        const NeuronBase& neuron = *neurons[j];
        plan.types[j] = neuron.GetType();
        plan.input[j] = neuron.m_Input;
        plan.InputActivation()[j] = neuron.m_InputActivation;
        plan.PrevState()[j] = neuron.m_PrevState;
        plan.state[j] = neuron.m_State;
        plan.forwardStart.push_back(static_cast<uint32_t>(plan.forwardTarget.size()));
        FlattenLinks(neuron.m_Outgoing, positions, plan.forwardTarget, plan.forwardWeight);
        plan.backStart.push_back(static_cast<uint32_t>(plan.backTarget.size()));
        FlattenLinks(neuron.m_OutgoingBack, positions, plan.backTarget, plan.backWeight);
    }
    plan.forwardStart.push_back(static_cast<uint32_t>(plan.forwardTarget.size()));
    plan.backStart.push_back(static_cast<uint32_t>(plan.backTarget.size()));

    // Every neuron's terms by counting: visiting sources in order, forward links before back links,
    // appends each target's terms in the order the map walk adds them.
    std::vector<uint32_t> start(n + 1, 0);
    for (uint32_t t : plan.forwardTarget) ++start[t + 1];
    for (uint32_t t : plan.backTarget) ++start[t + 1];
    for (size_t t = 0; t < n; ++t) start[t + 1] += start[t];
    std::vector<std::pair<double, uint32_t>> terms(start[n]);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t j = 0; j < n; ++j) {
        for (uint32_t k = plan.forwardStart[j]; k < plan.forwardStart[j + 1]; ++k)
            terms[fill[plan.forwardTarget[k]]++] = {plan.forwardWeight[k], static_cast<uint32_t>(j)};
        for (uint32_t k = plan.backStart[j]; k < plan.backStart[j + 1]; ++k)
            terms[fill[plan.backTarget[k]]++] = {plan.backWeight[k], static_cast<uint32_t>(n + j)};
    }

    std::vector<uint32_t> order(n);
    for (size_t t = 0; t < n; ++t) order[t] = static_cast<uint32_t>(t);
    // By decreasing number of terms, then position (a stable order without a temporary buffer).
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const uint32_t termsA = start[a + 1] - start[a], termsB = start[b + 1] - start[b];
        return termsA != termsB ? termsA > termsB : a < b;
    });
    const size_t slices = (n + kLanes - 1) / kLanes;
    plan.sliceStart.assign(1, 0);
    plan.sliceNeuron.assign(slices * kLanes, static_cast<uint32_t>(n));
    for (size_t s = 0; s < slices; ++s) {
        size_t longest = 0;
        for (size_t l = 0; l < kLanes && s * kLanes + l < n; ++l) {
            const uint32_t t = order[s * kLanes + l];
            plan.sliceNeuron[s * kLanes + l] = t;
            longest = std::max<size_t>(longest, start[t + 1] - start[t]);
        }
        const size_t base = plan.sliceSource.size();
        plan.sliceSource.resize(base + longest * kLanes, static_cast<uint32_t>(2 * n));
        plan.sliceWeight.resize(base + longest * kLanes, 0.0);
        for (size_t l = 0; l < kLanes && s * kLanes + l < n; ++l) {
            const uint32_t t = order[s * kLanes + l];
            for (uint32_t i = 0; i < start[t + 1] - start[t]; ++i) {
                plan.sliceWeight[base + i * kLanes + l] = terms[start[t] + i].first;
                plan.sliceSource[base + i * kLanes + l] = terms[start[t] + i].second;
            }
        }
        plan.sliceStart.push_back(static_cast<uint32_t>(plan.sliceSource.size()));
    }
    *this = std::move(plan);
}

void StepPlan::StoreValues(const std::vector<NeuronRef>& neurons) const {
    const size_t n = types.size();
    for (size_t j = 0; j < n && j < neurons.size(); ++j) {
        NeuronBase& neuron = *neurons[j];
        neuron.m_Input = input[j];
        neuron.m_InputActivation = carried[j];
        neuron.m_PrevState = carried[n + j];
        neuron.m_State = state[j];
    }
}

void StepPlan::SumIncoming(double* state) const {
    const SumSliceFn sumSlice = PickSumSlice();
    const size_t n = NeuronCount();
    double sums[kLanes];
    for (size_t s = 0; s + 1 < sliceStart.size(); ++s) {
        const size_t first = sliceStart[s];
        sumSlice(sliceWeight.data() + first, sliceSource.data() + first, (sliceStart[s + 1] - first) / kLanes,
                 carried.data(), sums);
        for (size_t l = 0; l < kLanes; ++l) {
            const uint32_t t = sliceNeuron[s * kLanes + l];
            if (t < n) state[t] = sums[l];
        }
    }
}

void SumInputs(const double* const* rows, const double* inputs, size_t rowCount, double* sums,
               size_t columns) {
#if defined(__x86_64__) || defined(__i386__)
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
            return SumInputsAvx512(rows, inputs, rowCount, sums, columns);
        case cpu::Level::Avx2:
            return SumInputsAvx2(rows, inputs, rowCount, sums, columns);
        default:
            break;
    }
#endif
    SumInputsBaseline(rows, inputs, rowCount, sums, columns);
}

}  // namespace rcnet
