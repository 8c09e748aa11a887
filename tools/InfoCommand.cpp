// rcnet info: what a network file holds, as the library loads it.
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "tools/Commands.h"
#include "tools/EigenvalueRadius.h"
#include "tools/LibraryNet.h"

namespace rcnet::tools {
namespace {

std::string Shape(const Matrix& matrix) {
    const size_t columns = matrix.empty() ? 0 : matrix[0].size();
    return std::to_string(matrix.size()) + " x " + std::to_string(columns);
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    RegisteredNet registered(0, 0, false);
    if (!LoadNetwork(options.netFile, registered, "info")) return kExitFailure;
    const std::shared_ptr<Net> net = registered.Get();
    const Reservoire& reservoir = net->Reservoir();
    const std::vector<NeuronRef>& neurons = reservoir.Neurons();

    size_t byType[4] = {0, 0, 0, 0};
    std::unordered_map<const NeuronBase*, uint32_t> position;
    for (size_t i = 0; i < neurons.size(); ++i) {
        const int32_t type = neurons[i]->GetType();
        if (type >= 0 && type <= 3) ++byType[type];
        position.emplace(neurons[i].get(), static_cast<uint32_t>(i));
    }
    // W[target][source] = weight, neurons numbered by their place in the reservoir.
    std::vector<MatrixEntry> forward;
    size_t backLinks = 0;
    for (size_t s = 0; s < neurons.size(); ++s) {
        for (const auto& [connector, weight] : neurons[s]->m_Outgoing)
            forward.push_back({position.at(connector->m_Neuron), static_cast<uint32_t>(s), weight});
        backLinks += neurons[s]->m_OutgoingBack.size();
    }
    const SpectralResult spectral = SpectralRadius(neurons.size(), forward);

    std::printf("file: %s\n", options.netFile.c_str());
    std::printf("inputs: %u\n", net->InputSize());
    std::printf("outputs: %u\n", net->OutputSize());
    std::printf("threshold: %s\n", net->UseThreshold() ? "on" : "off");
    std::printf("neurons: %zu\n", neurons.size());
    std::printf("  sigmoid: %zu\n  bisigmoid: %zu\n  rsdn: %zu\n  linear: %zu\n", byType[0], byType[1],
                byType[2], byType[3]);
    std::printf("forward links: %zu\n", forward.size());
    std::printf("back links: %zu\n", backLinks);
    std::printf("input matrix: %s\n", Shape(reservoir.InputMatrix()).c_str());
    std::printf("readout: %s%s\n", Shape(net->OutputWeights()).c_str(),
                net->OutputWeights().empty() ? " (not trained)" : "");
    const char* method = spectral.usedArnoldi ? "Arnoldi" : "Hessenberg QR";
    if (forward.empty()) {
        std::printf("spectral radius: 0 (no forward links)\n");
    } else if (spectral.converged) {
        std::printf("spectral radius: %.6g (forward links; %s, largest strongly connected block %zu)\n",
                    spectral.radius, method, spectral.largestBlock);
    } else {
        std::printf("spectral radius: %.6g (forward links; estimate, %s did not converge; at most %.6g)\n",
                    spectral.radius, method, spectral.upperBound);
    }
    return kExitOk;
}

}  // namespace rcnet::tools
