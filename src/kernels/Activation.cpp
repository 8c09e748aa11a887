#include "src/kernels/Activation.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "src/Neurons.h"
#include "src/kernels/Cpu.h"
#include "src/kernels/Exp.h"

namespace rcnet {
namespace {

#if defined(__x86_64__) || defined(__i386__)

// Both vector paths follow exp_detail::ExpWith operation for operation on its main path (2^-54 <=
// |x| < 512); lanes outside it, and NaN, are flagged and redone by ActivationValue. Saturated lanes
// (|x| > 20) of the sigmoids never call Exp() and are not flagged.
constexpr int64_t kMainLow = 0x3c9;   // Top12(2^-54)
constexpr int64_t kMainHigh = 0x408;  // Top12(512)

// 64-bit lanes as GCC vectors: their shifts and sums need none of the intrinsics that GCC 12 wrongly
// reports as reading uninitialised values.
typedef uint64_t Bits8 __attribute__((vector_size(64)));

__attribute__((target("avx512f,fma"))) inline __m512d ExpLanes8(__m512d x, __mmask8& redo) {
    using namespace exp_detail;
    const __m512i abstop = __m512i((Bits8(_mm512_castpd_si512(x)) >> 52) & 0x7ff);
    redo = _mm512_cmp_epu64_mask(_mm512_sub_epi64(abstop, _mm512_set1_epi64(kMainLow)),
                                 _mm512_set1_epi64(kMainHigh - kMainLow), _MM_CMPINT_NLT);
    __m512d kd = _mm512_fmadd_pd(_mm512_set1_pd(kInvLn2N), x, _mm512_set1_pd(kShift));
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = _mm512_sub_pd(kd, _mm512_set1_pd(kShift));
    const __m512d r =
        _mm512_fmadd_pd(kd, _mm512_set1_pd(kNegLn2LoN), _mm512_fmadd_pd(kd, _mm512_set1_pd(kNegLn2HiN), x));
    // The table entries are loaded one by one: this processor family's gather instructions are slower.
    alignas(64) uint64_t slot[8];
    _mm512_store_si512(slot, __m512i(Bits8(ki) % 128 * 2));
    const auto entry = [&](size_t lane, size_t half) {
        return static_cast<long long>(kTable[slot[lane] + half]);
    };
    const __m512d tail =
        _mm512_castsi512_pd(_mm512_set_epi64(entry(7, 0), entry(6, 0), entry(5, 0), entry(4, 0), entry(3, 0),
                                             entry(2, 0), entry(1, 0), entry(0, 0)));
    const __m512i sbits =
        __m512i(Bits8(_mm512_set_epi64(entry(7, 1), entry(6, 1), entry(5, 1), entry(4, 1), entry(3, 1),
                                       entry(2, 1), entry(1, 1), entry(0, 1))) +
                (Bits8(ki) << 45));
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d tmp =
        _mm512_fmadd_pd(_mm512_mul_pd(r2, r2), _mm512_fmadd_pd(r, _mm512_set1_pd(kC5), _mm512_set1_pd(kC4)),
                        _mm512_fmadd_pd(r2, _mm512_fmadd_pd(r, _mm512_set1_pd(kC3), _mm512_set1_pd(kC2)),
                                        _mm512_add_pd(tail, r)));
    const __m512d scale = _mm512_castsi512_pd(sbits);
    return _mm512_fmadd_pd(scale, tmp, scale);
}

__attribute__((target("avx512f,fma"))) inline __m512d ActivationLanes8(int32_t type, __m512d x,
                                                                       __mmask8& redo) {
    const __m512d one = _mm512_set1_pd(1.0);
    switch (type) {
        case ETYPE_SIGMOID:
        case ETYPE_BISIGMOID: {
            const __m512d e = ExpLanes8(x, redo);
            const __mmask8 high = _mm512_cmp_pd_mask(x, _mm512_set1_pd(20.0), _CMP_GT_OQ);
            const __mmask8 low = _mm512_cmp_pd_mask(x, _mm512_set1_pd(-20.0), _CMP_LT_OQ);
            redo &= static_cast<__mmask8>(~(high | low));
            __m512d y;
            if (type == ETYPE_SIGMOID) {
                y = _mm512_sub_pd(one, _mm512_div_pd(one, _mm512_add_pd(e, one)));
                y = _mm512_mask_blend_pd(low, y, _mm512_setzero_pd());
            } else {
                y = _mm512_div_pd(_mm512_sub_pd(e, one), _mm512_add_pd(e, one));
                y = _mm512_mask_blend_pd(low, y, _mm512_set1_pd(-1.0));
            }
            return _mm512_mask_blend_pd(high, y, one);
        }
        case ETYPE_RSDN: {
            redo = 0;
            const __m512d five = _mm512_set1_pd(5.0);
            const __m512d a = _mm512_mul_pd(five, x);
            const __m512d magnitude =
                _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(a), _mm512_set1_epi64(INT64_MAX)));
            return _mm512_div_pd(
                a, _mm512_add_pd(_mm512_mul_pd(five, _mm512_maskz_sqrt_pd(0xff, magnitude)), five));
        }
        default:
            redo = 0;
            return x;
    }
}

