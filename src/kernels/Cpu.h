// The instruction sets the hot loops may use, chosen once per process by CPUID: the SSE2 baseline
// every supported processor has, AVX2 with fused multiply-add, or AVX-512. Each loop built for a wider
// set does exactly the plain loop's operations per value, so the level changes speed, never bits. Tests
// and benchmarks lower the level to run every path on one machine.
#pragma once

#include <atomic>

namespace rcnet::cpu {

enum class Level : int { Baseline = 0, Avx2 = 1, Avx512 = 2 };

// What the processor and the operating system support.
Level Detected();
// The level the loops use now: Detected(), or lower after Limit. Inline: the scalar exponential asks on
// every call.
inline Level Active();
// Caps the level (never raises it above Detected()); returns the previous cap. Not for concurrent use
// with running loops' choices in mind: a loop picks its path on entry.
Level Limit(Level cap);

const char* Name(Level level);

namespace detail {
extern std::atomic<int> g_Active;  // the active level, or -1 before the first question
int Settle();                      // sets and returns g_Active
}  // namespace detail

inline Level Active() {
    const int level = detail::g_Active.load(std::memory_order_relaxed);
    return static_cast<Level>(level >= 0 ? level : detail::Settle());
}

}  // namespace rcnet::cpu
