// The tests' view of a reservoir's inside (through tests/support/Internals.h), and the update step
// written the plain way: walking the link maps and calling each neuron's virtual activation. The
// library's step must match it bit for bit.
#pragma once

#include <algorithm>

#include "src/Activations.h"
#include "src/Reservoire.h"
#include "tests/support/Internals.h"

namespace rcnet {

struct ReservoireTestAccess {
    static std::vector<NeuronRef>& Neurons(Reservoire& r) { return r.*MemberOf(test::NeuronsTag{}); }
    static Matrix& InputMatrix(Reservoire& r) { return r.*MemberOf(test::InputMatrixTag{}); }

    // The step as the library describes it; never builds a plan, so r's neurons hold the values.
    static void ReferenceStep(Reservoire& r) {
        const Vector& inputs = r.*MemberOf(test::InputsTag{});
        const Matrix& matrix = InputMatrix(r);
        Vector& sums = r.*MemberOf(test::InputSumsTag{});
        Vector& states = r.*MemberOf(test::StatesTag{});
        const double leak = r.*MemberOf(test::LeakRateTag{});
        std::vector<NeuronRef>& neurons = Neurons(r);
        const size_t iSize = inputs.size();
        const size_t jSize = sums.size();
        const size_t n = std::min(jSize, neurons.size());
        for (double& sum : sums) sum = 0;
        for (size_t i = 0; i < iSize && i < matrix.size(); ++i) {
            for (size_t j = 0; j < jSize && j < matrix[i].size(); ++j) {
                sums[j] = matrix[i][j] * inputs[i] + sums[j];
            }
        }
        // The bias: a last input of constant 1.
        const Vector& bias = r.Bias();
        for (size_t j = 0; j < jSize && j < bias.size(); ++j) sums[j] = bias[j] * 1.0 + sums[j];
        for (size_t j = 0; j < n; ++j) {
            NeuronBase& neuron = *neurons[j];
            neuron.m_Input = sums[j];
            neuron.m_InputActivation = 0;
            neuron.m_PrevState = neuron.m_State;
            neuron.m_State = 0;
        }
        for (size_t j = 0; j < n; ++j) {
            NeuronBase& source = *neurons[j];
            const double x = source.Value(source.m_Input);
            source.m_InputActivation = x;
            for (const auto& [target, weight] : source.m_Outgoing) {
                target->m_Neuron->m_State = weight * x + target->m_Neuron->m_State;
            }
            for (const auto& [target, weight] : source.m_OutgoingBack) {
                target->m_Neuron->m_State = weight * source.m_PrevState + target->m_Neuron->m_State;
            }
        }
        for (size_t j = 0; j < n && j < states.size(); ++j) {
            NeuronBase& neuron = *neurons[j];
            neuron.m_State = neuron.Value(neuron.m_State);
            if (leak != 1.0) neuron.m_State = (1.0 - leak) * neuron.m_PrevState + leak * neuron.m_State;
            states[j] = neuron.m_State;
        }
    }
};

}  // namespace rcnet
