// The library's exports: each converts its arguments and calls one operation of the core inside the
// common call frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/CallFrame.h"
#include "src/PatternFile.h"
#include "src/Random.h"
#include "src/Report.h"

using rcnet::Net;
using rcnet::NetManager;
using rcnet::Vector;
using rcnet::frame::Guarded;
using rcnet::frame::WithNet;
using rcnet::frame::WithSizedNet;

namespace {
constexpr char kReportSource[] = "Exports";

// The unsigned comparison sends every negative code to ETYPE_UNKNOWN too.
int32_t NeuronTypeOf(int type) {
    return static_cast<uint32_t>(type) <= 3u ? static_cast<int32_t>(type) : rcnet::ETYPE_UNKNOWN;
}
}  // namespace

extern "C" {

RCNET_API int RCNET_CALL RegisterUsage(int id, int inSize, int outSize, int useThreshold) {
    return Guarded([&] {
        return NetManager::Instance().RegisterNet(id, static_cast<uint32_t>(inSize),
                                                  static_cast<uint32_t>(outSize), useThreshold != 0);
    });
}

RCNET_API int RCNET_CALL UnregisterUsage(int id) {
    Guarded([&] { return NetManager::Instance().UnregisterNet(id) > 0; });
    return 1;
}

RCNET_API void RCNET_CALL Randomize(unsigned int seed) {
    const rcnet::CallReportsScope reports;
    rcnet::srand(seed);
}

// The reservoir's operations take unsigned counts, so a negative count reaches them as a huge one. The
// link operations refuse such counts themselves; billions of neurons or rows are refused here.

RCNET_API int RCNET_CALL AddNeuronsToNet(int id, int count, int type) {
    return WithNet(id, [&](Net& net) {
        if (NeuronTypeOf(type) != rcnet::ETYPE_UNKNOWN) RC_REQUIRE(count >= 0, false);
        return net.Reservoir().AddNeurons(static_cast<uint32_t>(count), NeuronTypeOf(type));
    });
}

RCNET_API int RCNET_CALL AddRandomConnectionsToNet(int id, int count) {
    return WithNet(id, [&](Net& net) {
        // More links than the reservoir has pairs: it reports and draws nothing.
        net.Reservoir().AddRandomConnections(static_cast<uint32_t>(count));
        return true;
    });
}

RCNET_API int RCNET_CALL AddRandomBackConnectionsToNet(int id, int count) {
    return WithNet(id, [&](Net& net) {
        // As above.
        net.Reservoir().AddRandomBackConnections(static_cast<uint32_t>(count));
        return true;
    });
}

RCNET_API int RCNET_CALL InitNetInputMatrix(int id, int inputCount) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(inputCount >= 0, false);
        net.Reservoir().InitInputMatrix(static_cast<uint32_t>(inputCount));
        return true;
    });
}

// The host's arrays are only read after the sizes were checked against the network; null arrays are
// refused rather than read.

RCNET_API int RCNET_CALL AddPatternsToNet(int id, int count, int inSize, const double* inputs, int outSize,
                                          const double* outputs) {
    return WithSizedNet(id, static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize), [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
        // A null array is refused only where values would be read from it.
        RC_REQUIRE(count == 0 || ((inputs || inSize == 0) && (outputs || outSize == 0)), false);
        // Pattern k's inputs are inputs[k * inSize] on, its targets outputs[k * outSize] on; the frame
        // has compared both sizes with the network's. All or nothing when memory runs out part way.
        net.AddPatterns(static_cast<size_t>(count), inputs, outputs);
        return true;
    });
}

RCNET_API int RCNET_CALL LearnNet(int id) {
    return WithNet(id, [&](Net& net) { return net.Learn(); });
}

RCNET_API int RCNET_CALL PropagatePattern(int id, int inSize, const double* ins, int outSize, double* out) {
    return WithSizedNet(id, static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize), [&](Net& net) {
        RC_REQUIRE((ins || inSize == 0) && (out || outSize == 0), false);
        const Vector* result = net.Propagate(Vector(ins, ins + net.InputSize()));
        if (!result) return false;
        const Vector outs = *result;
        RC_REQUIRE_AS(RCNET_REPORT_SIZE, size_t(outSize) == outs.size(), false);
        std::copy(outs.begin(), outs.end(), out);
        return true;
    });
}

// A null path is refused before any file is touched.

RCNET_API int RCNET_CALL SaveNetToFile(int id, const char* path) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(path, false);
        return net.Save(std::string(path));
    });
}

