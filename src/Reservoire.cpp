#include "src/Reservoire.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <unordered_map>

#include "src/Activations.h"
#include "src/Random.h"
#include "src/Report.h"
#include "src/VectorList.h"
#include "src/kernels/Kernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Reservoire";

// The 32768 values of (2r - 32767) / 32767 lie evenly in [-1, 1]; 0 is never drawn.
double DrawWeight() {
    return static_cast<double>(2 * rcnet::rand() - 32767) / 32767.0;
}

// Positions above 32767 cannot be drawn.
uint32_t DrawIndex(uint32_t n) {
    return static_cast<uint32_t>(rcnet::rand()) % n;
}

constexpr uint32_t kDrawablePositions = 32768;
}  // namespace

const std::vector<NeuronRef>& Reservoire::Neurons() const {
    if (m_PlanValid) m_Plan.StoreValues(m_Neurons);
    return m_Neurons;
}

void Reservoire::InvalidatePlan() {
    if (!m_PlanValid) return;
    m_Plan.StoreValues(m_Neurons);
    m_Plan = StepPlan();
    m_PlanValid = false;
}

bool Reservoire::AddNeurons(uint32_t count, int32_t type) {
    if (count == 0) return true;
    if (!IsNeuronType(type)) {
        CreateNeuron(type, 0);  // the factory reports; a refused type adds nothing
        return true;
    }
    // No reservoir holds one id twice, so it holds at most this many neurons (ids 1 to 4294967295).
    if (uint64_t{count} + m_Neurons.size() > UINT32_MAX) {
        ReportFailure("fresh neuron ids left", kReportSource, __LINE__);
        return false;
    }
    // Made first and numbered last: running out of memory part way uses up no id.
    std::vector<NeuronRef> created;
    created.reserve(count);
    for (uint32_t i = 0; i < count; ++i) created.push_back(CreateNeuron(type, 0));
    m_Neurons.reserve(m_Neurons.size() + count);
    uint32_t first = 0;
    if (NeuronBase::TakeIds(count, first)) {
        for (uint32_t i = 0; i < count; ++i) created[i]->m_Id = first + i;
    } else {
        // The process's ids have run out (a file held ids near the top): the ids above this
        // reservoir's highest. Ids must ascend in list order, or a saved file loads its neurons in
        // another order than the readout's and the input matrix's; a reservoir holding ids up to the
        // top takes no more.
        uint32_t highest = 0;
        for (const NeuronRef& neuron : m_Neurons) highest = std::max(highest, neuron->m_Id);
        if (UINT32_MAX - highest < count) {
            ReportFailure("fresh neuron ids left", kReportSource, __LINE__);
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) created[i]->m_Id = highest + 1 + i;
    }
    InvalidatePlan();
    m_Neurons.insert(m_Neurons.end(), created.begin(), created.end());
    return true;
}

void Reservoire::AddRandomConnections(uint32_t count) {
    AddRandomLinks(count, false);
}
void Reservoire::AddRandomBackConnections(uint32_t count) {
    AddRandomLinks(count, true);
}

uint64_t Reservoire::FreeLinkPairs(bool back) const {
    const uint64_t size = m_Neurons.size();
    const uint64_t reachable = std::min<uint64_t>(size, kDrawablePositions);
    uint64_t taken = 0;
    if (size <= kDrawablePositions) {
        for (const NeuronRef& neuron : m_Neurons)
            taken += (back ? neuron->m_OutgoingBack : neuron->m_Outgoing).size();
    } else {
        // Only links between drawable positions use up drawable pairs.
        std::unordered_map<const NeuronBase*, uint64_t> positions;
        for (uint64_t j = 0; j < size; ++j) positions.emplace(m_Neurons[j].get(), j);
        for (uint64_t s = 0; s < reachable; ++s) {
            for (const auto& link : back ? m_Neurons[s]->m_OutgoingBack : m_Neurons[s]->m_Outgoing) {
                if (positions.at(link.first->m_Neuron) < reachable) ++taken;
            }
        }
    }
    return reachable * reachable - taken;
}

