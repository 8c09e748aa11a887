// Training and propagation written the plain way, straight from their description: the whole list of
// states per output, the map-walking reservoir step, the entry-by-entry solvers. The library's Learn and
// Propagate must give the same bits on a twin network.
#pragma once

#include "src/Net.h"
#include "tests/support/Internals.h"
#include "tests/support/ReferenceSolvers.h"
#include "tests/support/ReservoireTestAccess.h"

namespace rcnet {

struct NetTestAccess {
    static void SetSizes(Net& net, uint32_t in, uint32_t out) {
        net.*MemberOf(test::NetInputSizeTag{}) = in;
        net.*MemberOf(test::NetOutputSizeTag{}) = out;
    }

    static Matrix ReferenceLearn(Net& net) {
        Reservoire& r = net.Reservoir();
        const int n = static_cast<int>(r.NeuronCount());
        Matrix weights;
        for (uint32_t c = 0; c < net.OutputSize(); ++c) {
            std::vector<std::pair<Vector, double>> rows;
            for (size_t p = 0; p < net.PatternCount(); ++p) {
                r.SetInputs(test::StoredInputs(net)[p].ToVector());
                ReservoireTestAccess::ReferenceStep(r);
                rows.emplace_back(r.GetState(), test::StoredOutputs(net)[p][c]);
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
        (net.*MemberOf(test::NetOutputWeightsTag{})) = weights;
        return weights;
    }

    // The plain form of training with a washout, a ridge and, jointly, one pass for all outputs: the
    // states of each pass listed whole, a fresh plain solver per output with the ridge added to the
    // folded diagonal. Method 0 only.
    static Matrix ReferenceLearnWith(Net& net, size_t washout, double ridge, bool jointly) {
        const uint32_t outputs = net.OutputSize();
        Matrix weights(outputs);
        std::vector<Vector> states;
        for (uint32_t c = 0; c < outputs; ++c) {
            if (!jointly || c == 0) states = ReferenceStates(net, washout);
            weights[c] =
                net.UseThreshold()
                    ? ReferenceSolve<test::ReferenceSolver>(net, states, washout, c, ridge)
                    : ReferenceSolve<test::ReferenceNoThresholdSolver>(net, states, washout, c, ridge);
        }
        (net.*MemberOf(test::NetOutputWeightsTag{})) = weights;
        return weights;
    }

    // Steps through every stored pattern; the states after the washout.
    static std::vector<Vector> ReferenceStates(Net& net, size_t washout) {
        Reservoire& r = net.Reservoir();
        std::vector<Vector> states;
        for (size_t p = 0; p < net.PatternCount(); ++p) {
            r.SetInputs(test::StoredInputs(net)[p].ToVector());
            ReservoireTestAccess::ReferenceStep(r);
            if (p >= washout) states.push_back(r.GetState());
        }
        return states;
    }

    template <typename PlainSolver>
    static Vector ReferenceSolve(const Net& net, const std::vector<Vector>& states, size_t washout,
                                 uint32_t c, double ridge) {
        const int n = static_cast<int>(net.Reservoir().NeuronCount());
        PlainSolver solver(n);
        for (size_t i = 0; i < states.size(); ++i)
            if (states[i].size() == size_t(n))
                solver.AddRow(states[i], test::StoredOutputs(net)[washout + i][c]);
        if (ridge != 0)
            for (int j = 0; j < n; ++j) solver.m[j][j] += ridge;
        return solver.Solve();
    }

    static Vector ReferencePropagate(Net& net, const Vector& input) {
        Reservoire& r = net.Reservoir();
        r.SetInputs(input);
        ReservoireTestAccess::ReferenceStep(r);
        const Vector s = r.GetState();
        const size_t n = r.NeuronCount();
        Vector result(net.OutputSize(), 0.0);
        for (uint32_t i = 0; i < net.OutputSize(); ++i) {
            for (size_t j = 0; j < n; ++j)
                result[i] = s[j] * (net.*MemberOf(test::NetOutputWeightsTag{}))[i][j] + result[i];
            if (net.UseThreshold())
                result[i] = (net.*MemberOf(test::NetOutputWeightsTag{}))[i][n] + result[i];
        }
        return result;
    }
};

}  // namespace rcnet
