// The library's random source: one linear congruential generator per thread, state 1 at every thread's
// start. The sequence is part of the library's behaviour (a seed and the same calls rebuild a network
// exactly), so it never comes from the platform's rand().
#pragma once

#include <cstdint>

namespace rcnet {

// Sets the calling thread's state.
void srand(uint32_t seed) noexcept;

// The calling thread's state, for an operation that must put it back when it fails part way.
uint32_t RandomState() noexcept;

// state = state * 214013 + 2531011 (mod 2^32); returns (state >> 16) & 0x7FFF, 0..32767.
int rand() noexcept;

}  // namespace rcnet
