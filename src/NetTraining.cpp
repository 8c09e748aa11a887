// Training and propagation of a network.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "src/Aligned.h"
#include "src/Net.h"
#include "src/Report.h"
#include "src/RidgeChoice.h"
#include "src/Sizes.h"
#include "src/Solver/QrSolver.h"
#include "src/Solver/Solver.h"
#include "src/kernels/SolverKernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Net";

// States harvested per chunk when no size is forced: about 4 MiB of them.
size_t DefaultChunk(size_t neurons) {
    return std::max<size_t>(16, (size_t{1} << 19) / std::max<size_t>(1, neurons));
}
}  // namespace

bool Net::Learn() {
    return Train(false);
}

bool Net::LearnJointly() {
    return Train(true);
}

bool Net::TrainingDataFits() const {
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_Inputs.size() > 0, false);
    // Loading a network file can change the sizes after patterns were stored.
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        RC_REQUIRE_AS(RCNET_REPORT_SIZE,
                      m_Inputs[p].size() == m_InputSize && m_Outputs[p].size() == m_OutputSize, false);
    }
    if (m_SequenceStarts.empty()) {
        RC_REQUIRE(m_Settings.washout < m_Inputs.size(), false);
    } else {
        // Some sequence must be longer than its washout.
        size_t longest = m_SequenceStarts.front();  // the patterns before the first mark
        for (size_t k = 0; k < m_SequenceStarts.size(); ++k) {
            const size_t end = k + 1 < m_SequenceStarts.size() ? m_SequenceStarts[k + 1] : m_Inputs.size();
            longest = std::max(longest, end - m_SequenceStarts[k]);
        }
        RC_REQUIRE(m_Settings.washout < longest, false);
    }
    return true;
}

bool Net::Train(bool jointly) {
    if (!TrainingDataFits()) return false;
    Matrix weights;
    if (m_Settings.method == kStableQr) {
        weights = FitStableQr(jointly);
    } else if (m_UseThreshold) {
        weights = FitNormalEquations<Solver>(jointly);
    } else {
        weights = FitNormalEquations<NoThresholdSolver>(jointly);
    }
    m_OutputWeights.swap(weights);
    m_Result.clear();  // the old readout's output: no closed loop may start from it
    ReportUnusableReadouts();
    ReportProgress(1.0);
    return true;
}

void Net::ReportUnusableReadouts() const {
    int dataFinite = -1;  // looked at only when some readout is unusable
    const auto trainingValuesFinite = [&] {
        if (dataFinite < 0) {
            dataFinite = 1;
            for (size_t p = 0; p < m_Inputs.size() && dataFinite; ++p) {
                for (double v : m_Inputs[p]) dataFinite = dataFinite && std::isfinite(v);
                for (double v : m_Outputs[p]) dataFinite = dataFinite && std::isfinite(v);
            }
        }
        return dataFinite == 1;
    };
    for (uint32_t o = 0; o < m_OutputSize && o < m_OutputWeights.size(); ++o) {
        const Vector& w = m_OutputWeights[o];
        bool finite = true, zero = true;
        for (double v : w) {
            finite = finite && std::isfinite(v);
            zero = zero && v == 0.0;
        }
        if (finite && (!zero || w.empty())) continue;
        if (finite) {
            bool targetsZero = true;
            for (size_t p = 0; p < m_Outputs.size() && targetsZero; ++p) targetsZero = m_Outputs[p][o] == 0.0;
            if (targetsZero) continue;  // then 0 is the fit
        }
        // Neurons added after the input matrix have no state: no step was fitted at all.
        const bool stateless = m_Reservoir.InputSums().size() != m_Reservoir.NeuronCount();
        const char* cause = !trainingValuesFinite() ? "a training value is NaN or infinite"
                            : finite && stateless
                                ? "no state for every neuron: call InitNetInputMatrix after the last "
                                  "AddNeuronsToNet"
                            : finite ? "the states did not fit the targets: the stable readout, "
                                       "SetNetReadoutSolver(id, 1), a ridge, SetNetRegularization, or larger "
                                       "inputs avoid it"
                                     : "the fit overflowed: a ridge, SetNetRegularization, avoids it";
        char text[320];
        std::snprintf(text, sizeof text,
                      finite ? "readout of output %u not all zero (%s)" : "readout of output %u finite (%s)",
                      static_cast<unsigned>(o), cause);
        ReportFailure(text, kReportSource, __LINE__, RCNET_REPORT_NUMERIC);
    }
}

