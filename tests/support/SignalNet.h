// Registered networks built through the exports: small reservoirs of random links, and stored patterns
// of a deterministic signal.
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

// The reservoir of registered network id, drawn after Randomize(seed): `first` bipolar-sigmoid neurons,
// then `second` of secondType, `links` forward and `backLinks` back links, the input matrix for `in`.
inline void AddMixedReservoir(int id, uint32_t seed, int first, int second, int secondType, int links,
                              int backLinks, int in) {
    Randomize(seed);
    AddNeuronsToNet(id, first, 1);
    AddNeuronsToNet(id, second, secondType);
    AddRandomConnectionsToNet(id, links);
    AddRandomBackConnectionsToNet(id, backLinks);
    InitNetInputMatrix(id, in);
}

// One input, one output and a threshold on `neurons` bipolar-sigmoid neurons, every call checked.
inline void BuildSigmoidNet(int id, uint32_t seed, int neurons, int links, int backLinks) {
    ASSERT_EQ(RegisterUsage(id, 1, 1, 1), 1);
    Randomize(seed);
    ASSERT_EQ(AddNeuronsToNet(id, neurons, 1), 1);
    ASSERT_EQ(AddRandomConnectionsToNet(id, links), 1);
    ASSERT_EQ(AddRandomBackConnectionsToNet(id, backLinks), 1);
    ASSERT_EQ(InitNetInputMatrix(id, 1), 1);
}

// Half bipolar-sigmoid neurons, half of secondType; 3 forward and 2 back links per neuron; inputs
// sin(0.3 p + i), targets cos(0.17 p (o + 1)) + shift * o.
inline void BuildSignalNet(int id, int in, int out, bool threshold, int neurons, int patterns, uint32_t seed,
                           int secondType, double shift = 0) {
    ASSERT_EQ(RegisterUsage(id, in, out, threshold), 1);
    AddMixedReservoir(id, seed, neurons / 2, neurons - neurons / 2, secondType, neurons * 3, neurons * 2, in);
    std::vector<double> inputs, outputs;
    for (int p = 0; p < patterns; ++p) {
        for (int i = 0; i < in; ++i) inputs.push_back(std::sin(0.3 * p + i));
        for (int o = 0; o < out; ++o) outputs.push_back(std::cos(0.17 * p * (o + 1)) + shift * o);
    }
    ASSERT_EQ(AddPatternsToNet(id, patterns, in, inputs.data(), out, outputs.data()), 1);
}

}  // namespace rcnet::test
