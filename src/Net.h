// One network: its sizes, its threshold choice, its store of training patterns and its readout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Types.h"
#include "src/Reservoire.h"

namespace rcnet {

class Net {
public:
    Net(uint32_t inSize, uint32_t outSize, bool useThreshold);

    uint32_t InputSize() const { return m_InputSize; }
    uint32_t OutputSize() const { return m_OutputSize; }
    bool UseThreshold() const { return m_UseThreshold; }

    // A pattern whose lengths differ from the network's sizes is reported and not stored: nothing could
    // ever train on it. Returns whether the pattern was stored.
    bool AddPattern(const Vector& input, const Vector& output);

    // Appends the patterns in list order. All or nothing: if memory runs out part way, the store is left
    // as it was and the exception goes on to the caller. Lists of different lengths add nothing.
    void AddPatterns(const std::vector<Vector>& inputs, const std::vector<Vector>& outputs);

    size_t PatternCount() const { return m_Inputs.size(); }
    const std::vector<Vector>& StoredInputs() const { return m_Inputs; }
    const std::vector<Vector>& StoredOutputs() const { return m_Outputs; }
    const Matrix& OutputWeights() const { return m_OutputWeights; }

    Reservoire& Reservoir() { return m_Reservoir; }
    const Reservoire& Reservoir() const { return m_Reservoir; }

private:
    bool PatternFits(const Vector& input, const Vector& output) const;

    Reservoire m_Reservoir;
    uint32_t m_InputSize;
    uint32_t m_OutputSize;
    std::vector<Vector> m_Inputs;
    std::vector<Vector> m_Outputs;
    Matrix m_OutputWeights;
    bool m_UseThreshold;
    Vector m_Result;
};

}  // namespace rcnet
