// Training and propagation of a network.
#include <algorithm>

#include "src/Net.h"
#include "src/Report.h"
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

bool Net::Train(bool jointly) {
    RC_REQUIRE(m_Inputs.size() > 0, false);
    // Loading a network file can change the sizes after patterns were stored.
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        RC_REQUIRE(m_Inputs[p].size() == m_InputSize && m_Outputs[p].size() == m_OutputSize, false);
    }
    RC_REQUIRE(m_Settings.washout < m_Inputs.size(), false);
    Matrix weights;
    if (m_Settings.method == kStableQr) {
        weights = FitStableQr(jointly);
    } else if (m_UseThreshold) {
        weights = FitNormalEquations<Solver>(jointly);
    } else {
        weights = FitNormalEquations<NoThresholdSolver>(jointly);
    }
    m_OutputWeights.swap(weights);
    return true;
}

// The states go to fit chunk by chunk, in pattern order; a solver folds them exactly as if it had them
// all at once.
template <typename Fit>
void Net::Harvest(Fit&& fit) {
    const size_t chunkSize = m_LearnChunk ? m_LearnChunk : DefaultChunk(m_Reservoir.NeuronCount());
    const size_t first = m_Settings.washout;
    std::vector<Vector> chunk;
    chunk.reserve(std::min(chunkSize, m_Inputs.size() - first));  // Train keeps the washout below the count
    for (size_t p = 0; p < m_Inputs.size(); ++p) {
        const VectorList::View input = m_Inputs[p];
        m_Reservoir.SetInputs(input.data(), input.size());
        m_Reservoir.Step();
        if (p < first) continue;
        chunk.push_back(m_Reservoir.GetState());
        if (chunk.size() == chunkSize || p + 1 == m_Inputs.size()) {
            fit(chunk, p + 1 - chunk.size());
            chunk.clear();
        }
    }
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
        std::vector<SolverPattern> rows;
        Harvest([&](std::vector<Vector>& states, size_t first) {
            rows.clear();
            for (size_t i = 0; i < states.size(); ++i) {
                const VectorList::View y = m_Outputs[first + i];
                if (shared && states[i].size() == n) {
                    for (size_t c = 0; c < outputs; ++c) {
                        kernels::AddScaled(sides[c].data(), states[i].data(), y[c], n);
                        if (m_UseThreshold) sides[c][n] = sides[c][n] + y[c];
                    }
                }
                rows.push_back({std::move(states[i]), y[pass]});
            }
            solver.AddRows(rows);
        });
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
        Harvest([&](std::vector<Vector>& states, size_t first) {
            for (size_t i = 0; i < states.size(); ++i) {
                // Like the other solvers: a state that does not cover every neuron is not fitted.
                if (states[i].size() != n) continue;
                const VectorList::View y = m_Outputs[first + i];
                solver.AddRow(states[i].data(), jointly ? y.data() : &y[pass]);
            }
        });
        Matrix fitted = solver.Solve(m_Settings.ridge);
        if (jointly) {
            weights.swap(fitted);
        } else {
            weights[pass].swap(fitted[0]);
        }
    }
    return weights;
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
    // The step comes first whatever the readout: every call advances the state, also one that fails.
    m_Reservoir.SetInputs(input);
    m_Reservoir.Step();
    if (!ReadoutFits()) return nullptr;
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
