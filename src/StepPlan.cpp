#include "src/StepPlan.h"

#include <algorithm>
#include <unordered_map>

#include "src/Sizes.h"
#include "src/kernels/Kernels.h"
#include "src/kernels/StepKernels.h"

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

}  // namespace

void StepPlan::Build(const std::vector<NeuronRef>& neurons) {
    const size_t n = neurons.size();
    std::unordered_map<const NeuronBase*, uint32_t> positions;
    positions.reserve(n);
    for (size_t j = 0; j < n; ++j) positions.emplace(neurons[j].get(), static_cast<uint32_t>(j));

    StepPlan plan;
    plan.types.resize(n);
    plan.input.resize(n);
    plan.carried.assign(SizeSum(SizeProduct(2, n), 1), 0.0);
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
        const size_t end = SizeSum(base, SizeProduct(longest, kLanes));
        plan.sliceSource.resize(end, static_cast<uint32_t>(2 * n));
        plan.sliceWeight.resize(end, 0.0);
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
    static_assert(kLanes == kernels::kSliceLanes, "the slices are the sum kernel's");
    const auto sumSlice = kernels::Active().sumSlice;
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

}  // namespace rcnet
