// How training fits a network's readout. The settings belong to the running network: network files
// never hold them, and loading a file keeps them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rcnet {

enum ReadoutMethod : int32_t {
    kNormalEquations = 0,  // fold into normal equations, Gauss-Jordan: the default
    kStableQr = 1,         // streamed Householder QR of the states, minimum-norm solve
};

struct ReadoutSettings {
    int32_t method = kNormalEquations;
    double ridge = 0.0;  // added to the weights' diagonal; never to the threshold
    size_t washout = 0;  // patterns at the start of every pass that step the reservoir but are not fitted
};

}  // namespace rcnet