__attribute__((target("avx2,fma"))) inline __m256d ExpLanes4(__m256d x, int& redo) {
    using namespace exp_detail;
    const __m256i abstop =
        _mm256_and_si256(_mm256_srli_epi64(_mm256_castpd_si256(x), 52), _mm256_set1_epi64x(0x7ff));
    // abstop is at most 0x7ff, so the signed comparisons of AVX2 serve.
    const __m256i main = _mm256_and_si256(_mm256_cmpgt_epi64(abstop, _mm256_set1_epi64x(kMainLow - 1)),
                                          _mm256_cmpgt_epi64(_mm256_set1_epi64x(kMainHigh), abstop));
    redo = ~_mm256_movemask_pd(_mm256_castsi256_pd(main)) & 0xf;
    __m256d kd = _mm256_fmadd_pd(_mm256_set1_pd(kInvLn2N), x, _mm256_set1_pd(kShift));
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, _mm256_set1_pd(kShift));
    const __m256d r =
        _mm256_fmadd_pd(kd, _mm256_set1_pd(kNegLn2LoN), _mm256_fmadd_pd(kd, _mm256_set1_pd(kNegLn2HiN), x));
    alignas(32) uint64_t slot[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(slot),
                       _mm256_slli_epi64(_mm256_and_si256(ki, _mm256_set1_epi64x(127)), 1));
    const auto entry = [&](size_t lane, size_t half) {
        return static_cast<long long>(kTable[slot[lane] + half]);
    };
    const __m256d tail =
        _mm256_castsi256_pd(_mm256_set_epi64x(entry(3, 0), entry(2, 0), entry(1, 0), entry(0, 0)));
    const __m256i sbits = _mm256_add_epi64(
        _mm256_set_epi64x(entry(3, 1), entry(2, 1), entry(1, 1), entry(0, 1)), _mm256_slli_epi64(ki, 45));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d tmp =
        _mm256_fmadd_pd(_mm256_mul_pd(r2, r2), _mm256_fmadd_pd(r, _mm256_set1_pd(kC5), _mm256_set1_pd(kC4)),
                        _mm256_fmadd_pd(r2, _mm256_fmadd_pd(r, _mm256_set1_pd(kC3), _mm256_set1_pd(kC2)),
                                        _mm256_add_pd(tail, r)));
    const __m256d scale = _mm256_castsi256_pd(sbits);
    return _mm256_fmadd_pd(scale, tmp, scale);
}

