#include "src/Net.h"

#include <cmath>

#include "src/Report.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Net";
}

Net::Net(uint32_t inSize, uint32_t outSize, bool useThreshold)
    : m_InputSize(inSize), m_OutputSize(outSize), m_UseThreshold(useThreshold) {}

bool Net::PatternFits(VectorList::View input, VectorList::View output) const {
    // Both checks report, even when the first fails.
    const bool inputFits = RC_CHECK_AS(RCNET_REPORT_SIZE, m_InputSize == input.size());
    const bool outputFits = RC_CHECK_AS(RCNET_REPORT_SIZE, m_OutputSize == output.size());
    return inputFits && outputFits;
}

void Net::ReservePatterns(size_t count) {
    m_Inputs.Reserve(count, m_InputSize);
    m_Outputs.Reserve(count, m_OutputSize);
}

bool Net::AddPattern(const Vector& input, const Vector& output) {
    if (!PatternFits(input, output)) return false;
    // Both lists have room now, so the pair goes in whole or not at all.
    ReservePatterns(1);
    m_Inputs.PushBack(input);
    m_Outputs.PushBack(output);
    return true;
}

void Net::AddPatterns(const VectorList& inputs, const VectorList& outputs) {
    const size_t size = inputs.size();
    if (!RC_CHECK_AS(RCNET_REPORT_SIZE, size == outputs.size())) return;
    // Check first, reserve, then append: a failed allocation leaves the store untouched.
    std::vector<bool> fits(size);
    size_t count = 0;
    for (size_t i = 0; i < size; ++i) {
        fits[i] = PatternFits(inputs[i], outputs[i]);
        count += fits[i];
    }
    ReservePatterns(count);
    for (size_t i = 0; i < size; ++i) {
        if (!fits[i]) continue;
        m_Inputs.PushBack(inputs[i].data(), m_InputSize);
        m_Outputs.PushBack(outputs[i].data(), m_OutputSize);
    }
}

void Net::AddPatterns(size_t count, const double* inputs, const double* outputs) {
    ReservePatterns(count);
    for (size_t i = 0; i < count; ++i) {
        m_Inputs.PushBack(inputs + i * m_InputSize, m_InputSize);
        m_Outputs.PushBack(outputs + i * m_OutputSize, m_OutputSize);
    }
}

void Net::MarkSequenceStart() {
    if (m_SequenceStarts.empty() || m_SequenceStarts.back() != m_Inputs.size())
        m_SequenceStarts.push_back(m_Inputs.size());
}

void Net::AddSequences(const VectorList& inputs, const VectorList& outputs,
                       const std::vector<uint32_t>& starts) {
    std::vector<size_t> marks = m_SequenceStarts;
    const size_t base = m_Inputs.size();
    for (uint32_t start : starts)
        if (marks.empty() || marks.back() != base + start) marks.push_back(base + start);
    AddPatterns(inputs, outputs);  // may throw; the marks are only swapped in after it
    m_SequenceStarts.swap(marks);
}

bool Net::SetReadoutMethod(int32_t method) {
    RC_REQUIRE(method == kNormalEquations || method == kStableQr, false);
    m_Settings.method = method;
    return true;
}

bool Net::SetRidge(double ridge) {
    RC_REQUIRE_AS(std::isfinite(ridge) ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_NUMERIC,
                  std::isfinite(ridge) && ridge >= 0, false);
    m_Settings.ridge = ridge;
    return true;
}

bool Net::SetOnlineForgetting(double forgetting) {
    RC_REQUIRE_AS(std::isfinite(forgetting) ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_NUMERIC,
                  forgetting > 0 && forgetting <= 1, false);  // NaN fails both
    m_Forgetting = forgetting;
    m_Online.reset();
    return true;
}

bool Net::SetFilePrecision(int32_t digits) {
    RC_REQUIRE(digits == kExactDigits || (digits >= kFileDigits && digits <= 17), false);
    m_FileDigits = digits;
    return true;
}

bool Net::SetWashout(int64_t count) {
    RC_REQUIRE(count >= 0, false);
    m_Settings.washout = static_cast<size_t>(count);
    return true;
}

}  // namespace rcnet
