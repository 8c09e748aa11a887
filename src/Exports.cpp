// The library's exports: each converts its arguments and calls one operation of the core inside the
// common call frame.
#include "common/Random.h"
#include "include/rcnet.h"
#include "src/CallFrame.h"

using rcnet::Net;
using rcnet::NetManager;
using rcnet::frame::Guarded;
using rcnet::frame::WithNet;

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
    rcnet::srand(seed);
}

// The reservoir's operations take unsigned counts; a negative count would ask for billions of neurons,
// links or rows, so it is refused before anything is drawn.

RCNET_API int RCNET_CALL AddNeuronsToNet(int id, int count, int type) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
        net.Reservoir().AddNeurons(static_cast<uint32_t>(count), NeuronTypeOf(type));
        return true;
    });
}

RCNET_API int RCNET_CALL AddRandomConnectionsToNet(int id, int count) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
        net.Reservoir().AddRandomConnections(static_cast<uint32_t>(count));
        return true;
    });
}

RCNET_API int RCNET_CALL AddRandomBackConnectionsToNet(int id, int count) {
    return WithNet(id, [&](Net& net) {
        RC_REQUIRE(count >= 0, false);
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

}  // extern "C"