void Reservoire::AddRandomLinks(uint32_t count, bool back) {
    const uint32_t size = NeuronCount();
    // The report quotes this expression's text exactly.
    // clang-format off
    RC_REQUIRE(count <= size*size, );
    // clang-format on
    // Without this the draw loop would never end once every pair it can reach is taken.
    if (count > FreeLinkPairs(back)) {
        ReportFailure("count <= free pairs", kReportSource, __LINE__);
        return;
    }
    if (count == 0) return;
    // All or nothing: the links drawn so far are taken out again and the generator put back when memory
    // runs out part way. Noted in room reserved beforehand, so noting never fails.
    std::vector<std::pair<NeuronBase*, NeuronBase*>> added;
    added.reserve(count);
    const uint32_t randomState = RandomState();
    InvalidatePlan();
    try {
        while (added.size() < count) {
            const double weight = DrawWeight();
            NeuronBase& target = *m_Neurons[DrawIndex(size)];
            NeuronBase& source = *m_Neurons[DrawIndex(size)];
            if (back ? AddBackConnection(source, target, weight) : AddConnection(source, target, weight))
                added.emplace_back(&source, &target);
        }
    } catch (...) {
        for (const auto& [source, target] : added) {
            (back ? source->m_OutgoingBack : source->m_Outgoing).erase(target->m_Connector);
            (back ? target->m_IncomingBack : target->m_Incoming).erase(source->m_Connector);
        }
        srand(randomState);
        throw;
    }
}

void Reservoire::InitInputMatrix(uint32_t rows) {
    const size_t n = m_Neurons.size();
    // Built aside and swapped in: running out of memory part way leaves the reservoir as it was.
    Matrix matrix;
    matrix.reserve(rows);
    for (uint32_t i = 0; i < rows; ++i) {
        Vector row(n);
        for (size_t j = 0; j < n; ++j) row[j] = DrawWeight();
        matrix.push_back(std::move(row));
    }
    Vector sums(n, 0.0);
    Vector states(n, 0.0);
    Vector inputs(rows, 0.0);
    m_InputSums.swap(sums);
    m_States.swap(states);
    m_InputMatrix.swap(matrix);
    m_Inputs.swap(inputs);
}

void Reservoire::SetInputs(const Vector& inputs) {
    SetInputs(inputs.data(), inputs.size());
}

void Reservoire::SetInputs(const double* values, size_t count) {
    const VectorList::View inputs(values, count);
    RC_CHECK_AS(RCNET_REPORT_CALL_ORDER, inputs.size() == m_Inputs.size());
    m_Inputs.assign(inputs.begin(), inputs.end());
}

