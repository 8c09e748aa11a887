// rcnet predict: runs a pattern file's inputs through a network, in file order, and writes the outputs
// as CSV.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "tools/Commands.h"
#include "tools/LibraryNet.h"

namespace rcnet::tools {
namespace {

// The shortest text that reads back as the same double, free of the locale.
void AppendNumber(std::string& line, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    line.append(buffer, result.ptr);
}

void AppendHeader(std::string& line, const char* name, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!line.empty()) line += ',';
        line += name + std::to_string(i);
    }
}

}  // namespace

int RunPredict(const PredictOptions& options) {
    RegisteredNet registered(0, 0, false);
    inspect::Network net;
    if (!LoadNetwork(options.netFile, registered, "predict") || !inspect::GetNetwork(registered.Id(), net))
        return kExitFailure;
    const uint32_t inSize = net.inputs, outSize = net.outputs;

    const inspect::PatternFileCheck patterns = inspect::CheckPatternFile(options.patternFile);
    if (!patterns.accepted) {
        PrintRefusal("predict", options.patternFile, patterns);
        return kExitFailure;
    }
    if (patterns.inputSize != inSize) {
        std::fprintf(stderr, "rcnet predict: %s has %u inputs per pattern, the network %u\n",
                     options.patternFile.c_str(), patterns.inputSize, inSize);
        return kExitFailure;
    }
    if (options.targets && patterns.outputSize != outSize) {
        std::fprintf(stderr, "rcnet predict: %s has %u targets per pattern, the network %u outputs\n",
                     options.patternFile.c_str(), patterns.outputSize, outSize);
        return kExitFailure;
    }

    if (static_cast<size_t>(options.washout) > patterns.inputs.size()) {
        std::fprintf(stderr, "rcnet predict: --washout %d is more than the %zu patterns of %s\n",
                     options.washout, patterns.inputs.size(), options.patternFile.c_str());
        return kExitUsage;
    }
    if (options.generate > 0 && inSize != outSize) {
        std::fprintf(stderr, "rcnet predict: --generate needs as many inputs as outputs (%s has %u and %u)\n",
                     options.netFile.c_str(), inSize, outSize);
        return kExitUsage;
    }
    if (options.generate > 0 && patterns.inputs.empty()) {
        std::fprintf(stderr,
                     "rcnet predict: --generate goes on from the last prediction: %s has no patterns\n",
                     options.patternFile.c_str());
        return kExitUsage;
    }

    std::string line;
    AppendHeader(line, "output", outSize);
    if (options.targets) AppendHeader(line, "target", outSize);
    std::vector<double> outputs(outSize);
    double squares = 0.0;
    for (size_t k = 0; k < patterns.inputs.size(); ++k) {
        if (!PropagatePattern(registered.Id(), static_cast<int>(inSize), patterns.inputs[k].data(),
                              static_cast<int>(outSize), outputs.data())) {
            // Only the first step can fail: the readout does not fit the reservoir.
            std::fprintf(stderr,
                         "rcnet predict: %s cannot predict: its readout does not fit its reservoir "
                         "(never trained?)\n",
                         options.netFile.c_str());
            return kExitFailure;
        }
        if (k == 0) std::printf("%s\n", line.c_str());
        if (k < static_cast<size_t>(options.washout)) continue;  // stepped, not shown or scored
        line.clear();
        for (uint32_t i = 0; i < outSize; ++i) {
            if (i > 0) line += ',';
            AppendNumber(line, outputs[i]);
        }
        if (options.targets) {
            for (uint32_t i = 0; i < outSize; ++i) {
                const double target = patterns.targets[k][i];
                line += ',';
                AppendNumber(line, target);
                squares += (outputs[i] - target) * (outputs[i] - target);
            }
        }
        std::printf("%s\n", line.c_str());
    }
    if (patterns.inputs.empty()) std::printf("%s\n", line.c_str());
    const size_t scored = patterns.inputs.size() - static_cast<size_t>(options.washout);
    if (options.generate > 0) {
        // Closed loop: outputs only; the target columns stay empty.
        std::vector<double> generated(static_cast<size_t>(options.generate) * outSize);
        if (!GenerateNet(registered.Id(), options.generate, static_cast<int>(outSize), generated.data())) {
            std::fprintf(stderr, "rcnet predict: the library could not generate\n");
            return kExitFailure;
        }
        for (int t = 0; t < options.generate; ++t) {
            line.clear();
            for (uint32_t i = 0; i < outSize; ++i) {
                if (i > 0) line += ',';
                AppendNumber(line, generated[static_cast<size_t>(t) * outSize + i]);
            }
            if (options.targets) line.append(outSize, ',');
            std::printf("%s\n", line.c_str());
        }
    }
    if (options.targets) {
        const double values = static_cast<double>(scored) * outSize;
        std::fprintf(stderr, "RMSE: %.6g (%zu pattern%s, %u output%s)\n",
                     values > 0 ? std::sqrt(squares / values) : 0.0, scored, scored == 1 ? "" : "s", outSize,
                     outSize == 1 ? "" : "s");
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitFailure;
}

}  // namespace rcnet::tools
