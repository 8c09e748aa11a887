// Picks the exponential's fused multiply-add once per process: the processor's instruction where it
// has one (checked with CPUID), the exact portable one otherwise. Both round once, so the bits are the
// same either way.
#include "src/kernels/Exp.h"

namespace rcnet {

#if defined(__x86_64__) || defined(__i386__)
namespace {

struct HardwareFma {
    __attribute__((always_inline)) static double Apply(double a, double b, double c) {
        return __builtin_fma(a, b, c);
    }
};

// Inlined whole into this function, so every __builtin_fma becomes one instruction.
__attribute__((target("fma"))) double ExpHardware(double x) {
    return exp_detail::ExpWith<HardwareFma>(x);
}

bool ProcessorHasFma() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("fma") != 0;
    }();
    return has;
}

}  // namespace

double Exp(double x) {
    return ProcessorHasFma() ? ExpHardware(x) : ExpPortable(x);
}

#else

double Exp(double x) {
    return ExpPortable(x);
}

#endif

}  // namespace rcnet
