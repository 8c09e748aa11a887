// A flat, contiguous form of a reservoir's neurons and links for the update step. Walking std::map
// nodes and calling a virtual activation per neuron every step is slow; the plan lists every neuron's
// links in exactly the order of its link maps, so a step over the plan adds the same terms in the same
// order and gives the same bits. It is derived from the neurons and rebuilt when they or their links
// change.
//
// While a plan is in use it also holds the neurons' four step values; they are written back to the
// neuron objects before the structure changes or anyone reads the neurons.
#pragma once

#include <cstdint>
#include <vector>

#include "common/Neurons.h"
#include "common/Types.h"

namespace rcnet {

struct StepPlan {
    // Per neuron position.
    std::vector<int32_t> types;
    Vector input;
    Vector inputActivation;
    Vector prevState;
    Vector state;

    // Links of neuron j: entries [start[j], start[j + 1]) of target/weight, in map order.
    std::vector<uint32_t> forwardStart;
    std::vector<uint32_t> forwardTarget;
    Vector forwardWeight;
    std::vector<uint32_t> backStart;
    std::vector<uint32_t> backTarget;
    Vector backWeight;

    // Builds the plan and takes over the neurons' values.
    void Build(const std::vector<NeuronRef>& neurons);

    // Writes the values back into the neurons (which must be the ones the plan was built from).
    void StoreValues(const std::vector<NeuronRef>& neurons) const;

    size_t NeuronCount() const { return types.size(); }
};

}  // namespace rcnet
