#include "src/Net.h"

#include <cmath>

#include "common/Report.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Net";
}

Net::Net(uint32_t inSize, uint32_t outSize, bool useThreshold)
    : m_InputSize(inSize), m_OutputSize(outSize), m_UseThreshold(useThreshold) {}

bool Net::PatternFits(const Vector& input, const Vector& output) const {
    // Both checks report, even when the first fails.
    const bool inputFits = RC_CHECK(m_InputSize == input.size());
    const bool outputFits = RC_CHECK(m_OutputSize == output.size());
    return inputFits && outputFits;
}

bool Net::AddPattern(const Vector& input, const Vector& output) {
    if (!PatternFits(input, output)) return false;
    m_Inputs.reserve(m_Inputs.size() + 1);
    m_Outputs.reserve(m_Outputs.size() + 1);
    // Both lists have room now, so the pair goes in whole or not at all.
    Vector inputCopy = input;
    Vector outputCopy = output;
    m_Inputs.push_back(std::move(inputCopy));
    m_Outputs.push_back(std::move(outputCopy));
    return true;
}

void Net::AddPatterns(const std::vector<Vector>& inputs, const std::vector<Vector>& outputs) {
    const size_t size = inputs.size();
    if (!RC_CHECK(size == outputs.size())) return;

    // Copy first, commit after: a failed allocation leaves the store untouched.
    std::vector<Vector> newInputs;
    std::vector<Vector> newOutputs;
    newInputs.reserve(size);
    newOutputs.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        if (!PatternFits(inputs[i], outputs[i])) continue;
        newInputs.push_back(inputs[i]);
        newOutputs.push_back(outputs[i]);
    }
    m_Inputs.reserve(m_Inputs.size() + newInputs.size());
    m_Outputs.reserve(m_Outputs.size() + newOutputs.size());
    for (size_t i = 0; i < newInputs.size(); ++i) {
        m_Inputs.push_back(std::move(newInputs[i]));
        m_Outputs.push_back(std::move(newOutputs[i]));
    }
}

bool Net::SetReadoutMethod(int32_t method) {
    RC_REQUIRE(method == kNormalEquations || method == kStableQr, false);
    m_Settings.method = method;
    return true;
}

bool Net::SetRidge(double ridge) {
    RC_REQUIRE(std::isfinite(ridge) && ridge >= 0, false);
    m_Settings.ridge = ridge;
    return true;
}

bool Net::SetWashout(int64_t count) {
    RC_REQUIRE(count >= 0, false);
    m_Settings.washout = static_cast<size_t>(count);
    return true;
}

}  // namespace rcnet
