// Registered networks with a small mixed reservoir and stored patterns of a deterministic signal, built
// through the exports, for the training tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "include/rcnet.h"
#include "src/NetManager.h"

namespace rcnet::test {

inline Net& NetOf(int id) {
    return *NetManager::Instance().GetNet(id);
}

// Half bipolar-sigmoid neurons, half of secondType; 3 forward and 2 back links per neuron; inputs
// sin(0.3 p + i), targets cos(0.17 p (o + 1)) + shift * o.
inline void BuildSignalNet(int id, int in, int out, bool threshold, int neurons, int patterns, uint32_t seed,
                           int secondType, double shift = 0) {
    ASSERT_EQ(RegisterUsage(id, in, out, threshold), 1);
    Randomize(seed);
    AddNeuronsToNet(id, neurons / 2, 1);
    AddNeuronsToNet(id, neurons - neurons / 2, secondType);
    AddRandomConnectionsToNet(id, neurons * 3);
    AddRandomBackConnectionsToNet(id, neurons * 2);
    InitNetInputMatrix(id, in);
    std::vector<double> inputs, outputs;
    for (int p = 0; p < patterns; ++p) {
        for (int i = 0; i < in; ++i) inputs.push_back(std::sin(0.3 * p + i));
        for (int o = 0; o < out; ++o) outputs.push_back(std::cos(0.17 * p * (o + 1)) + shift * o);
    }
    ASSERT_EQ(AddPatternsToNet(id, patterns, in, inputs.data(), out, outputs.data()), 1);
}

}  // namespace rcnet::test