// The states go to fit chunk by chunk, in pattern order; a solver folds them exactly as if it had them
// all at once. A chunk holds consecutive patterns only: with marked sequences, each sequence's washout
// ends the chunk before it.
template <typename Fit>
void Net::Harvest(Fit&& fit, size_t pass, size_t passes, size_t chunk) {
    const size_t chunkSize = m_LearnChunk ? m_LearnChunk
                             : chunk      ? chunk
                                          : DefaultChunk(m_Reservoir.NeuronCount());
    const size_t size = m_Reservoir.States().size(), stride = CacheLineStride(size);
    // One block for the whole harvest, rows on cache lines: the fold packs them vector by vector.
    AlignedVector<double> states(SizeProduct(std::min(chunkSize, m_Inputs.size()), stride));
    size_t count = 0, chunkFirst = 0, sequenceFirst = 0, nextMark = 0;
    const auto flush = [&] {
        if (count == 0) return;
        const size_t end = chunkFirst + count;
        fit(StateChunk{states.data(), size, stride, count, chunkFirst});
        count = 0;
        // Of all passes' patterns; the solve after the last pass is the rest.
        ReportProgress((double(pass) + double(end) / double(m_Inputs.size())) / double(passes) * 0.99);
    };
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        if (StartsSequence(p, nextMark)) {
            m_Reservoir.ResetState();
            sequenceFirst = p;
        }
        const VectorList::View input = m_Inputs[p];
        m_Reservoir.SetInputs(input.data(), input.size());
        m_Reservoir.Step();
        if (p - sequenceFirst < m_Settings.washout) continue;
        if (count > 0 && chunkFirst + count != p) flush();
        if (count == 0) chunkFirst = p;
        kernels::Active().copy(states.data() + count * stride, m_Reservoir.States().data(), size);
        if (++count == chunkSize) flush();
    }
    flush();
}

bool Net::StartsSequence(size_t p, size_t& next) const {
    if (m_SequenceStarts.empty()) return false;
    if (p == 0) return true;  // marked stores run every sequence from zero, the first one too
    while (next < m_SequenceStarts.size() && m_SequenceStarts[next] < p) ++next;
    return next < m_SequenceStarts.size() && m_SequenceStarts[next] == p;
}

