// A reservoir's back links as a dense matrix W[target][source] (neurons by position), and its spectral
// radius from a dense eigenvalue solve of the whole matrix: the plain computation the radius export's
// block split and Arnoldi iteration must agree with.
#pragma once

#include <algorithm>
#include <complex>
#include <limits>
#include <map>
#include <vector>

#include "src/EigenvalueRadius.h"
#include "src/Reservoire.h"

namespace rcnet::test {

inline std::vector<double> DenseBackLinks(const Reservoire& r) {
    const auto& neurons = r.Neurons();
    const size_t n = neurons.size();
    std::map<const NeuronBase*, size_t> place;
    for (size_t j = 0; j < n; ++j) place[neurons[j].get()] = j;
    std::vector<double> dense(n * n, 0.0);
    for (size_t s = 0; s < n; ++s)
        for (const auto& [connector, weight] : neurons[s]->m_OutgoingBack)
            dense[place.at(connector->m_Neuron) * n + s] = weight;
    return dense;
}

// NaN when the QR iteration does not converge.
inline double DenseBackLinkRadius(const Reservoire& r) {
    std::vector<std::complex<double>> values;
    if (!DenseEigenvalues(DenseBackLinks(r), r.NeuronCount(), values))
        return std::numeric_limits<double>::quiet_NaN();
    double radius = 0;
    for (const auto& v : values) radius = std::max(radius, std::abs(v));
    return radius;
}

}  // namespace rcnet::test
