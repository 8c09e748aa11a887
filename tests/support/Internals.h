// The tests' reach into the library's private members, without the classes naming the tests: an
// explicit instantiation may name a private member, and hands its pointer to a friend function of a tag.
// Each member the tests read or set is listed once here.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "src/Net.h"
#include "src/Neurons.h"
#include "src/OnlineReadout.h"
#include "src/Reservoire.h"

namespace rcnet::test {

template <typename Tag, typename Tag::Type kMember>
struct Reach {
    friend typename Tag::Type MemberOf(Tag) { return kMember; }
};

#define RCNET_TEST_REACH(Tag, Pointer, member) \
    struct Tag {                               \
        using Type = Pointer;                  \
        friend Type MemberOf(Tag);             \
    };                                         \
    template struct Reach<Tag, &member>

RCNET_TEST_REACH(LastNeuronIdTag, std::atomic<uint32_t>*, NeuronBase::s_LastNeuronId);
RCNET_TEST_REACH(NetInputSizeTag, uint32_t Net::*, Net::m_InputSize);
RCNET_TEST_REACH(NetOutputSizeTag, uint32_t Net::*, Net::m_OutputSize);
RCNET_TEST_REACH(NetOutputWeightsTag, Matrix Net::*, Net::m_OutputWeights);
RCNET_TEST_REACH(NetInputsTag, VectorList Net::*, Net::m_Inputs);
RCNET_TEST_REACH(NetOutputsTag, VectorList Net::*, Net::m_Outputs);
RCNET_TEST_REACH(NetSequenceStartsTag, std::vector<size_t> Net::*, Net::m_SequenceStarts);
RCNET_TEST_REACH(NetSettingsTag, ReadoutSettings Net::*, Net::m_Settings);
RCNET_TEST_REACH(NetResultTag, Vector Net::*, Net::m_Result);
RCNET_TEST_REACH(NetLearnChunkTag, size_t Net::*, Net::m_LearnChunk);
RCNET_TEST_REACH(NeuronsTag, std::vector<NeuronRef> Reservoire::*, Reservoire::m_Neurons);
RCNET_TEST_REACH(InputsTag, Vector Reservoire::*, Reservoire::m_Inputs);
RCNET_TEST_REACH(InputMatrixTag, Matrix Reservoire::*, Reservoire::m_InputMatrix);
RCNET_TEST_REACH(InputSumsTag, Vector Reservoire::*, Reservoire::m_InputSums);
RCNET_TEST_REACH(StatesTag, Vector Reservoire::*, Reservoire::m_States);
RCNET_TEST_REACH(LeakRateTag, double Reservoire::*, Reservoire::m_LeakRate);
RCNET_TEST_REACH(ForgettingTag, double OnlineReadout::*, OnlineReadout::m_Forgetting);
RCNET_TEST_REACH(RegularizationTag, double OnlineReadout::*, OnlineReadout::m_Regularization);

#undef RCNET_TEST_REACH

// Puts the process's neuron id counter where a test needs it (and back).
inline void SetLastNeuronId(uint32_t id) {
    MemberOf(LastNeuronIdTag{})->store(id);
}

inline const VectorList& StoredInputs(const Net& net) {
    return net.*MemberOf(NetInputsTag{});
}
inline const VectorList& StoredOutputs(const Net& net) {
    return net.*MemberOf(NetOutputsTag{});
}
inline const std::vector<size_t>& SequenceStarts(const Net& net) {
    return net.*MemberOf(NetSequenceStartsTag{});
}
inline const ReadoutSettings& SettingsOf(const Net& net) {
    return net.*MemberOf(NetSettingsTag{});
}
inline const Vector& ResultOf(const Net& net) {
    return net.*MemberOf(NetResultTag{});
}
// Training then harvests states in chunks of this many patterns (the weights do not depend on it).
inline void SetLearnChunkSize(Net& net, size_t patterns) {
    net.*MemberOf(NetLearnChunkTag{}) = patterns ? patterns : 1;
}
inline double ForgettingOf(const OnlineReadout& readout) {
    return readout.*MemberOf(ForgettingTag{});
}
inline double RegularizationOf(const OnlineReadout& readout) {
    return readout.*MemberOf(RegularizationTag{});
}

}  // namespace rcnet::test
