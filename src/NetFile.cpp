// The network file: sizes and threshold flag, the readout weights, the reservoir block; then the records
// of settings that change how the network runs, each a name and its values on its own line, written
// only when the setting differs from the plain network's (readers that know none of them stop before
// them).
#include <cmath>

#include "platform/Files.h"
#include "src/FileOps.h"
#include "src/Net.h"

namespace rcnet {
namespace {
constexpr char kLeakRateRecord[] = "leak-rate";
constexpr char kBiasRecord[] = "bias";

bool ReadLeakRate(TextReader& in, double& rate) {
    if (!in.Double(rate, "the leak rate after 'leak-rate'")) return false;
    if (rate > 0 && rate <= 1) return true;
    return in.Refuse(in.ValuePlace(),
                     "'" + in.ValueText() + "' is not a leak rate (expected a number in (0, 1])");
}

// "bias N b1 ... bN": at most one value per neuron, each finite.
bool ReadBias(TextReader& in, uint32_t neurons, Vector& bias) {
    uint32_t count = 0;
    if (!in.Count(count, "the number of bias values after 'bias'")) return false;
    if (count == 0 || count > neurons) {
        return in.Refuse(in.ValuePlace(), "'" + in.ValueText() + "' bias values for " +
                                              std::to_string(neurons) + " neurons (expected 1 to " +
                                              std::to_string(neurons) + ")");
    }
    Vector values(count);
    for (uint32_t j = 0; j < count; ++j) {
        if (!in.Double(values[j], [&] { return "bias value " + fileops::Of(j + 1, count); })) return false;
        if (!std::isfinite(values[j]))
            return in.Refuse(in.ValuePlace(), "'" + in.ValueText() + "' is not a finite bias value");
    }
    bias.swap(values);
    return true;
}
}  // namespace

bool Net::Save(const std::string& path) const {
    TextWriter out(m_FileDigits);
    Write(out);
    return platform::ReplaceFileContents(path, out.Text());
}

void Net::Write(TextWriter& out) const {
    out.Count(m_InputSize);
    out.Blank();
    out.Count(m_OutputSize);
    out.Blank();
    out.Flag(m_UseThreshold);
    out.EndLine();
    WriteMatrix(out, m_OutputWeights);
    m_Reservoir.WriteReservoir(out);
    if (m_Reservoir.LeakRate() != 1.0) {
        out.Word(kLeakRateRecord);
        out.Blank();
        out.DoubleExact(m_Reservoir.LeakRate());  // every digit: the rate decides every later state
        out.EndLine();
    }
    const Vector& bias = m_Reservoir.Bias();
    if (!bias.empty()) {
        out.Word(kBiasRecord);
        out.Blank();
        out.Count(static_cast<uint32_t>(bias.size()));
        for (double value : bias) {
            out.Blank();
            out.DoubleExact(value);  // every digit, as the leak rate: the values enter every step
        }
        out.EndLine();
    }
}

bool Net::Load(const std::string& path) {
    if (!ReadFile(path, [&](TextReader& in) { return Read(in); })) return false;
    // Only a file loaded into a network moves the neuron id counter (a checker's reading does not).
    m_Reservoir.ReserveReadIds();
    return true;
}

bool Net::Read(TextReader& in) {
    // Everything is read into a new model first: a file that fails part way changes nothing.
    uint32_t inSize = 0, outSize = 0;
    bool useThreshold = false;
    Matrix weights;
    Reservoire reservoir;
    inspect::ReadNotes* notes = in.Notes();
    if (!in.Count(inSize, "the input size (the file's first value)") ||
        !in.Count(outSize, "the output size (the file's second value)") ||
        !in.Flag(useThreshold, "the threshold flag, 0 or 1 (the file's third value)") ||
        !ReadMatrix(in, weights, "readout", notes ? &notes->readout : nullptr) ||
        !reservoir.ReadReservoir(in))
        return false;
    double leakRate = 1.0;
    if (in.Word(kLeakRateRecord) && !ReadLeakRate(in, leakRate)) return false;
    reservoir.SetLeakRate(leakRate);
    Vector bias;
    if (in.Word(kBiasRecord) && !ReadBias(in, reservoir.NeuronCount(), bias)) return false;
    reservoir.SetBias(std::move(bias));
    ClearModel();
    m_InputSize = inSize;
    m_OutputSize = outSize;
    m_UseThreshold = useThreshold;
    m_OutputWeights.swap(weights);
    m_Reservoir = std::move(reservoir);
    return true;
}

void Net::ClearModel() {
    m_Reservoir.Clear();
    m_OutputWeights.clear();
    m_Result.clear();
    m_Online.reset();  // its covariance belongs to the old states, whatever weights come next
}

}  // namespace rcnet
