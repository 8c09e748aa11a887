// The tests' view of a reservoir's inside, and the update step written the plain way: walking the link
// maps and calling each neuron's virtual activation. The library's step must match it bit for bit.
#pragma once

#include <algorithm>

#include "src/Reservoire.h"

namespace rcnet {

struct ReservoireTestAccess {
    static std::vector<NeuronRef>& Neurons(Reservoire& r) { return r.m_Neurons; }
    static Matrix& InputMatrix(Reservoire& r) { return r.m_InputMatrix; }

    // The step as the library describes it; never builds a plan, so r's neurons hold the values.
    static void ReferenceStep(Reservoire& r) {
        const size_t iSize = r.m_Inputs.size();
        const size_t jSize = r.m_InputSums.size();
        const size_t n = std::min(jSize, r.m_Neurons.size());
        for (double& sum : r.m_InputSums) sum = 0;
        for (size_t i = 0; i < iSize && i < r.m_InputMatrix.size(); ++i) {
            for (size_t j = 0; j < jSize && j < r.m_InputMatrix[i].size(); ++j) {
                r.m_InputSums[j] = r.m_InputMatrix[i][j] * r.m_Inputs[i] + r.m_InputSums[j];
            }
        }
        for (size_t j = 0; j < n; ++j) {
            NeuronBase& neuron = *r.m_Neurons[j];
            neuron.m_Input = r.m_InputSums[j];
            neuron.m_InputActivation = 0;
            neuron.m_PrevState = neuron.m_State;
            neuron.m_State = 0;
        }
        for (size_t j = 0; j < n; ++j) {
            NeuronBase& source = *r.m_Neurons[j];
            const double x = source.Value(source.m_Input);
            source.m_InputActivation = x;
            for (const auto& [target, weight] : source.m_Outgoing) {
                target->m_Neuron->m_State = weight * x + target->m_Neuron->m_State;
            }
            for (const auto& [target, weight] : source.m_OutgoingBack) {
                target->m_Neuron->m_State = weight * source.m_PrevState + target->m_Neuron->m_State;
            }
        }
        for (size_t j = 0; j < n && j < r.m_States.size(); ++j) {
            NeuronBase& neuron = *r.m_Neurons[j];
            neuron.m_State = neuron.Value(neuron.m_State);
            if (r.m_LeakRate != 1.0)
                neuron.m_State = (1.0 - r.m_LeakRate) * neuron.m_PrevState + r.m_LeakRate * neuron.m_State;
            r.m_States[j] = neuron.m_State;
        }
    }
};

}  // namespace rcnet
