// The subcommands of the rcnet tool. Each returns the process exit code: 0 done, 1 failed or the input
// was refused, 2 a usage error found after parsing (an option value that does not fit the input).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rcnet::tools {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct InfoOptions {
    std::string netFile;
};
int RunInfo(const InfoOptions& options);

struct CheckOptions {
    std::string file;
    std::string kind;  // "net", "patterns" or empty to guess
};
int RunCheck(const CheckOptions& options);

struct TrainOptions {
    std::vector<std::string> patternFiles;  // more than one: one training sequence each
    std::string outFile;
    // The defaults are the Python estimator's, so that both give the same skill on the same data.
    int neurons = 200;
    int type = 1;                        // bipolar sigmoid
    std::optional<int> connections;      // default: 5 per neuron
    std::optional<int> backConnections;  // default: 5 per neuron
    unsigned int seed = 1;               // every thread of the library starts as if seeded with 1
    bool threshold = true;
    std::optional<int> inputs, outputs;  // must agree with the pattern file when given
    int solver = 1;                      // 0 normal equations, 1 stable QR (the default)
    std::optional<int> washout;          // leading patterns that step the reservoir but are not fitted
    std::string ridge = "auto";          // ridge penalty on the readout weights, or chosen from the data
    bool jointly = true;                 // one pass for all outputs
    std::optional<std::string>
        spectralRadius;                 // of the back links: 1.2 where there are some; "none": as drawn
    double inputScaling = 0.1;          // multiplies the input matrix, per unit of the inputs' spread
    bool absoluteInputScaling = false;  // the factor as given, whatever the inputs' spread
    double leakRate = 1;                // 1: the plain step
    double biasScaling = 1;             // 0: no bias
    int digits = 0;                     // of the saved file: 0 exact, 6 the format's own, up to 17
};
int RunTrain(const TrainOptions& options);

struct PredictOptions {
    std::string netFile;
    std::string patternFile;
    bool targets = false;
    int generate = 0;  // closed-loop steps after the pattern file's
    std::string
        feedback;        // the closed loop's feedback map, "input:output:delay,..."; empty: outputs = inputs
    std::string future;  // CSV of the closed-loop steps' input rows; empty: every input fed back
    // Leading patterns (of each sequence) that step the network but are neither printed nor scored;
    // without it every row is printed and --targets scores all but a tenth of each sequence.
    std::optional<int> washout;
};
int RunPredict(const PredictOptions& options);

}  // namespace rcnet::tools
