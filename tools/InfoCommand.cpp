// rcnet info: what a network file holds, as the library loads it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "include/rcnet_inspect.h"
#include "tools/Commands.h"
#include "tools/LibraryNet.h"
#include "tools/Precision.h"

namespace rcnet::tools {
namespace {

std::string Shape(const std::vector<std::vector<double>>& matrix) {
    return std::to_string(matrix.size()) + " x " + std::to_string(matrix.empty() ? 0 : matrix[0].size());
}

// "LABEL: R (WHAT; method, largest strongly connected block B)", or why it is an estimate.
void PrintRadius(const char* label, const inspect::Network& net, inspect::LinkKind kind, const char* what) {
    const bool back = kind == inspect::LinkKind::Back;
    if ((back ? net.back : net.forward).empty()) {
        std::printf("%s: 0 (no %s links)\n", label, back ? "back" : "forward");
        return;
    }
    const inspect::Radius radius = inspect::LinkRadius(net, kind);
    const char* method = radius.iterative ? "Arnoldi" : "dense QR";
    if (radius.largestBlock < 2) {
        // Only self links can close a cycle then; without any the radius is 0.
        std::printf("%s: %.6g (%s; %s)\n", label, radius.value, what,
                    radius.value != 0 ? "no cycle but self links" : "no cycle");
    } else if (radius.converged) {
        std::printf("%s: %.6g (%s; %s, largest strongly connected block %zu)\n", label, radius.value, what,
                    method, radius.largestBlock);
    } else {
        std::printf("%s: %.6g (%s; estimate, %s did not converge; at most %.6g)\n", label, radius.value, what,
                    method, radius.upperBound);
    }
}

// The shortest "%g" text that reads back as value.
std::string Shortest(double value) {
    char text[40];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    RegisteredNet registered(0, 0, false);
    if (!LoadNetwork(options.netFile, registered, "info")) return kExitFailure;
    inspect::Network net;
    if (!inspect::GetNetwork(registered.Id(), net)) return kExitFailure;

    size_t byType[4] = {0, 0, 0, 0};
    for (const inspect::Neuron& neuron : net.neurons)
        if (neuron.type >= 0 && neuron.type <= 3) ++byType[neuron.type];
    std::printf("file: %s\n", options.netFile.c_str());
    std::printf("inputs: %u\n", net.inputs);
    std::printf("outputs: %u\n", net.outputs);
    std::printf("threshold: %s\n", net.threshold ? "on" : "off");
    std::printf("neurons: %zu\n", net.neurons.size());
    std::printf("  sigmoid: %zu\n  bisigmoid: %zu\n  rsdn: %zu\n  linear: %zu\n", byType[0], byType[1],
                byType[2], byType[3]);
    std::printf("forward links: %zu\n", net.forward.size());
    std::printf("back links: %zu\n", net.back.size());
    std::printf("input matrix: %s\n", Shape(net.inputMatrix).c_str());
    std::printf("readout: %s%s\n", Shape(net.readout).c_str(), net.readout.empty() ? " (not trained)" : "");
    if (!net.readout.empty()) {
        const int digits = ReadoutDigits(net.readout);
        // 17 digits tell every double apart; a file with fewer may have been written short.
        std::printf("readout digits: %d%s\n", digits, digits >= 17 ? " (exact)" : "");
        const std::string warning = ReadoutPrecisionWarning(net.readout);
        if (!warning.empty()) std::fprintf(stderr, "rcnet info: warning: %s\n", warning.c_str());
    }
    // The state carried from step to step passes through the back links; forward links act within a step.
    PrintRadius("spectral radius", net, inspect::LinkKind::Back, "back links, the step-to-step map");
    PrintRadius("forward-link radius", net, inspect::LinkKind::Forward, "forward links, within a step");
    if (net.leakRate == 1.0) {
        std::printf("leak rate: 1 (plain step)\n");
    } else {
        std::printf("leak rate: %s (each state keeps %.6g of the previous one)\n",
                    Shortest(net.leakRate).c_str(), 1.0 - net.leakRate);
    }
    if (net.bias.empty()) {
        std::printf("bias: none\n");
    } else {
        double largest = 0;
        for (double value : net.bias) largest = std::max(largest, std::fabs(value));
        std::printf("bias: %zu values, largest magnitude %s\n", net.bias.size(), Shortest(largest).c_str());
    }
    return kExitOk;
}

}  // namespace rcnet::tools
