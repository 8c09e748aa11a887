// The reservoir's block of the network file.
#include <algorithm>
#include <map>

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

bool ReadLinks(TextReader& in, std::vector<LinkRecord>& records) {
    uint32_t count;
    if (!in.Count(count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        LinkRecord record;
        if (!in.Count(record.source) || !in.Double(record.weight) || !in.Count(record.target)) return false;
        records.push_back(record);
    }
    return true;
}

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
    uint32_t n;
    if (!in.Count(n)) return false;
    uint32_t highestId = 0;
    for (uint32_t i = 0; i < n; ++i) {
        int32_t type;
        if (!in.Signed(type)) return false;
        RC_CHECK(type != ETYPE_UNKNOWN);
        NeuronRef neuron = CreateNeuron(type);
        if (!neuron) return false;  // the factory reported; a block with such a neuron is not loaded
        uint32_t id;
        if (!in.Count(id)) return false;
        neuron->m_Id = id;
        highestId = std::max(highestId, id);
        neurons.emplace(id, std::move(neuron));  // a repeated id keeps the first neuron
        if (!ReadLinks(in, forward) || !ReadLinks(in, back)) return false;
    }
    // Neurons made after this block must not repeat one of its ids.
    NeuronBase::ReserveIdsUpTo(highestId);

    m_Neurons.reserve(neurons.size());
    for (const auto& entry : neurons) m_Neurons.push_back(entry.second);
    // Links are made once all neurons exist: a line may name a neuron whose record comes later.
    for (const std::vector<LinkRecord>* records : {&forward, &back}) {
        for (const LinkRecord& record : *records) {
            const auto found = neurons.find(record.source);
            if (!RC_CHECK(found != neurons.end())) continue;
            const auto target = neurons.find(record.target);
            if (target == neurons.end()) continue;
            if (records == &forward) {
                AddConnection(*found->second, *target->second, record.weight);
            } else {
                AddBackConnection(*found->second, *target->second, record.weight);
            }
        }
    }
    if (!ReadMatrix(in, m_InputMatrix)) return false;
    m_Inputs.assign(m_InputMatrix.size(), 0.0);
    m_InputSums.assign(m_Neurons.size(), 0.0);
    m_States.assign(m_Neurons.size(), 0.0);
    return true;
}

}  // namespace rcnet
