#include "src/kernels/Kernels.h"

#include <type_traits>

#include "src/kernels/Exp.h"
#include "src/kernels/QrKernels.h"
#include "src/kernels/SolverKernels.h"
#include "src/kernels/StepKernels.h"
#include "src/kernels/Vec.h"

// The kernels' templates are instantiated at the end of this unit, past any header's scope: the
// vector-return note (src/kernels/Vec.h) is off for the whole unit.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace rcnet::kernels {
namespace {

// The packs each level's kernels run on.
struct Sse2Level {
    using Vec = Sse2;
    using Slices = Sse2;
    // No fused multiply-add instruction: the exponential takes the portable one. glibc's fma() uses the
    // processor's where it has one, one value at a time is quicker then; elsewhere two lanes of the
    // emulation are.
#if defined(__GLIBC__)
    using Lanes = Scalar<PortableFma>;
#else
    using Lanes = EmulatedFma<Sse2>;
#endif
    using Fma = PortableFma;
};

#ifdef RCNET_X86
struct Avx2Level {
    using Vec = Avx2;
    using Slices = Avx2;
    using Lanes = Avx2;
    using Fma = HardwareFma;
};

struct Avx512Level {
    using Vec = Avx512;
    using Slices = Avx512;
    using Lanes = Avx512;
    using Fma = HardwareFma;
};
#endif

// A level's table: each kernel's template for the level's pack, inlined whole into an entry function
// that carries the level's target attribute: where its instruction set is chosen (see Vec.h).
// A new kernel is a template, a field of Kernels and a line here.
#define RCNET_ENTRY(TARGET, ...) [](auto... a) TARGET { return __VA_ARGS__(a...); }
// clang-format off
#define RCNET_TABLE(L, TARGET)                                 \
    Kernels {                                                  \
        FoldShape<L::Vec>::kPanel,                             \
        RCNET_ENTRY(TARGET, FoldGroup<L::Vec>),                \
        RCNET_ENTRY(TARGET, CopyLanes<L::Vec>),                \
        RCNET_ENTRY(TARGET, SumSlice<L::Slices>),              \
        RCNET_ENTRY(TARGET, SumInputs<L::Vec>),                \
        RCNET_ENTRY(TARGET, Activate<L::Lanes>),               \
        RCNET_ENTRY(TARGET, exp_detail::ExpWith<L::Fma>),      \
        RCNET_ENTRY(TARGET, EliminateFlushLanes<L::Vec>),      \
        RCNET_ENTRY(TARGET, ApplyPivotsLanes<L::Vec>),         \
        RCNET_ENTRY(TARGET, ReflectLanes<L::Vec>),             \
        RCNET_ENTRY(TARGET, FoldBlockLanes<L::Vec>),           \
    }
// clang-format on

constexpr Kernels kSse2 = RCNET_TABLE(Sse2Level, RCNET_TARGET_SSE2);
#ifdef RCNET_X86
constexpr Kernels kAvx2 = RCNET_TABLE(Avx2Level, RCNET_TARGET_AVX2);
constexpr Kernels kAvx512 = RCNET_TABLE(Avx512Level, RCNET_TARGET_AVX512);
#endif

}  // namespace

void ApplyPivotsPlain(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                      const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    ApplyPivotsLanes<Scalar<>>(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
}

const Kernels& Active() {
#ifdef RCNET_X86
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
            return kAvx512;
        case cpu::Level::Avx2:
            return kAvx2;
        default:
            break;
    }
#endif
    return kSse2;
}

}  // namespace rcnet::kernels

namespace rcnet {

double Exp(double x) {
    return kernels::Active().exp(x);
}

}  // namespace rcnet