__attribute__((target("avx2,fma"))) inline __m256d ActivationLanes4(int32_t type, __m256d x, int& redo) {
    const __m256d one = _mm256_set1_pd(1.0);
    switch (type) {
        case ETYPE_SIGMOID:
        case ETYPE_BISIGMOID: {
            const __m256d e = ExpLanes4(x, redo);
            const __m256d high = _mm256_cmp_pd(x, _mm256_set1_pd(20.0), _CMP_GT_OQ);
            const __m256d low = _mm256_cmp_pd(x, _mm256_set1_pd(-20.0), _CMP_LT_OQ);
            redo &= ~_mm256_movemask_pd(_mm256_or_pd(high, low));
            __m256d y;
            if (type == ETYPE_SIGMOID) {
                y = _mm256_sub_pd(one, _mm256_div_pd(one, _mm256_add_pd(e, one)));
                y = _mm256_blendv_pd(y, _mm256_setzero_pd(), low);
            } else {
                y = _mm256_div_pd(_mm256_sub_pd(e, one), _mm256_add_pd(e, one));
                y = _mm256_blendv_pd(y, _mm256_set1_pd(-1.0), low);
            }
            return _mm256_blendv_pd(y, one, high);
        }
        case ETYPE_RSDN: {
            redo = 0;
            const __m256d five = _mm256_set1_pd(5.0);
            const __m256d a = _mm256_mul_pd(five, x);
            const __m256d magnitude =
                _mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(a), _mm256_set1_epi64x(INT64_MAX)));
            return _mm256_div_pd(a, _mm256_add_pd(_mm256_mul_pd(five, _mm256_sqrt_pd(magnitude)), five));
        }
        default:
            redo = 0;
            return x;
    }
}

// Runs of equal type, W lanes at a time; flagged lanes and each run's rest go through the scalar code.
template <size_t W, typename Lanes>
__attribute__((always_inline)) inline void ActivateRuns(const int32_t* types, const double* in, double* out,
                                                        size_t count, Lanes lanes) {
    size_t j = 0;
    while (j < count) {
        const int32_t type = types[j];
        size_t end = j + 1;
        // Eight at a time first: most reservoirs have one type throughout.
        for (;;) {
            int32_t differ = 0;
            if (end + 8 > count) break;
            for (size_t i = 0; i < 8; ++i) differ |= types[end + i] ^ type;
            if (differ) break;
            end += 8;
        }
        while (end < count && types[end] == type) ++end;
        for (; j + W <= end; j += W) {
            double x[W];
            std::memcpy(x, in + j, sizeof x);
            unsigned redo = lanes(type, in + j, out + j);
            for (size_t l = 0; redo; ++l, redo >>= 1)
                if (redo & 1) out[j + l] = ActivationValue(type, x[l]);
        }
        for (; j < end; ++j) out[j] = ActivationValue(type, in[j]);
    }
}

__attribute__((target("avx2,fma"))) void ActivateAvx2(const int32_t* types, const double* in, double* out,
                                                      size_t count) {
    ActivateRuns<4>(
        types, in, out, count,
        [](int32_t type, const double* x, double* y) __attribute__((target("avx2,fma"))) {
            int redo;
            _mm256_storeu_pd(y, ActivationLanes4(type, _mm256_loadu_pd(x), redo));
            return static_cast<unsigned>(redo);
        });
}

__attribute__((target("avx512f,fma"))) void ActivateAvx512(const int32_t* types, const double* in,
                                                           double* out, size_t count) {
    ActivateRuns<8>(
        types, in, out, count,
        [](int32_t type, const double* x, double* y) __attribute__((target("avx512f,fma"))) {
            __mmask8 redo;
            _mm512_storeu_pd(y, ActivationLanes8(type, _mm512_loadu_pd(x), redo));
            return static_cast<unsigned>(redo);
        });
}

#endif

}  // namespace

void ActivateAll(const int32_t* types, const double* in, double* out, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
            return ActivateAvx512(types, in, out, count);
        case cpu::Level::Avx2:
            return ActivateAvx2(types, in, out, count);
        default:
            break;
    }
#endif
    for (size_t j = 0; j < count; ++j) out[j] = ActivationValue(types[j], in[j]);
}

}  // namespace rcnet