RCNET_API int RCNET_CALL LoadNetFromFile(int id, const char* path) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(path, false);
        return net.Load(std::string(path));
    });
}

RCNET_API int RCNET_CALL AddPatternsFromFile(int id, const char* path) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(path, false);
        rcnet::PatternFile file;
        if (!rcnet::ReadPatternFile(std::string(path), file)) return false;
        if (file.inputs.empty()) return true;  // nothing to add, whatever sizes its header gives
        RC_REQUIRE_AS(RCNET_REPORT_SIZE,
                      file.inputSize == net.InputSize() && file.outputSize == net.OutputSize(), false);
        net.AddSequences(file.inputs, file.outputs, file.sequenceStarts);
        return true;
    });
}

// Readout settings, state control and joint training. They change nothing for a host that never calls
// them.

RCNET_API int RCNET_CALL SetNetReadoutSolver(int id, int method) {
    return WithNet(id, [&](Net& net) { return net.SetReadoutMethod(method); });
}

RCNET_API int RCNET_CALL SetNetRegularization(int id, const double* lambda) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(lambda, false);
        return net.SetRidge(*lambda);
    });
}

RCNET_API int RCNET_CALL ChooseNetRegularization(int id, double* chosen) {
    return WithNet(id, [&](Net& net) {
        double ridge = 0.0;
        if (!net.ChooseRidge(ridge)) return false;
        if (chosen) *chosen = ridge;
        return true;
    });
}

RCNET_API int RCNET_CALL SetNetWashout(int id, int count) {
    return WithNet(id, [&](Net& net) { return net.SetWashout(count); });
}

RCNET_API int RCNET_CALL ResetNetState(int id) {
    return WithNet(id, [&](Net& net) {
        net.ResetState();
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetState(int id, int count, double* out) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE_AS(count < 0 ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_SIZE,
                      count >= 0 && uint32_t(count) == net.Reservoir().NeuronCount(), false);
        // Neurons added after the input matrix was drawn have no state yet.
        const Vector& states = net.Reservoir().States();
        RC_REQUIRE_AS(RCNET_REPORT_CALL_ORDER, states.size() == size_t(count), false);
        RC_REQUIRE(out || count == 0, false);
        std::copy(states.begin(), states.end(), out);
        return true;
    });
}

RCNET_API int RCNET_CALL LearnNetJointly(int id) {
    return WithNet(id, [&](Net& net) { return net.LearnJointly(); });
}

// Reservoir settings: the back links' spectral radius, the input scaling and the leak rate. The first two
// change stored weights, so saved files carry them; the leak rate is written as a record of its own.

RCNET_API int RCNET_CALL GetNetSpectralRadius(int id, double* out) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(out, false);
        const rcnet::SpectralRadiusResult spectrum = net.Reservoir().BackLinkRadius();
        const double radius = spectrum.radius;
        RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, std::isfinite(radius),
                      false);  // weights that are not finite have none
        RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, spectrum.converged, false);  // an estimate is not the radius
        *out = radius;
        return true;
    });
}

RCNET_API int RCNET_CALL SetNetSpectralRadius(int id, const double* radius) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(radius, false);
        return net.Reservoir().SetBackLinkRadius(*radius);
    });
}

RCNET_API int RCNET_CALL SetNetInputScaling(int id, const double* scale) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(scale, false);
        return net.Reservoir().ScaleInputMatrix(*scale);
    });
}

RCNET_API int RCNET_CALL SetNetLeakRate(int id, const double* rate) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(rate, false);
        return net.Reservoir().SetLeakRate(*rate);
    });
}

RCNET_API int RCNET_CALL InitNetBias(int id, const double* scaling) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(scaling, false);
        return net.Reservoir().InitBias(*scaling);
    });
}

// Sequences: whole runs and closed loops in one call, and marked training sequences.

RCNET_API int RCNET_CALL RunNetSequence(int id, int count, int inSize, const double* ins, int outSize,
                                        double* outs) {
    return WithSizedNet(id, static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize), [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
        RC_REQUIRE(count == 0 || ((ins || inSize == 0) && (outs || outSize == 0)), false);
        // The host's arrays hold count rows; no row offset may wrap around.
        RC_REQUIRE(uint64_t(count) * (uint64_t(inSize) + uint64_t(outSize)) <= SIZE_MAX / sizeof(double),
                   false);
        return net.RunSequence(static_cast<size_t>(count), ins, outs);
    });
}