// One pass per output (or one for all, jointly), each continuing the reservoir's state. Jointly, the
// pass folds the states once; every output then solves the same folded matrix with its own right-hand
// side, summed in the order the solver sums its own.
template <typename SolverType>
Matrix Net::FitNormalEquations(bool jointly) {
    const size_t n = m_Reservoir.NeuronCount();
    const size_t length = m_UseThreshold ? n + 1 : n;
    const size_t outputs = m_OutputSize;
    Matrix weights(outputs, Vector(length, 0.0));
    const size_t passes = outputs == 0 ? 0 : jointly ? 1 : outputs;
    const bool shared = jointly && outputs > 1;
    for (size_t pass = 0; pass < passes; ++pass) {
        SolverType solver(static_cast<int32_t>(n));
        Matrix sides(shared ? outputs : 0, Vector(length, 0.0));
        std::vector<PatternView> rows;
        Harvest(
            [&](const StateChunk& chunk) {
                // States that do not cover every neuron are not fitted.
                if (chunk.size != n) return;
                rows.resize(chunk.count);
                for (size_t i = 0; i < chunk.count; ++i) {
                    const VectorList::View y = m_Outputs[chunk.first + i];
                    if (shared) {
                        for (size_t c = 0; c < outputs; ++c) {
                            kernels::AddScaled(sides[c].data(), chunk.Row(i), y[c], n);
                            if (m_UseThreshold) sides[c][n] = sides[c][n] + y[c];
                        }
                    }
                    rows[i] = {chunk.Row(i), y[pass]};
                }
                solver.AddRows(rows);
            },
            // A chunk per fold batch: the fold of one runs beside the harvest of the next.
            pass, passes, solver.BatchRows());
        if (!shared) {
            solver.AddToDiagonal(n, m_Settings.ridge);
            weights[pass] = solver.Solve();
            continue;
        }
        const RowMatrix folded = solver.GetMatrix();
        for (size_t c = 0; c < outputs; ++c) {
            solver.SetMatrix(folded);
            solver.SetRightHandSide(sides[c]);
            solver.AddToDiagonal(n, m_Settings.ridge);
            weights[c] = solver.Solve();
        }
    }
    return weights;
}

Matrix Net::FitStableQr(bool jointly) {
    const size_t n = m_Reservoir.NeuronCount();
    const size_t outputs = m_OutputSize;
    Matrix weights(outputs, Vector(m_UseThreshold ? n + 1 : n, 0.0));
    const size_t passes = outputs == 0 ? 0 : jointly ? 1 : outputs;
    for (size_t pass = 0; pass < passes; ++pass) {
        QrSolver solver(n, m_UseThreshold, jointly ? outputs : 1);
        Harvest(
            [&](const StateChunk& chunk) {
                // Like the other solvers: states that do not cover every neuron are not fitted.
                if (chunk.size != n) return;
                for (size_t i = 0; i < chunk.count; ++i) {
                    const VectorList::View y = m_Outputs[chunk.first + i];
                    solver.AddRow(chunk.Row(i), jointly ? y.data() : &y[pass]);
                }
            },
            pass, passes);
        Matrix fitted = solver.Solve(m_Settings.ridge);
        if (jointly) {
            weights.swap(fitted);
        } else {
            weights[pass].swap(fitted[0]);
        }
    }
    return weights;
}

bool Net::ChooseRidge(double& chosen) {
    if (!TrainingDataFits()) return false;
    const size_t n = m_Reservoir.NeuronCount();
    // The states training would fit, harvested as it harvests them; the state it finds is put back, so
    // that training afterwards gives the same bits as without the choice. No progress: this is not the
    // training.
    const Vector before = m_Reservoir.GetState();
    std::function<void(double)> progress;
    progress.swap(m_Progress);
    std::vector<SolverPattern> states;
    Matrix targets;
    bool trainingValuesFinite = true;
    try {
        Harvest(
            [&](const StateChunk& chunk) {
                if (chunk.size != n) return;
                for (size_t i = 0; i < chunk.count; ++i) {
                    const double* state = chunk.Row(i);
                    const VectorList::View y = m_Outputs[chunk.first + i];
                    for (size_t j = 0; j < n; ++j)
                        trainingValuesFinite = trainingValuesFinite && std::isfinite(state[j]);
                    for (double v : y) trainingValuesFinite = trainingValuesFinite && std::isfinite(v);
                    states.push_back({Vector(state, state + n), 0.0});
                    targets.emplace_back(y.begin(), y.end());
                }
            },
            0, 1);
    } catch (...) {
        m_Progress.swap(progress);
        throw;
    }
    m_Progress.swap(progress);
    if (before.size() == n &&
        std::all_of(before.begin(), before.end(), [](double v) { return std::isfinite(v); }))
        m_Reservoir.SetState(before.data(), n);
    m_Result.clear();
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, trainingValuesFinite, false);
    chosen = rcnet::ChooseRidge(states, targets).ridge;
    m_Settings.ridge = chosen;
    return true;
}

