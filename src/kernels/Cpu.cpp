#include "src/kernels/Cpu.h"

#include <atomic>

namespace rcnet::cpu {
namespace {

Level Probe() {
#if defined(__x86_64__) || defined(__i386__)
    // libgcc's probe also checks that the operating system saves the wider registers (XGETBV).
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return Level::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Level::Avx2;
#endif
    return Level::Baseline;
}

std::atomic<int> g_Cap{static_cast<int>(Level::Avx512)};

}  // namespace

std::atomic<int> detail::g_Active{-1};

int detail::Settle() {
    const int detected = static_cast<int>(Detected());
    const int cap = g_Cap.load(std::memory_order_relaxed);
    const int level = cap < detected ? cap : detected;
    g_Active.store(level, std::memory_order_relaxed);
    return level;
}

Level Detected() {
    static const Level level = Probe();
    return level;
}

Level Limit(Level cap) {
    const Level previous =
        static_cast<Level>(g_Cap.exchange(static_cast<int>(cap), std::memory_order_relaxed));
    detail::Settle();
    return previous;
}

const char* Name(Level level) {
    switch (level) {
        case Level::Avx512:
            return "AVX-512";
        case Level::Avx2:
            return "AVX2";
        default:
            return "SSE2";
    }
}

}  // namespace rcnet::cpu
