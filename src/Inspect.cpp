// The inspection interface (include/rcnet_inspect.h): snapshots of registered networks through the
// registry, their spectral radii, and file checks that run the library's own readers.
#include "include/rcnet_inspect.h"

#include <map>
#include <memory>
#include <utility>

#include "src/EigenvalueRadius.h"
#include "src/FileOps.h"
#include "src/NetManager.h"
#include "src/PatternFile.h"
#include "src/Report.h"

namespace rcnet::inspect {
namespace {

Network Snapshot(const Net& net) {
    Network out;
    out.inputs = net.InputSize();
    out.outputs = net.OutputSize();
    out.threshold = net.UseThreshold();
    for (const NeuronRef& neuron : net.Reservoir().Neurons()) {
        out.neurons.push_back({neuron->m_Id, neuron->GetType()});
        for (const auto& [connector, weight] : neuron->m_Outgoing)
            out.forward.push_back({neuron->m_Id, connector->m_Neuron->m_Id, weight});
        for (const auto& [connector, weight] : neuron->m_OutgoingBack)
            out.back.push_back({neuron->m_Id, connector->m_Neuron->m_Id, weight});
    }
    out.inputMatrix = net.Reservoir().InputMatrix();
    out.readout = net.OutputWeights();
    out.leakRate = net.Reservoir().LeakRate();
    out.bias = net.Reservoir().Bias();
    return out;
}

// Keeps the report lines made on this thread while it lives, instead of writing them out.
class ReportCollector {
public:
    explicit ReportCollector(std::vector<std::string>& lines)
        : m_Lines(lines), m_Previous(SetThreadReportHook({&Collect, this})) {}
    ~ReportCollector() { SetThreadReportHook(m_Previous); }
    ReportCollector(const ReportCollector&) = delete;
    ReportCollector& operator=(const ReportCollector&) = delete;

private:
    static void Collect(const char* line, void* context) {
        static_cast<ReportCollector*>(context)->m_Lines.emplace_back(line);
    }
    std::vector<std::string>& m_Lines;
    ReportHook m_Previous;
};

// Runs the grammar `read` (true when it accepts) over in for check; notes the trailing text of an
// accepted text and keeps the stop of a refused one.
template <typename Read>
bool Check(TextReader& in, FileCheck& check, Read&& read) {
    in.KeepNotes(&check.notes);
    check.accepted = read(in);
    if (check.accepted) {
        in.NoteTrailingText();
    } else {
        check.stop = in.Stop();
    }
    return check.accepted;
}

void NotOpened(FileCheck& check) {
    check.stop.reason = "the file cannot be opened (missing, not a regular file, or not readable)";
    check.stop.at = {0, 0, 0};
}

// The check of a network text from open(read), which runs read over a TextReader.
template <typename Open>
NetworkFileCheck CheckNetwork(Open&& open) {
    NetworkFileCheck check;
    ReportCollector reports(check.reports);
    Net net(0, 0, false);
    open([&](TextReader& in) { return Check(in, check, [&](TextReader& text) { return net.Read(text); }); },
         check);
    if (check.accepted) check.network = Snapshot(net);
    return check;
}

template <typename Open>
PatternFileCheck CheckPatterns(Open&& open) {
    PatternFileCheck check;
    ReportCollector reports(check.reports);
    PatternFile file;
    open(
        [&](TextReader& in) {
            return Check(in, check, [&](TextReader& text) { return ReadPatterns(text, file); });
        },
        check);
    if (!check.accepted) return check;
    check.inputSize = file.inputSize;
    check.outputSize = file.outputSize;
    check.inputs = file.inputs.ToLists();
    check.targets = file.outputs.ToLists();
    check.sequenceStarts = file.sequenceStarts;
    return check;
}

struct OpenPath {
    const std::string& path;
    template <typename Read>
    void operator()(Read&& read, FileCheck& check) const {
        ReadFile(path, read, &check.opened);
        if (!check.opened) NotOpened(check);
    }
};

struct OpenText {
    const std::string& text;
    template <typename Read>
    void operator()(Read&& read, FileCheck&) const {
        TextReader in(text);
        read(in);
    }
};

}  // namespace

bool GetNetwork(int id, Network& network) {
    const NetInUse net = NetManager::Instance().Use(id);
    if (!net) return false;
    network = Snapshot(*net);
    return true;
}

Radius LinkRadius(const Network& network, LinkKind kind) {
    // W[target][source], neurons numbered by their place in the reservoir.
    std::map<uint32_t, uint32_t> place;
    for (size_t i = 0; i < network.neurons.size(); ++i)
        place.emplace(network.neurons[i].id, static_cast<uint32_t>(i));
    std::vector<MatrixEntry> entries;
    for (const Link& link : kind == LinkKind::Back ? network.back : network.forward) {
        const auto source = place.find(link.source), target = place.find(link.target);
        if (source != place.end() && target != place.end())
            entries.push_back({target->second, source->second, link.weight});
    }
    const SpectralRadiusResult result = SpectralRadius(network.neurons.size(), entries);
    Radius radius;
    radius.value = result.radius;
    radius.converged = result.converged;
    radius.upperBound = result.upperBound;
    radius.largestBlock = result.largestBlock;
    radius.iterative = result.usedArnoldi;
    return radius;
}

bool GetLinkRadius(int id, LinkKind kind, Radius& radius) {
    Network network;
    if (!GetNetwork(id, network)) return false;
    radius = LinkRadius(network, kind);
    return true;
}

NetworkFileCheck CheckNetworkFile(const std::string& path) {
    return CheckNetwork(OpenPath{path});
}

NetworkFileCheck CheckNetworkText(const std::string& text) {
    return CheckNetwork(OpenText{text});
}

PatternFileCheck CheckPatternFile(const std::string& path) {
    return CheckPatterns(OpenPath{path});
}

PatternFileCheck CheckPatternText(const std::string& text) {
    return CheckPatterns(OpenText{text});
}

}  // namespace rcnet::inspect