bool Net::TrainOnline(size_t count, const double* inputs, const double* targets) {
    const size_t n = m_Reservoir.NeuronCount();
    // The update reads one state per neuron: neurons added after the input matrix have none.
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_Reservoir.States().size() == n, false);
    const size_t length = m_UseThreshold ? n + 1 : n;
    bool fits = m_OutputWeights.size() == m_OutputSize;
    for (const Vector& row : m_OutputWeights) fits = fits && row.size() == length;
    // Anything that changed the readout since (training, a load, new neurons) starts the least squares
    // afresh from it.
    if (!m_Online || m_Online->Neurons() != n || m_Online->Threshold() != m_UseThreshold ||
        m_Online->Outputs() != m_OutputSize || m_Online->Weights() != m_OutputWeights) {
        const double start = m_Settings.ridge > 0 ? m_Settings.ridge : 1e-2;
        auto online = std::make_unique<OnlineReadout>(n, m_UseThreshold, m_OutputSize, m_Forgetting, start);
        if (fits) online->Start(m_OutputWeights);
        m_Online = std::move(online);
    }
    bool accepted = true;
    for (size_t t = 0; t < count; ++t) {
        m_Reservoir.SetInputs(inputs + t * m_InputSize, m_InputSize);
        m_Reservoir.Step();
        accepted = m_Online->Update(m_Reservoir.States().data(), targets + t * m_OutputSize) && accepted;
    }
    m_OutputWeights = m_Online->Weights();
    if (count > 0) m_Result.clear();  // as after training
    return accepted;
}

bool Net::ReadoutFits() const {
    const size_t neurons = m_Reservoir.NeuronCount();
    const size_t needed = m_UseThreshold ? neurons + 1 : neurons;
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_OutputWeights.size() >= m_OutputSize, false);
    for (uint32_t i = 0; i < m_OutputSize; ++i)
        RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_OutputWeights[i].size() >= needed, false);
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_Reservoir.States().size() >= neurons, false);
    return true;
}

void Net::ReadOut(double* out) const {
    const Vector& s = m_Reservoir.States();
    const size_t n = m_Reservoir.NeuronCount();
    for (uint32_t i = 0; i < m_OutputSize; ++i) {
        const double* w = m_OutputWeights[i].data();
        double sum = 0.0;
        for (size_t j = 0; j < n; ++j) sum = s[j] * w[j] + sum;
        if (m_UseThreshold) sum = w[n] + sum;
        out[i] = sum;
    }
}

const Vector* Net::Propagate(const Vector& input) {
    RC_CHECK_AS(RCNET_REPORT_SIZE, input.size() == m_InputSize);
    // The step comes first whatever the readout: every call advances the state, also one that fails.
    m_Reservoir.SetInputs(input);
    m_Reservoir.Step();
    if (!ReadoutFits()) {
        m_Result.clear();  // no output: nothing for a closed loop to go on from
        return nullptr;
    }
    Vector result(m_OutputSize, 0.0);
    ReadOut(result.data());
    m_Result.swap(result);
    return &m_Result;
}

bool Net::RunSequence(size_t count, const double* inputs, double* outputs) {
    // Known inputs: every step is taken, also when there is no readout to read them out with.
    return StepAndReadOut(count, outputs, true, [&](size_t t) { return inputs + t * m_InputSize; });
}

bool Net::Generate(size_t count, double* outputs) {
    RC_REQUIRE_AS(RCNET_REPORT_SIZE, m_InputSize == m_OutputSize && m_OutputSize > 0, false);
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_Result.size() == m_OutputSize,
                  false);  // a last output to start from
    // m_Result is rewritten only after the last step.
    return StepAndReadOut(count, outputs, false, [&](size_t t) {
        return t == 0 ? m_Result.data() : outputs + (t - 1) * m_OutputSize;
    });
}