void Reservoire::Step() {
    ++m_StepCount;
    const size_t iSize = m_Inputs.size();
    const size_t jSize = m_InputSums.size();
    // The input matrix must be drawn, for these inputs, after the last neurons were added.
    RC_CHECK_AS(RCNET_REPORT_CALL_ORDER, iSize == m_InputMatrix.size());
    RC_CHECK_AS(RCNET_REPORT_CALL_ORDER, m_InputMatrix.size() > 0 && m_InputMatrix[0].size() == jSize);
    RC_CHECK_AS(RCNET_REPORT_CALL_ORDER, jSize == m_Neurons.size());

    if (!m_PlanValid) {
        m_Plan.Build(m_Neurons);
        m_PlanValid = true;
    }
    StepPlan& plan = m_Plan;
    // Sizes may disagree (neurons added after the matrix was drawn): go only as far as every vector,
    // row and list reaches.
    const size_t n = std::min({jSize, m_States.size(), plan.NeuronCount()});

    const size_t rows = std::min(iSize, m_InputMatrix.size());
    bool fullRows = true;
    m_InputRows.resize(rows);
    // One loop that stops at a short row: vectorised, the pointer copy stalled on store forwarding in
    // 32-bit code.
    for (size_t i = 0; i < rows && fullRows; ++i) {
        fullRows = m_InputMatrix[i].size() >= jSize;
        m_InputRows[i] = m_InputMatrix[i].data();
    }
    if (fullRows) {
        kernels::Active().sumInputs(m_InputRows.data(), m_Inputs.data(), rows, m_InputSums.data(), jSize);
    } else {
        std::fill(m_InputSums.begin(), m_InputSums.end(), 0.0);
        for (size_t i = 0; i < rows; ++i) {
            const double* weights = m_InputMatrix[i].data();
            const double input = m_Inputs[i];
            double* sums = m_InputSums.data();
            const size_t columns = std::min(jSize, m_InputMatrix[i].size());
            for (size_t j = 0; j < columns; ++j) sums[j] = weights[j] * input + sums[j];
        }
    }

    // The bias: a last input term, 1 times the neuron's bias.
    const size_t biased = std::min(jSize, m_Bias.size());
    for (size_t j = 0; j < biased; ++j) m_InputSums[j] = m_Bias[j] + m_InputSums[j];

    double* state = plan.state.data();
    double* activation = plan.InputActivation();
    double* prev = plan.PrevState();
    const kernels::Kernels& level = kernels::Active();
    level.copy(plan.input.data(), m_InputSums.data(), n);
    level.copy(prev, state, n);
    if (n == plan.NeuronCount()) {
        // Every neuron steps: each state is the sum of its incoming terms, gathered in the map walk's
        // order. The activations do not depend on the order and run over whole arrays.
        level.activate(plan.types.data(), plan.input.data(), activation, n);
        plan.SumIncoming(state);
        level.activate(plan.types.data(), state, state, n);
    } else {
        // Neurons past n keep their state and collect only the terms of the first n.
        std::fill(state, state + n, 0.0);
        for (size_t j = 0; j < n; ++j) {
            const double x = ActivationValue(plan.types[j], plan.input[j]);
            activation[j] = x;
            for (uint32_t k = plan.forwardStart[j]; k < plan.forwardStart[j + 1]; ++k) {
                const uint32_t t = plan.forwardTarget[k];
                state[t] = plan.forwardWeight[k] * x + state[t];
            }
            for (uint32_t k = plan.backStart[j]; k < plan.backStart[j + 1]; ++k) {
                const uint32_t t = plan.backTarget[k];
                state[t] = plan.backWeight[k] * prev[j] + state[t];
            }
        }
        for (size_t j = 0; j < n; ++j) state[j] = ActivationValue(plan.types[j], state[j]);
    }
    if (m_LeakRate != 1.0) {
        const double keep = 1.0 - m_LeakRate, rate = m_LeakRate;
        for (size_t j = 0; j < n; ++j) state[j] = keep * prev[j] + rate * state[j];
    }
    level.copy(m_States.data(), state, n);
}

void Reservoire::Clear() {
    m_StepCount = 0;
    m_LeakRate = 1.0;
    m_Plan = StepPlan();
    m_PlanValid = false;
    m_Neurons.clear();
    m_Inputs.clear();
    m_InputMatrix.clear();
    m_InputSums.clear();
    m_States.clear();
    m_Bias.clear();
}

void Reservoire::ResetState() {
    InvalidatePlan();  // the plan holds the values while it is in use
    for (const NeuronRef& neuron : m_Neurons) {
        neuron->m_Input = 0.0;
        neuron->m_InputActivation = 0.0;
        neuron->m_PrevState = 0.0;
        neuron->m_State = 0.0;
    }
    std::fill(m_Inputs.begin(), m_Inputs.end(), 0.0);
    std::fill(m_InputSums.begin(), m_InputSums.end(), 0.0);
    std::fill(m_States.begin(), m_States.end(), 0.0);
}

bool Reservoire::SetLeakRate(double rate) {
    RC_REQUIRE_AS(std::isfinite(rate) ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_NUMERIC, rate > 0 && rate <= 1,
                  false);  // NaN fails both
    m_LeakRate = rate;
    return true;
}

