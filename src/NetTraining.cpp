// Training and propagation of a network.
#include <algorithm>

#include "common/Report.h"
#include "src/Net.h"
#include "src/Solver/NoThresholdSolver.h"
#include "src/Solver/Solver.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Net";

// States harvested per chunk when no size is forced: about 4 MiB of them.
size_t DefaultChunk(size_t neurons) {
    return std::max<size_t>(16, (size_t{1} << 19) / std::max<size_t>(1, neurons));
}
}  // namespace

bool Net::Learn() {
    RC_REQUIRE(m_Inputs.size() > 0, false);
    // Loading a network file can change the sizes after patterns were stored.
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        RC_REQUIRE(m_Inputs[p].size() == m_InputSize && m_Outputs[p].size() == m_OutputSize, false);
    }
    const size_t neurons = m_Reservoir.NeuronCount();
    const size_t length = m_UseThreshold ? neurons + 1 : neurons;
    Matrix weights(m_OutputSize, Vector(length, 0.0));
    for (uint32_t c = 0; c < m_OutputSize; ++c) {
        if (m_UseThreshold) {
            LearnOutput<Solver>(c, neurons, weights[c]);
        } else {
            LearnOutput<NoThresholdSolver>(c, neurons, weights[c]);
        }
    }
    m_OutputWeights.swap(weights);
    return true;
}

// One pass over all stored patterns for output c. The states go to the solver chunk by chunk, in
// pattern order, which folds them exactly as if it had them all at once.
template <typename SolverType>
void Net::LearnOutput(uint32_t c, size_t neurons, Vector& weights) {
    SolverType solver(static_cast<int32_t>(neurons));
    const size_t chunkSize = m_LearnChunk ? m_LearnChunk : DefaultChunk(neurons);
    std::vector<SolverPattern> chunk;
    chunk.reserve(std::min(chunkSize, m_Inputs.size()));
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        m_Reservoir.SetInputs(m_Inputs[p]);
        m_Reservoir.Step();
        chunk.push_back({m_Reservoir.GetState(), m_Outputs[p][c]});
        if (chunk.size() == chunkSize || p + 1 == m_Inputs.size()) {
            solver.AddRows(chunk);
            chunk.clear();
        }
    }
    weights = solver.Solve();
}

bool Net::ReadoutFits() const {
    const size_t neurons = m_Reservoir.NeuronCount();
    const size_t needed = m_UseThreshold ? neurons + 1 : neurons;
    RC_REQUIRE(m_OutputWeights.size() >= m_OutputSize, false);
    for (uint32_t i = 0; i < m_OutputSize; ++i) RC_REQUIRE(m_OutputWeights[i].size() >= needed, false);
    RC_REQUIRE(m_Reservoir.States().size() >= neurons, false);
    return true;
}

const Vector* Net::Propagate(const Vector& input) {
    RC_CHECK(input.size() == m_InputSize);
    if (!ReadoutFits()) return nullptr;
    m_Reservoir.SetInputs(input);
    m_Reservoir.Step();
    const Vector& s = m_Reservoir.States();
    const size_t n = m_Reservoir.NeuronCount();
    Vector result(m_OutputSize, 0.0);
    for (uint32_t i = 0; i < m_OutputSize; ++i) {
        const double* w = m_OutputWeights[i].data();
        double sum = 0.0;
        for (size_t j = 0; j < n; ++j) sum = s[j] * w[j] + sum;
        if (m_UseThreshold) sum = w[n] + sum;
        result[i] = sum;
    }
    m_Result.swap(result);
    return &m_Result;
}

}  // namespace rcnet