RCNET_API int RCNET_CALL GenerateNet(int id, int count, int outSize, double* outs) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE_AS(count < 0 ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_SIZE,
                      count >= 0 && uint32_t(outSize) == net.OutputSize(), false);
        RC_REQUIRE(outs || count == 0, false);
        RC_REQUIRE(uint64_t(count) * uint64_t(outSize) <= SIZE_MAX / sizeof(double), false);
        return net.Generate(static_cast<size_t>(count), outs);
    });
}

RCNET_API int RCNET_CALL GenerateNetMapped(int id, int count, int mapSize, const int* map, int inSize,
                                           const double* ins, int outSize, double* outs) {
    return WithSizedNet(id, static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize), [&](Net& net) {
        RC_REQUIRE(count >= 0 && mapSize >= 0 && uint32_t(mapSize) <= net.InputSize(), false);
        RC_REQUIRE(map || mapSize == 0, false);
        RC_REQUIRE(count == 0 || ((ins || inSize == 0) && (outs || outSize == 0)), false);
        RC_REQUIRE(uint64_t(count) * (uint64_t(inSize) + uint64_t(outSize)) <= SIZE_MAX / sizeof(double),
                   false);
        std::vector<Net::FeedbackTap> taps(static_cast<size_t>(mapSize));
        for (size_t k = 0; k < taps.size(); ++k) {
            const int* tap = map + 3 * k;  // input, output, delay
            RC_REQUIRE(tap[0] >= 0 && tap[1] >= 0 && tap[2] >= 1, false);
            taps[k] = {uint32_t(tap[0]), uint32_t(tap[1]), size_t(tap[2])};
        }
        return net.GenerateMapped(static_cast<size_t>(count), taps, ins, outs);
    });
}

RCNET_API int RCNET_CALL SetNetProgress(int id, RcnetProgress callback, void* context) {
    return WithNet(id, [&](Net& net) {
        if (!callback) {
            net.SetProgress(nullptr);
        } else {
            net.SetProgress([id, callback, context](double fraction) { callback(id, fraction, context); });
        }
        return true;
    });
}

RCNET_API int RCNET_CALL MarkNetSequenceStart(int id) {
    return WithNet(id, [&](Net& net) {
        net.MarkSequenceStart();
        return true;
    });
}

// Online learning: the readout updated by recursive least squares after every step.

RCNET_API int RCNET_CALL SetNetOnlineLearning(int id, const double* forgetting) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(forgetting, false);
        return net.SetOnlineForgetting(*forgetting);
    });
}

RCNET_API int RCNET_CALL TrainNetOnline(int id, int count, int inSize, const double* ins, int outSize,
                                        const double* targets) {
    return WithSizedNet(id, static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize), [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
        RC_REQUIRE(count == 0 || ((ins || inSize == 0) && (targets || outSize == 0)), false);
        RC_REQUIRE(uint64_t(count) * (uint64_t(inSize) + uint64_t(outSize)) <= SIZE_MAX / sizeof(double),
                   false);
        return net.TrainOnline(static_cast<size_t>(count), ins, targets);
    });
}

// Reports and what a network holds, read without parsing files or stderr.

RCNET_API int RCNET_CALL GetLastReport(char* buffer, int size) {
    // Not a call of its own: the reports it hands over stay for the next asker.
    if (!buffer || size <= 0) return 0;
    return rcnet::CopyCallReports(buffer, static_cast<unsigned>(size)) < static_cast<unsigned>(size) ? 1 : 0;
}

RCNET_API int RCNET_CALL GetLastReportKind(void) {
    return rcnet::CallReportKind();  // as GetLastReport: not a call of its own
}

RCNET_API int RCNET_CALL GetLastFileError(char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    return rcnet::CopyFileError(buffer, static_cast<unsigned>(size)) < static_cast<unsigned>(size) ? 1 : 0;
}

RCNET_API int RCNET_CALL SetReportEcho(int enabled) {
    const rcnet::CallReportsScope reports;
    rcnet::SetReportEcho(enabled != 0);
    return 1;
}