bool Reservoire::SetState(const double* values, size_t count) {
    // Another count is the caller's; a state vector that does not cover the neurons wants the input matrix.
    RC_REQUIRE_AS(count != m_Neurons.size() ? RCNET_REPORT_SIZE : RCNET_REPORT_CALL_ORDER,
                  count == m_Neurons.size() && count == m_States.size(), false);
    bool finite = true;
    for (size_t j = 0; j < count; ++j) finite = finite && std::isfinite(values[j]);
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, finite, false);
    InvalidatePlan();  // the plan holds the values while it is in use
    for (size_t j = 0; j < count; ++j) {
        m_Neurons[j]->m_State = values[j];
        m_States[j] = values[j];
    }
    return true;
}

bool Reservoire::InitBias(double scaling) {
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, std::isfinite(scaling), false);
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, !m_Neurons.empty(), false);
    if (scaling == 0) {
        m_Bias.clear();
        return true;
    }
    Vector bias(m_Neurons.size());
    for (double& value : bias) value = DrawWeight() * scaling;
    m_Bias.swap(bias);
    return true;
}

bool Reservoire::ScaleInputMatrix(double scale) {
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, std::isfinite(scale), false);
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, !m_InputMatrix.empty(), false);
    bool finite = true;
    for (const Vector& row : m_InputMatrix)
        for (double weight : row) finite = finite && std::isfinite(weight * scale);
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, finite, false);  // the scaled weights would overflow
    for (Vector& row : m_InputMatrix)
        for (double& weight : row) weight *= scale;
    return true;
}

std::vector<MatrixEntry> Reservoire::LinkEntries(bool back) const {
    std::unordered_map<const NeuronBase*, uint32_t> positions;
    positions.reserve(m_Neurons.size());
    for (size_t j = 0; j < m_Neurons.size(); ++j)
        positions.emplace(m_Neurons[j].get(), static_cast<uint32_t>(j));
    std::vector<MatrixEntry> entries;
    for (size_t j = 0; j < m_Neurons.size(); ++j) {
        for (const auto& [connector, weight] : back ? m_Neurons[j]->m_OutgoingBack : m_Neurons[j]->m_Outgoing)
            entries.push_back({positions.at(connector->m_Neuron), static_cast<uint32_t>(j), weight});
    }
    return entries;
}

size_t Reservoire::LinkCount(bool back) const {
    size_t count = 0;
    for (const NeuronRef& neuron : m_Neurons)
        count += (back ? neuron->m_OutgoingBack : neuron->m_Outgoing).size();
    return count;
}

SpectralRadiusResult Reservoire::BackLinkRadius() const {
    return SpectralRadius(m_Neurons.size(), LinkEntries(true));
}

bool Reservoire::SetBackLinkRadius(double target) {
    RC_REQUIRE_AS(std::isfinite(target) ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_NUMERIC,
                  std::isfinite(target) && target > 0, false);
    const SpectralRadiusResult spectrum = BackLinkRadius();
    const double radius = spectrum.radius;
    // No back links, or none on a cycle: no factor reaches the target.
    RC_REQUIRE_AS(std::isfinite(radius) ? RCNET_REPORT_CALL_ORDER : RCNET_REPORT_NUMERIC,
                  std::isfinite(radius) && radius > 0, false);
    // An estimate would scale to another radius than the one asked for.
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, spectrum.converged, false);
    const double factor = target / radius;
    bool finite = std::isfinite(factor), normal = true;
    for (const NeuronRef& neuron : m_Neurons) {
        for (const auto& link : neuron->m_OutgoingBack) {
            const double scaled = link.second * factor;
            finite = finite && std::isfinite(scaled);
            normal = normal && (link.second == 0.0 || std::fabs(scaled) >= DBL_MIN);
        }
    }
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, finite, false);  // the scaled weights would overflow
    // Subnormal weights keep too few digits for the radius asked for, and their radius cannot be read.
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, normal, false);
    InvalidatePlan();
    // Each link is in its source's outgoing map and its target's incoming map, with one weight.
    for (const NeuronRef& neuron : m_Neurons) {
        for (auto& link : neuron->m_OutgoingBack) link.second *= factor;
        for (auto& link : neuron->m_IncomingBack) link.second *= factor;
    }
    return true;
}

}  // namespace rcnet
