#include "src/StepPlan.h"

#include <unordered_map>

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
    plan.inputActivation.resize(n);
    plan.prevState.resize(n);
    plan.state.resize(n);
    plan.forwardStart.reserve(n + 1);
    plan.backStart.reserve(n + 1);
    for (size_t j = 0; j < n; ++j) {
        const NeuronBase& neuron = *neurons[j];
        plan.types[j] = neuron.GetType();
        plan.input[j] = neuron.m_Input;
        plan.inputActivation[j] = neuron.m_InputActivation;
        plan.prevState[j] = neuron.m_PrevState;
        plan.state[j] = neuron.m_State;
        plan.forwardStart.push_back(static_cast<uint32_t>(plan.forwardTarget.size()));
        FlattenLinks(neuron.m_Outgoing, positions, plan.forwardTarget, plan.forwardWeight);
        plan.backStart.push_back(static_cast<uint32_t>(plan.backTarget.size()));
        FlattenLinks(neuron.m_OutgoingBack, positions, plan.backTarget, plan.backWeight);
    }
    plan.forwardStart.push_back(static_cast<uint32_t>(plan.forwardTarget.size()));
    plan.backStart.push_back(static_cast<uint32_t>(plan.backTarget.size()));
    *this = std::move(plan);
}

void StepPlan::StoreValues(const std::vector<NeuronRef>& neurons) const {
    for (size_t j = 0; j < types.size() && j < neurons.size(); ++j) {
        NeuronBase& neuron = *neurons[j];
        neuron.m_Input = input[j];
        neuron.m_InputActivation = inputActivation[j];
        neuron.m_PrevState = prevState[j];
        neuron.m_State = state[j];
    }
}

}  // namespace rcnet
