// Training and propagation written the plain way, straight from their description: the whole list of
// states per output, the map-walking reservoir step, the entry-by-entry solvers. The library's Learn and
// Propagate must give the same bits on a twin network.
#pragma once

#include "src/Net.h"
#include "tests/support/ReferenceSolvers.h"
#include "tests/support/ReservoireTestAccess.h"

namespace rcnet {

struct NetTestAccess {
    static void SetSizes(Net& net, uint32_t in, uint32_t out) {
        net.m_InputSize = in;
        net.m_OutputSize = out;
    }

    static Matrix ReferenceLearn(Net& net) {
        Reservoire& r = net.Reservoir();
        const int n = static_cast<int>(r.NeuronCount());
        Matrix weights;
        for (uint32_t c = 0; c < net.OutputSize(); ++c) {
            std::vector<std::pair<Vector, double>> rows;
            for (size_t p = 0; p < net.PatternCount(); ++p) {
                r.SetInputs(net.StoredInputs()[p]);
                ReservoireTestAccess::ReferenceStep(r);
                rows.emplace_back(r.GetState(), net.StoredOutputs()[p][c]);
            }
            if (net.UseThreshold()) {
                test::ReferenceSolver solver(n);
                for (const auto& [values, target] : rows)
                    if (values.size() == size_t(n)) solver.AddRow(values, target);
                weights.push_back(solver.Solve());
            } else {
                test::ReferenceNoThresholdSolver solver(n);
                for (const auto& [values, target] : rows)
                    if (values.size() == size_t(n)) solver.AddRow(values, target);
                weights.push_back(solver.Solve());
            }
        }
        net.m_OutputWeights = weights;
        return weights;
    }

    static Vector ReferencePropagate(Net& net, const Vector& input) {
        Reservoire& r = net.Reservoir();
        r.SetInputs(input);
        ReservoireTestAccess::ReferenceStep(r);
        const Vector s = r.GetState();
        const size_t n = r.NeuronCount();
        Vector result(net.OutputSize(), 0.0);
        for (uint32_t i = 0; i < net.OutputSize(); ++i) {
            for (size_t j = 0; j < n; ++j) result[i] = s[j] * net.m_OutputWeights[i][j] + result[i];
            if (net.UseThreshold()) result[i] = net.m_OutputWeights[i][n] + result[i];
        }
        return result;
    }
};

}  // namespace rcnet
