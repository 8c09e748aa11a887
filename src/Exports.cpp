// The library's exports: each converts its arguments and calls one operation of the core inside the
// common call frame.
#include "common/Random.h"
#include "include/rcnet.h"
#include "src/CallFrame.h"

using rcnet::NetManager;
using rcnet::frame::Guarded;

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

}  // extern "C"
