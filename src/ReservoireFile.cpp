// The reservoir's block of the network file. A checker's notes (TextReader::Notes) receive every neuron
// record and link line as the file has them, repeats and lines the reservoir skips included.
#include <algorithm>
#include <map>

#include "src/FileOps.h"
#include "src/Reservoire.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Reservoire";

struct LinkRecord {
    uint32_t source;
    double weight;
    uint32_t target;
};

void WriteLinks(TextWriter& out, const NeuronBase& neuron, const LinkMap& links) {
    out.Count(static_cast<uint32_t>(links.size()));
    out.EndLine();
    for (const auto& [connector, weight] : links) {
        out.Count(neuron.m_Id);
        out.Blank();
        out.Double(weight);
        out.Blank();
        out.Count(connector->m_Neuron->m_Id);
        out.EndLine();
    }
}

void WriteNeuron(const NeuronBase& neuron, TextWriter& out) {
    out.Signed(neuron.GetType());
    out.EndLine();
    out.Count(neuron.m_Id);
    out.EndLine();
    WriteLinks(out, neuron, neuron.m_Outgoing);
    WriteLinks(out, neuron, neuron.m_OutgoingBack);
}

// Neuron record `index` of `count`, for reasons.
std::string Record(uint32_t index, uint32_t count) {
    return "neuron record " + fileops::Of(index + 1, count);
}

// Defined below ReadReservoir, in the order the file is read.
bool ReadLinks(TextReader& in, bool back, uint32_t index, uint32_t count, uint32_t id,
               std::vector<LinkRecord>& records);
bool RefuseType(TextReader& in, uint32_t index, uint32_t count);

}  // namespace

void Reservoire::WriteReservoir(TextWriter& out) const {
    out.Count(NeuronCount());
    out.EndLine();
    for (const NeuronRef& neuron : m_Neurons) WriteNeuron(*neuron, out);
    WriteMatrix(out, m_InputMatrix);
}

bool Reservoire::ReadReservoir(TextReader& in) {
    Clear();
    std::map<uint32_t, NeuronRef> neurons;
    std::vector<LinkRecord> forward, back;
    uint32_t n = 0;
    if (!in.Count(n, "the number of neurons (after the readout)")) return false;
    for (uint32_t i = 0; i < n; ++i) {
        int32_t type = 0;
        if (!in.Signed(type, [&] { return "the type of " + Record(i, n); })) return false;
        RC_CHECK_AS(RCNET_REPORT_FILE_FORMAT, type != ETYPE_UNKNOWN);
        // The file's ids are kept; the process's counter moves only once the whole file is accepted.
        NeuronRef neuron = CreateNeuron(type, 0);
        if (!neuron) return RefuseType(in, i, n);  // the factory reported; such a block is not loaded
        uint32_t id = 0;
        if (!in.Count(id, [&] { return "the id of " + Record(i, n); })) return false;
        if (in.Notes()) in.Notes()->neurons.push_back({type, id, in.ValuePlace()});
        neuron->m_Id = id;
        neurons.emplace(id, std::move(neuron));  // a repeated id keeps the first neuron
        if (!ReadLinks(in, false, i, n, id, forward) || !ReadLinks(in, true, i, n, id, back)) return false;
    }
    m_Neurons.reserve(neurons.size());
    for (const auto& entry : neurons) m_Neurons.push_back(entry.second);
    // Links are made once all neurons exist: a line may name a neuron whose record comes later.
    for (const std::vector<LinkRecord>* records : {&forward, &back}) {
        for (const LinkRecord& record : *records) {
            const auto found = neurons.find(record.source);
            if (!RC_CHECK_AS(RCNET_REPORT_FILE_FORMAT, found != neurons.end())) continue;
            const auto target = neurons.find(record.target);
            if (target == neurons.end()) continue;
            if (records == &forward) {
                AddConnection(*found->second, *target->second, record.weight);
            } else {
                AddBackConnection(*found->second, *target->second, record.weight);
            }
        }
    }
    inspect::MatrixHeader* header = in.Notes() ? &in.Notes()->inputMatrix : nullptr;
    if (!ReadMatrix(in, m_InputMatrix, "input matrix", header)) return false;
    m_Inputs.assign(m_InputMatrix.size(), 0.0);
    m_InputSums.assign(m_Neurons.size(), 0.0);
    m_States.assign(m_Neurons.size(), 0.0);
    return true;
}

void Reservoire::ReserveReadIds() const {
    uint32_t highest = 0;
    for (const NeuronRef& neuron : m_Neurons) highest = std::max(highest, neuron->m_Id);
    NeuronBase::ReserveLoadedIds(NeuronCount(), highest);
}

namespace {

// The forward or back link lines of neuron record `index` of `count`, whose id is id.
bool ReadLinks(TextReader& in, bool back, uint32_t index, uint32_t count, uint32_t id,
               std::vector<LinkRecord>& records) {
    const char* kind = back ? "back" : "forward";
    const auto record = [&] { return Record(index, count) + " (id " + std::to_string(id) + ")"; };
    uint32_t links = 0;
    if (!in.Count(links, [&] { return std::string("the number of ") + kind + " links of " + record(); }))
        return false;
    inspect::ReadNotes* notes = in.Notes();
    for (uint32_t j = 0; j < links; ++j) {
        const auto link = [&] {
            return std::string(kind) + " link " + fileops::Of(j + 1, links) + " of " + record();
        };
        LinkRecord line{};
        if (!in.Count(line.source, [&] { return "the source id of " + link(); })) return false;
        const inspect::TextPlace at = notes ? in.ValuePlace() : inspect::TextPlace{};
        if (!in.Double(line.weight, [&] { return "the weight of " + link(); }) ||
            !in.Count(line.target, [&] { return "the target id of " + link(); }))
            return false;
        records.push_back(line);
        if (notes) notes->links.push_back({line.source, line.weight, line.target, back, index, at});
    }
    return true;
}

bool RefuseType(TextReader& in, uint32_t index, uint32_t count) {
    return in.Refuse(in.ValuePlace(), "'" + in.ValueText() + "' is not a neuron type (expected the type of " +
                                          Record(index, count) +
                                          ": 0 sigmoid, 1 bipolar sigmoid, 2 rsdn or 3 linear)");
}

}  // namespace

}  // namespace rcnet