// Whether every value of inputs that a mapped closed loop reads is finite: all of an unmapped input's,
// a mapped input's only in the steps before its delay reaches into the loop.
static bool HostValuesFinite(size_t count, size_t inputSize, const std::vector<Net::FeedbackTap>& taps,
                             const double* inputs) {
    std::vector<size_t> hostSteps(inputSize, count);
    for (const Net::FeedbackTap& tap : taps) hostSteps[tap.input] = std::min(tap.delay, count);
    for (size_t i = 0; i < inputSize; ++i)
        for (size_t t = 0; t < hostSteps[i]; ++t)
            if (!std::isfinite(inputs[t * inputSize + i])) return false;
    return true;
}

bool Net::GenerateMapped(size_t count, const std::vector<FeedbackTap>& taps, const double* inputs,
                         double* outputs) {
    std::vector<bool> mapped(m_InputSize, false);
    for (const FeedbackTap& tap : taps) {
        RC_REQUIRE(tap.input < m_InputSize && tap.output < m_OutputSize && tap.delay >= 1, false);
        RC_REQUIRE(!mapped[tap.input], false);  // one source per input
        mapped[tap.input] = true;
    }
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, HostValuesFinite(count, m_InputSize, taps, inputs), false);
    if (count > 0 && !ReadoutFits()) return false;  // reported; checked before any step is taken
    Vector row(m_InputSize);
    // Outputs are read back from the caller's array: it is the tap delay line.
    return StepAndReadOut(count, outputs, false, [&](size_t t) {
        const double* given = inputs + t * m_InputSize;
        std::copy(given, given + m_InputSize, row.begin());
        for (const FeedbackTap& tap : taps)
            if (t >= tap.delay) row[tap.input] = outputs[(t - tap.delay) * m_OutputSize + tap.output];
        return row.data();
    });
}

bool Net::RunStates(size_t count, const double* inputs, double* states) {
    const size_t n = m_Reservoir.NeuronCount();
    RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, m_Reservoir.States().size() == n, false);
    if (count > 0) m_Result.clear();  // it belongs to the state before these steps
    for (size_t t = 0; t < count; ++t) {
        m_Reservoir.SetInputs(inputs + t * m_InputSize, m_InputSize);
        m_Reservoir.Step();
        const Vector& s = m_Reservoir.States();
        std::copy(s.begin(), s.end(), states + t * n);
    }
    return true;
}

bool Net::SetState(const double* values, size_t count) {
    if (!m_Reservoir.SetState(values, count)) return false;
    m_Result.clear();
    return true;
}

template <typename InputAt>
bool Net::StepAndReadOut(size_t count, double* outputs, bool stepWithoutReadout, InputAt&& inputAt) {
    if (count == 0) return true;
    // Whether the readout fits does not change while the network only steps: checked (and reported)
    // once, after the first step, as Propagate would.
    m_Reservoir.SetInputs(inputAt(0), m_InputSize);
    m_Reservoir.Step();
    if (!ReadoutFits()) {
        for (size_t t = 1; stepWithoutReadout && t < count; ++t) {
            m_Reservoir.SetInputs(inputAt(t), m_InputSize);
            m_Reservoir.Step();
        }
        m_Result.clear();
        return false;
    }
    ReadOut(outputs);
    for (size_t t = 1; t < count; ++t) {
        m_Reservoir.SetInputs(inputAt(t), m_InputSize);
        m_Reservoir.Step();
        ReadOut(outputs + t * m_OutputSize);
        if (t % kProgressSteps == 0) ReportProgress(double(t) / double(count));
    }
    m_Result.assign(outputs + (count - 1) * m_OutputSize, outputs + count * m_OutputSize);
    if (count > kProgressSteps) ReportProgress(1.0);
    return true;
}

}  // namespace rcnet
