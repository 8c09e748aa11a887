// Reservoir neurons: the neuron classes, the factory that makes a neuron from a type number (its
// activation functions are in src/Activations.h), and forward and back links.
//
// A link is stored twice, in the source's outgoing map and the target's incoming map, keyed by the other
// neuron's Connector. A Connector is a small handle that never owns its neuron, so neurons that link to
// each other (or to themselves) form no ownership cycle and are freed with the reservoir's list.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>

#include "src/Report.h"

namespace rcnet {

enum ENeuronType : int32_t {
    ETYPE_UNKNOWN = -1,
    ETYPE_SIGMOID = 0,
    ETYPE_BISIGMOID = 1,
    ETYPE_RSDN = 2,
    ETYPE_LINEAR = 3,
};

class IFunction {
public:
    virtual double Value(double x) const = 0;
    virtual double Derivative(double x) const = 0;

protected:
    ~IFunction() = default;
};

class NeuronBase;

// Links refer to neurons through this handle. Link maps are ordered by the linked neuron's id, then (only
// if two neurons ever shared an id) by address: the same seed and calls then give the same link order,
// and so the same sums, on every run and platform.
struct Connector {
    NeuronBase* m_Neuron;
};
using ConnectorRef = std::shared_ptr<Connector>;

struct ConnectorOrder {
    bool operator()(const ConnectorRef& a, const ConnectorRef& b) const;
};
using LinkMap = std::map<ConnectorRef, double, ConnectorOrder>;

class NeuronBase : public virtual IFunction {
public:
    using Connector = rcnet::Connector;

    virtual int32_t GetType() const { return ETYPE_UNKNOWN; }

    NeuronBase(const NeuronBase&) = delete;
    NeuronBase& operator=(const NeuronBase&) = delete;

    double m_Input = 0.0;            // weighted input sum of the current step
    double m_InputActivation = 0.0;  // Value(m_Input): what forward links carry
    double m_PrevState = 0.0;        // state after the previous step: what back links carry
    double m_State = 0.0;            // accumulator during a step, then the state after it
    LinkMap m_Outgoing;
    LinkMap m_OutgoingBack;
    LinkMap m_Incoming;
    LinkMap m_IncomingBack;
    ConnectorRef m_Connector;
    uint32_t m_Id;

    // The last id handed out in this process; the first neuron gets 1.
    static uint32_t LastNeuronId() { return s_LastNeuronId.load(std::memory_order_relaxed); }

    // Hands out count consecutive fresh ids, the first in first. False, handing out nothing, when fewer
    // than count are left: ids never wrap, so no reservoir can ever hold one id twice.
    static bool TakeIds(uint32_t count, uint32_t& first) {
        uint32_t last = s_LastNeuronId.load(std::memory_order_relaxed);
        do {
            if (count > UINT32_MAX - last) return false;
        } while (!s_LastNeuronId.compare_exchange_weak(last, last + count, std::memory_order_relaxed));
        first = last + 1;
        return true;
    }

    // After a load has been accepted: skips `records` ids (a load has always used up one per record)
    // and moves the counter to at least `highest`, so that neurons made later never repeat an id read.
    static void ReserveLoadedIds(uint32_t records, uint32_t highest) {
        uint32_t last = s_LastNeuronId.load(std::memory_order_relaxed);
        uint32_t next;
        do {
            next = records > UINT32_MAX - last ? UINT32_MAX : last + records;
            if (next < highest) next = highest;
        } while (next != last &&
                 !s_LastNeuronId.compare_exchange_weak(last, next, std::memory_order_relaxed));
    }

protected:
    explicit NeuronBase(uint32_t id) : m_Connector(std::make_shared<Connector>(Connector{this})), m_Id(id) {}
    // Neurons are only ever destroyed through a reference made for their complete class.
    ~NeuronBase() { m_Connector.reset(); }

private:
    static inline std::atomic<uint32_t> s_LastNeuronId{0};
};

inline bool ConnectorOrder::operator()(const ConnectorRef& a, const ConnectorRef& b) const {
    const uint32_t idA = a->m_Neuron->m_Id;
    const uint32_t idB = b->m_Neuron->m_Id;
    if (idA != idB) return idA < idB;
    return std::less<const Connector*>()(a.get(), b.get());
}

using NeuronRef = std::shared_ptr<NeuronBase>;

namespace neurons {
inline bool IsNeuronType(int32_t type) {
    return type >= ETYPE_SIGMOID && type <= ETYPE_LINEAR;
}

// A new neuron of the given type with the given id, or an empty reference (after the report "false")
// for a type number outside 0..3. The id counter is not touched.
NeuronRef CreateNeuron(int32_t type, uint32_t id);

// The same with the next fresh id. No id is used up for a refused type; when no fresh id is left it
// reports and makes nothing.
NeuronRef CreateNeuron(int32_t type);

inline bool AddLink(NeuronBase& source, NeuronBase& target, double weight, LinkMap NeuronBase::*outgoing,
                    LinkMap NeuronBase::*incoming) {
    LinkMap& out = source.*outgoing;
    auto it = out.lower_bound(target.m_Connector);
    if (it != out.end() && !out.key_comp()(target.m_Connector, it->first)) return false;
    // Make room in the target's map first: if memory runs out, neither side holds the link.
    LinkMap& in = target.*incoming;
    auto inserted = in.emplace(source.m_Connector, weight);
    try {
        out.emplace_hint(it, target.m_Connector, weight);
    } catch (...) {
        if (inserted.second) in.erase(inserted.first);
        throw;
    }
    return true;
}
}  // namespace neurons

using neurons::CreateNeuron;
using neurons::IsNeuronType;

// Adds the forward link source -> target; false (nothing changed) if source already has one to target.
inline bool AddConnection(NeuronBase& source, NeuronBase& target, double weight) {
    return neurons::AddLink(source, target, weight, &NeuronBase::m_Outgoing, &NeuronBase::m_Incoming);
}

// The same for back links, which carry the source's previous state.
inline bool AddBackConnection(NeuronBase& source, NeuronBase& target, double weight) {
    return neurons::AddLink(source, target, weight, &NeuronBase::m_OutgoingBack, &NeuronBase::m_IncomingBack);
}

}  // namespace rcnet
