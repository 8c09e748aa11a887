// Bytes turned into a sequence of export calls: any order, any arguments (ids, counts and sizes near
// the edges, null pointers, wrong sizes). Properties: no crash, no read out of bounds, every result is 0
// or 1, and nothing is written past an output array.
#include <cstdint>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>
#include "fuzz/Require.h"

#include "include/rcnet.h"
#include "tests/support/ReportCapture.h"

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    bool Empty() const { return m_Pos >= m_Size; }
    uint8_t Byte() { return m_Pos < m_Size ? m_Data[m_Pos++] : 0; }
    int Id() {
        static const int ids[] = {0, 1, 2, -1, 2147483647, -2147483647 - 1};
        return ids[Byte() % 6];
    }
    // Small counts mostly; now and then a negative or a large one.
    int Count() {
        const uint8_t b = Byte();
        if (b == 255) return -1;
        if (b == 254) return -2147483647 - 1;
        if (b == 253) return 5000;
        return b % 24;
    }
    int Size() { return Byte() % 4; }
    double Value() { return (static_cast<int>(Byte()) - 128) / 32.0; }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_Pos = 0;
};

std::string TempPath(int which) {
    static const std::string base =
        (std::filesystem::temp_directory_path() / ("rcnet-fuzz-" + std::to_string(getpid()))).string();
    return base + "-" + std::to_string(which);
}

