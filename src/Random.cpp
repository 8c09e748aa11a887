#include "src/Random.h"

namespace rcnet {
namespace {
thread_local uint32_t t_RandomState = 1;
}

void srand(uint32_t seed) noexcept {
    t_RandomState = seed;
}

uint32_t RandomState() noexcept {
    return t_RandomState;
}

int rand() noexcept {
    t_RandomState = t_RandomState * 214013u + 2531011u;
    return static_cast<int>((t_RandomState >> 16) & 0x7FFFu);
}

}  // namespace rcnet
