#include "src/Neurons.h"

#include "src/Activations.h"

namespace rcnet::neurons {
namespace {
constexpr char kReportSource[] = "Neurons";
}  // namespace

// A new neuron of the given type with the given id, or an empty reference (after the report "false")
// for a type number outside 0..3. The id counter is not touched.
NeuronRef CreateNeuron(int32_t type, uint32_t id) {
    switch (type) {
        case ETYPE_SIGMOID:
            return std::make_shared<FunctionalNeuron<SigmoidFunction, ETYPE_SIGMOID>>(id);
        case ETYPE_BISIGMOID:
            return std::make_shared<FunctionalNeuron<BiSigmoidFunction, ETYPE_BISIGMOID>>(id);
        case ETYPE_RSDN:
            return std::make_shared<FunctionalNeuron<RSDNFunction, ETYPE_RSDN>>(id);
        case ETYPE_LINEAR:
            return std::make_shared<FunctionalNeuron<LinearFunction, ETYPE_LINEAR>>(id);
        default:
            break;
    }
    RC_REQUIRE(false, nullptr);
    return nullptr;
}

// The same with the next fresh id. No id is used up for a refused type; when no fresh id is left it
// reports and makes nothing.
NeuronRef CreateNeuron(int32_t type) {
    uint32_t id = 0;
    if (IsNeuronType(type) && !NeuronBase::TakeIds(1, id)) {
        ReportFailure("fresh neuron ids left", kReportSource, __LINE__);
        return nullptr;
    }
    return CreateNeuron(type, id);
}

}  // namespace rcnet::neurons