void RCNET_CALL CheckProgress(int, double fraction, void*) {
    Require(fraction >= 0 && fraction <= 1, "a progress fraction outside [0, 1]");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcnet::test::ReportCapture quiet;
    Bytes in(data, size);
    for (int call = 0; call < 64 && !in.Empty(); ++call) {
        int result = 1;
        switch (in.Byte() % 34) {
            case 0:
                result = RegisterUsage(in.Id(), in.Size(), in.Size(), in.Byte() % 2);
                break;
            case 1:
                result = UnregisterUsage(in.Id());
                break;
            case 2:
                Randomize(in.Byte());
                break;
            case 3:
                result = AddNeuronsToNet(in.Id(), in.Count() % 40, static_cast<int8_t>(in.Byte()) % 6);
                break;
            case 4:
                result = AddRandomConnectionsToNet(in.Id(), in.Count());
                break;
            case 5:
                result = AddRandomBackConnectionsToNet(in.Id(), in.Count());
                break;
            case 6:
                result = InitNetInputMatrix(in.Id(), in.Size());
                break;
            case 7: {
                const int id = in.Id(), count = in.Count() % 8, inSize = in.Size(), outSize = in.Size();
                std::vector<double> inputs(8 * 4), outputs(8 * 4);
                for (double& v : inputs) v = in.Value();
                for (double& v : outputs) v = in.Value();
                const bool nullInputs = in.Byte() % 8 == 0;
                result = AddPatternsToNet(id, count, inSize, nullInputs ? nullptr : inputs.data(), outSize,
                                          outputs.data());
                break;
            }
            case 8:
                result = LearnNet(in.Id());
                break;
            case 9: {
                const int id = in.Id(), inSize = in.Size(), outSize = in.Size();
                double ins[4] = {in.Value(), in.Value(), in.Value(), in.Value()};
                double outs[8];
                for (double& v : outs) v = 12345.0;
                result = PropagatePattern(id, inSize, ins, outSize, outs);
                for (int k = outSize; k < 8; ++k) Require(outs[k] == 12345.0, "written past outSize");
                if (!result)
                    for (double v : outs) Require(v == 12345.0, "outs written by a failed call");
                break;
            }
            case 10:
                result = SaveNetToFile(in.Id(), TempPath(in.Byte() % 2).c_str());
                break;
            case 11:
                result = LoadNetFromFile(in.Id(), TempPath(in.Byte() % 2).c_str());
                break;
            case 12:
                result = AddPatternsFromFile(in.Id(), TempPath(in.Byte() % 2).c_str());
                break;
            case 13:
                result = LoadNetFromFile(in.Id(), nullptr);
                break;
            case 14:
                result = SetNetReadoutSolver(in.Id(), static_cast<int8_t>(in.Byte()) % 3);
                break;
            case 15: {
                static const double ridges[] = {0.0, 1e-6, 1.0, -1.0, 1e300, -0.0};
                const uint8_t b = in.Byte();
                double ridge = ridges[b % 6];
                if (b == 255) ridge = std::numeric_limits<double>::quiet_NaN();
                if (b % 16 == 15) {
                    // Chosen from whatever the network holds now.
                    result = ChooseNetRegularization(in.Id(), b == 255 ? nullptr : &ridge);
                    Require(!result || b == 255 || (ridge >= 1e-16 && ridge <= 1e3), "a ridge off the grid");
                } else {
                    result = SetNetRegularization(in.Id(), b == 254 ? nullptr : &ridge);
                }
                break;
            }
            case 16:
                result = SetNetWashout(in.Id(), in.Count());
                break;
            case 17:
                result = ResetNetState(in.Id());
                break;
            case 18: {
                const int id = in.Id(), count = in.Count() % 48;
                double states[48];
                for (double& v : states) v = 12345.0;
                result = GetNetState(id, count, in.Byte() % 8 == 0 ? nullptr : states);
                for (int k = count < 0 ? 0 : count; k < 48; ++k)
                    Require(states[k] == 12345.0, "written past count");
                if (!result)
                    for (double v : states) Require(v == 12345.0, "states written by a failed call");
                break;
            }
            case 19:
                result = LearnNetJointly(in.Id());
                break;
            case 20: {
                double radius = -1.0;
                result = GetNetSpectralRadius(in.Id(), in.Byte() % 8 == 0 ? nullptr : &radius);
                if (result) Require(radius >= 0, "a negative radius");
                break;
            }
            case 21: {
                // Rows of at most 4 inputs and 8 outputs fit the arrays; longer claims are the host's.
                const int id = in.Id(), count = in.Count() % 6, inSize = in.Size(), outSize = in.Size();
                double ins[6 * 4];
                for (double& v : ins) v = in.Value();
                double outs[6 * 8];
                for (double& v : outs) v = 12345.0;
                result = RunNetSequence(id, count, inSize, ins, outSize, in.Byte() % 8 == 0 ? nullptr : outs);
                if (!result)
                    for (double v : outs) Require(v == 12345.0, "outs written by a failed run");
                break;
            }
            case 22: {
                const int id = in.Id(), count = in.Count() % 6, outSize = in.Size();
                double outs[6 * 8];
                for (double& v : outs) v = 12345.0;
                if (in.Byte() % 2) {
                    result = GenerateNet(id, count, outSize, outs);
                } else {
                    // A feedback map of up to 4 taps, indices and delays near and past their bounds, and
                    // inputs with a NaN now and then.
                    const int inSize = in.Size(), mapSize = in.Byte() % 6 - 1;
                    int map[4 * 3];
                    for (int& v : map) v = in.Byte() % 7 - 1;
                    double ins[6 * 4];
                    for (double& v : ins) v = in.Value();
                    if (in.Byte() == 255) ins[0] = std::numeric_limits<double>::quiet_NaN();
                    result = GenerateNetMapped(id, count, mapSize, in.Byte() % 8 == 0 ? nullptr : map, inSize,
                                               ins, outSize, outs);
                }
                if (!result)
                    for (double v : outs) Require(v == 12345.0, "outs written by a failed generation");
                break;
            }
            case 23:
                if (in.Byte() % 2) {
                    result = MarkNetSequenceStart(in.Id());
                } else {
                    // Training and runs afterwards call it: it must only be called with fractions.
                    result = SetNetProgress(in.Id(), in.Byte() % 3 ? CheckProgress : nullptr, nullptr);
                }
                break;
            case 24: {
                static const double factors[] = {1.0, 0.99, 0.5, 0.0, -1.0, 2.0};
                double forgetting = factors[in.Byte() % 6];
                result = SetNetOnlineLearning(in.Id(), in.Byte() % 8 == 0 ? nullptr : &forgetting);
                break;
            }
            case 25: {
                const int id = in.Id(), count = in.Count() % 6, inSize = in.Size(), outSize = in.Size();
                double ins[6 * 4], targets[6 * 4];
                for (double& v : ins) v = in.Value();
                for (double& v : targets) v = in.Value();
                if (in.Byte() == 255) targets[0] = std::numeric_limits<double>::quiet_NaN();
                result = TrainNetOnline(id, count, inSize, ins, outSize, targets);
                break;
            }
            case 26: {
                static const double scalings[] = {1.0, 0.5, 0.0, -2.0, 1e-300, 1e300};
                const uint8_t b = in.Byte();
                double scaling = b == 255 ? std::numeric_limits<double>::quiet_NaN() : scalings[b % 6];
                result = InitNetBias(in.Id(), b == 254 ? nullptr : &scaling);
                break;
            }
            case 27:
            case 28: {
                // The bias, the input matrix: filled exactly, nothing past the count.
                const int id = in.Id(), first = in.Count() % 48, second = in.Count() % 4;
                double out[48 * 4];
                for (double& v : out) v = 12345.0;
                double* arg = in.Byte() % 8 == 0 ? nullptr : out;
                result =
                    in.Byte() % 2 ? GetNetBias(id, first, arg) : GetNetInputMatrix(id, second, first, arg);
                for (int k = 0; k < 48 * 4; ++k)
                    if (!result || k >= (first < 0 ? 0 : first) * 4)
                        Require(out[k] == 12345.0, "written past the array");
                break;
            }
            case 29: {
                const int id = in.Id(), back = in.Byte() % 3;
                int count = 0;
                result = GetNetLinkCount(id, back, in.Byte() % 8 == 0 ? nullptr : &count);
                if (result && count <= 512) {
                    std::vector<int> sources(count + 1, -7), targets(count + 1, -7);
                    std::vector<double> weights(count + 1, 12345.0);
                    const int asked = in.Byte() % 4 == 0 ? count + 1 : count;
                    result = GetNetLinks(id, back, asked, sources.data(), targets.data(), weights.data());
                    Require(sources[count] == -7 && weights[count] == 12345.0,
                            "a link written past the count");
                }
                break;
            }
            case 30:
            case 31: {
                // States: of a run, and put back (with values that are not finite now and then).
                const int id = in.Id(), count = in.Count() % 6, inSize = in.Size(), neurons = in.Count() % 24;
                double ins[6 * 4], states[6 * 24];
                for (double& v : ins) v = in.Value();
                for (double& v : states) v = 12345.0;
                if (in.Byte() % 2) {
                    result =
                        RunNetStates(id, count, inSize, ins, neurons, in.Byte() % 8 == 0 ? nullptr : states);
                    for (int k = result ? count * (neurons < 0 ? 0 : neurons) : 0; k < 6 * 24; ++k)
                        Require(states[k] == 12345.0, "states written past the run");
                } else {
                    for (double& v : states) v = in.Value();
                    if (in.Byte() == 255) states[0] = std::numeric_limits<double>::infinity();
                    result = SetNetState(id, neurons, in.Byte() % 8 == 0 ? nullptr : states);
                }
                break;
            }
            default: {
                // The three reservoir settings, with values inside, on and past their bounds.
                static const double values[] = {1.0, 0.5, 0.0, -0.5, 2.0, 1e-300, 1e300, -0.0};
                const uint8_t b = in.Byte();
                double value = values[b % 8];
                if (b == 255) value = std::numeric_limits<double>::quiet_NaN();
                if (b == 253) value = std::numeric_limits<double>::infinity();
                const double* arg = b == 254 ? nullptr : &value;
                const int id = in.Id();
                result = in.Byte() % 3 == 0   ? SetNetSpectralRadius(id, arg)
                         : in.Byte() % 2 == 0 ? SetNetInputScaling(id, arg)
                                              : SetNetLeakRate(id, arg);
            }
        }
        Require(result == 0 || result == 1, "a result other than 0 or 1");
        // A kind exactly when the call left a report line or a file error, and always one of the codes.
        const int kind = GetLastReportKind();
        char probe[1];
        const bool reported = !GetLastReport(probe, 1) || !GetLastFileError(probe, 1);
        Require(kind >= RCNET_REPORT_NONE && kind <= RCNET_REPORT_INTERNAL,
                "a report kind outside the codes");
        Require((kind != RCNET_REPORT_NONE) == reported, "a report kind that disagrees with the reports");
    }
    for (int id : {0, 1, 2, -1, 2147483647, -2147483647 - 1}) UnregisterUsage(id);
    std::remove(TempPath(0).c_str());
    std::remove(TempPath(1).c_str());
    return 0;
}
