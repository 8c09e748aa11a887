// One training row for a readout solver: a reservoir state and the wanted value of one output.
#pragma once

#include "src/Types.h"

namespace rcnet {

struct SolverPattern {
    Vector values;  // one state per reservoir neuron, in neuron order
    double target = 0.0;
};

// A training row read in place: as many values as the solver takes.
struct PatternView {
    const double* values;
    double target;
};

}  // namespace rcnet
