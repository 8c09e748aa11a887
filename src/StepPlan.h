// A flat, contiguous form of a reservoir's neurons and links for the update step. Walking std::map
// nodes and calling a virtual activation per neuron every step is slow; the plan lists the links in
// exactly the order the map walk adds their terms, so a step over the plan gives the same bits. It is
// derived from the neurons and rebuilt when they or their links change.
//
// While a plan is in use it also holds the neurons' four step values; they are written back to the
// neuron objects before the structure changes or anyone reads the neurons.
#pragma once

#include <cstdint>
#include <vector>

#include "src/Aligned.h"
#include "src/Neurons.h"
#include "src/Types.h"

namespace rcnet {

struct StepPlan {
    // Per neuron position.
    // The step's arrays start on cache lines (src/Aligned.h): its kernels load them a vector at a time.
    std::vector<int32_t> types;
    AlignedVector<double> input;
    // What links carry, side by side so that one index reaches either: Value(input) of neuron j at j
    // (forward links) and its previous state at NeuronCount() + j (back links); then one +0.
    AlignedVector<double> carried;
    AlignedVector<double> state;

    double* InputActivation() { return carried.data(); }
    double* PrevState() { return carried.data() + types.size(); }

    // Outgoing links of neuron j: entries [start[j], start[j + 1]) of target/weight, in map order. The
    // step uses them when it covers fewer neurons than the plan holds.
    std::vector<uint32_t> forwardStart;
    std::vector<uint32_t> forwardTarget;
    Vector forwardWeight;
    std::vector<uint32_t> backStart;
    std::vector<uint32_t> backTarget;
    Vector backWeight;

    // The terms of every neuron's state in slices of kLanes neurons: the map walk adds each neuron's
    // terms to its zeroed state source by source, a source's forward link before its back link, and
    // the slices list them in that order, lane by lane, so that the lanes' sums run side by side. Term
    // i of lane l of slice s is at sliceStart[s] + i * kLanes + l. Neurons are sliced by decreasing
    // number of terms, so that the lanes of a slice have nearly as many; the shorter lanes are padded
    // with +0 * carried[2n] = +0 * +0, which leaves a sum that started at +0 unchanged in every
    // rounding mode. Lanes past the last neuron point at neuron n and are dropped.
    static constexpr size_t kLanes = 16;
    std::vector<uint32_t> sliceStart;
    std::vector<uint32_t> sliceNeuron;
    AlignedVector<uint32_t> sliceSource;  // into carried
    AlignedVector<double> sliceWeight;

    // state[t] = the sum of neuron t's terms, for every neuron (kernels::Active().sumSlice per slice).
    void SumIncoming(double* state) const;

    // Builds the plan and takes over the neurons' values.
    void Build(const std::vector<NeuronRef>& neurons);

    // Writes the values back into the neurons (which must be the ones the plan was built from).
    void StoreValues(const std::vector<NeuronRef>& neurons) const;

    size_t NeuronCount() const { return types.size(); }
};

}  // namespace rcnet