RCNET_API int RCNET_CALL GetNetSizes(int id, int* inSize, int* outSize, int* useThreshold) {
    return WithNet(id, [&](Net& net) {
        if (inSize) *inSize = static_cast<int>(net.InputSize());
        if (outSize) *outSize = static_cast<int>(net.OutputSize());
        if (useThreshold) *useThreshold = net.UseThreshold() ? 1 : 0;
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetNeuronCount(int id, int* count) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(count, false);
        *count = static_cast<int>(net.Reservoir().NeuronCount());
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetReadoutShape(int id, int* rows, int* columns) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(rows && columns, false);
        const rcnet::Matrix& weights = net.OutputWeights();
        *rows = static_cast<int>(weights.size());
        *columns = static_cast<int>(weights.empty() ? 0 : weights[0].size());
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetReadout(int id, int rows, int columns, double* out) {
    return WithNet(id, [&](Net& net) {
        const rcnet::Matrix& weights = net.OutputWeights();
        const size_t length = weights.empty() ? 0 : weights[0].size();
        RC_REQUIRE_AS(
            RCNET_REPORT_SIZE,
            rows >= 0 && size_t(rows) == weights.size() && columns >= 0 && size_t(columns) == length, false);
        RC_REQUIRE(out || rows == 0 || columns == 0, false);
        // A loaded file's rows may differ in length: every row must have the first one's.
        for (const Vector& row : weights) RC_REQUIRE_AS(RCNET_REPORT_SIZE, row.size() == length, false);
        for (size_t i = 0; i < weights.size(); ++i)
            std::copy(weights[i].begin(), weights[i].end(), out + i * length);
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetLeakRate(int id, double* rate) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(rate, false);
        *rate = net.Reservoir().LeakRate();
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetBias(int id, int neurons, double* out) {
    return WithNet(id, [&](Net& net) {
        const Vector& bias = net.Reservoir().Bias();
        RC_REQUIRE_AS(RCNET_REPORT_SIZE, neurons >= 0 && uint32_t(neurons) == net.Reservoir().NeuronCount(),
                      false);
        RC_REQUIRE(out || neurons == 0, false);
        for (size_t j = 0; j < size_t(neurons); ++j) out[j] = j < bias.size() ? bias[j] : 0.0;
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetInputMatrix(int id, int inputs, int neurons, double* out) {
    return WithNet(id, [&](Net& net) {
        const rcnet::Matrix& matrix = net.Reservoir().InputMatrix();
        RC_REQUIRE_AS(RCNET_REPORT_SIZE,
                      inputs >= 0 && size_t(inputs) == matrix.size() && neurons >= 0 &&
                          uint32_t(neurons) == net.Reservoir().NeuronCount(),
                      false);
        RC_REQUIRE(out || inputs == 0 || neurons == 0, false);
        for (const rcnet::Vector& row : matrix)
            RC_REQUIRE_AS(RCNET_REPORT_SIZE, row.size() == size_t(neurons), false);
        for (size_t i = 0; i < matrix.size(); ++i)
            std::copy(matrix[i].begin(), matrix[i].end(), out + i * neurons);
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetLinkCount(int id, int back, int* count) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(count, false);
        const size_t links = net.Reservoir().LinkCount(back != 0);
        RC_REQUIRE(links <= size_t(INT32_MAX), false);
        *count = static_cast<int>(links);
        return true;
    });
}

RCNET_API int RCNET_CALL GetNetLinks(int id, int back, int count, int* sources, int* targets,
                                     double* weights) {
    return WithNet(id, [&](Net& net) {
        const std::vector<rcnet::MatrixEntry> links = net.Reservoir().LinkEntries(back != 0);
        RC_REQUIRE_AS(RCNET_REPORT_SIZE, count >= 0 && size_t(count) == links.size(), false);
        RC_REQUIRE((sources && targets && weights) || count == 0, false);
        for (size_t k = 0; k < links.size(); ++k) {
            sources[k] = static_cast<int>(links[k].column);
            targets[k] = static_cast<int>(links[k].row);
            weights[k] = links[k].value;
        }
        return true;
    });
}

RCNET_API int RCNET_CALL SetNetState(int id, int neurons, const double* state) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(neurons >= 0 && (state || neurons == 0), false);
        return net.SetState(state, size_t(neurons));
    });
}

RCNET_API int RCNET_CALL RunNetStates(int id, int count, int inSize, const double* ins, int neurons,
                                      double* states) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE_AS(count < 0 ? RCNET_REPORT_ARGUMENT : RCNET_REPORT_SIZE,
                      count >= 0 && inSize >= 0 && uint32_t(inSize) == net.InputSize() && neurons >= 0 &&
                          uint32_t(neurons) == net.Reservoir().NeuronCount(),
                      false);
        RC_REQUIRE(count == 0 || ((ins || inSize == 0) && (states || neurons == 0)), false);
        RC_REQUIRE(uint64_t(count) * (uint64_t(inSize) + uint64_t(neurons)) <= SIZE_MAX / sizeof(double),
                   false);
        return net.RunStates(size_t(count), ins, states);
    });
}

RCNET_API int RCNET_CALL SetNetFilePrecision(int id, int digits) {
    return WithNet(id, [&](Net& net) { return net.SetFilePrecision(digits); });
}

}  // extern "C"
