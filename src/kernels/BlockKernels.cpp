#include "src/kernels/BlockKernels.h"

#include <cmath>
#include <cstdint>

#include "src/kernels/Cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace rcnet::kernels {
namespace {

inline double Flush(double x, double bound) {
    return std::fabs(x) < bound ? 0.0 : x;
}

void ScalarColumns(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                   const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    for (size_t r = 0; r < rowCount; ++r) {
        for (size_t c = begin; c < end; ++c) {
            double x = rows[r][c];
            for (size_t i = 0; i < count; ++i) x = Flush(x - pivots[i][c] * factors[r * stride + i], bound);
            rows[r][c] = x;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)

// Tiles of R rows by V vectors, as many accumulators as the registers hold (8 in 32-bit code).
#if defined(__x86_64__)
constexpr size_t kVectors = 2;
constexpr size_t kRows = 4;
#else
constexpr size_t kVectors = 1;
constexpr size_t kRows = 4;
#endif

// |x| < bound: +0, else x. The lanes are flushed by clearing all their bits.
template <size_t R>
void TileSse2(double* const* rows, const double* factors, size_t stride, const double* const* pivots,
              size_t count, size_t c, double bound) {
    const __m128d limit = _mm_set1_pd(bound);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
    __m128d x[R][kVectors];
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) x[r][v] = _mm_loadu_pd(rows[r] + c + 2 * v);
    for (size_t i = 0; i < count; ++i) {
        __m128d p[kVectors];
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) p[v] = _mm_loadu_pd(pivots[i] + c + 2 * v);
#pragma GCC unroll 8
        for (size_t r = 0; r < R; ++r) {
            const __m128d f = _mm_set1_pd(factors[r * stride + i]);
#pragma GCC unroll 8
            for (size_t v = 0; v < kVectors; ++v) {
                const __m128d y = _mm_sub_pd(x[r][v], _mm_mul_pd(p[v], f));
                x[r][v] = _mm_andnot_pd(_mm_cmplt_pd(_mm_and_pd(y, magnitude), limit), y);
            }
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) _mm_storeu_pd(rows[r] + c + 2 * v, x[r][v]);
}

template <size_t R>
__attribute__((target("avx2"))) void TileAvx2(double* const* rows, const double* factors, size_t stride,
                                              const double* const* pivots, size_t count, size_t c,
                                              double bound) {
    const __m256d limit = _mm256_set1_pd(bound);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
    __m256d x[R][kVectors];
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) x[r][v] = _mm256_loadu_pd(rows[r] + c + 4 * v);
    for (size_t i = 0; i < count; ++i) {
        __m256d p[kVectors];
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) p[v] = _mm256_loadu_pd(pivots[i] + c + 4 * v);
#pragma GCC unroll 8
        for (size_t r = 0; r < R; ++r) {
            const __m256d f = _mm256_set1_pd(factors[r * stride + i]);
#pragma GCC unroll 8
            for (size_t v = 0; v < kVectors; ++v) {
                const __m256d y = _mm256_sub_pd(x[r][v], _mm256_mul_pd(p[v], f));
                x[r][v] = _mm256_andnot_pd(_mm256_cmp_pd(_mm256_and_pd(y, magnitude), limit, _CMP_LT_OQ), y);
            }
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) _mm256_storeu_pd(rows[r] + c + 4 * v, x[r][v]);
}

// Masked loads and stores cover a last, partial tile.
template <size_t R>
__attribute__((target("avx512f"))) void TileAvx512(double* const* rows, const double* factors, size_t stride,
                                                   const double* const* pivots, size_t count, size_t c,
                                                   const __mmask8 (&mask)[kVectors], double bound) {
    const __m512d limit = _mm512_set1_pd(bound);
    const __m512i magnitude = _mm512_set1_epi64(INT64_MAX);
    __m512d x[R][kVectors];
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) x[r][v] = _mm512_maskz_loadu_pd(mask[v], rows[r] + c + 8 * v);
    for (size_t i = 0; i < count; ++i) {
        __m512d p[kVectors];
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) p[v] = _mm512_maskz_loadu_pd(mask[v], pivots[i] + c + 8 * v);
#pragma GCC unroll 8
        for (size_t r = 0; r < R; ++r) {
            const __m512d f = _mm512_set1_pd(factors[r * stride + i]);
#pragma GCC unroll 8
            for (size_t v = 0; v < kVectors; ++v) {
                const __m512d y = _mm512_sub_pd(x[r][v], _mm512_mul_pd(p[v], f));
                const __mmask8 small = _mm512_cmp_pd_mask(
                    _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(y), magnitude)), limit,
                    _CMP_LT_OQ);
                x[r][v] = _mm512_maskz_mov_pd(static_cast<__mmask8>(~small), y);  // no register for the zeros
            }
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < R; ++r)
#pragma GCC unroll 8
        for (size_t v = 0; v < kVectors; ++v) _mm512_mask_storeu_pd(rows[r] + c + 8 * v, mask[v], x[r][v]);
}

// Rows in tiles of kRows (the last tile shorter), columns in tiles of W * kVectors.
template <size_t W, typename Tile>
inline void ForRowTiles(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                        const double* const* pivots, size_t count, size_t begin, size_t end, double bound,
                        Tile tile) {
    constexpr size_t kWidth = W * kVectors;
    for (size_t r = 0; r < rowCount; r += kRows) {
        const size_t tileRows = rowCount - r < kRows ? rowCount - r : kRows;
        size_t c = begin;
        for (; c + kWidth <= end; c += kWidth) tile(rows + r, tileRows, factors + r * stride, c);
        if (c < end)
            ScalarColumns(rows + r, tileRows, factors + r * stride, stride, pivots, count, c, end, bound);
    }
}

void ApplyBaseline(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                   const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    ForRowTiles<2>(rows, rowCount, factors, stride, pivots, count, begin, end, bound,
                   [&](double* const* tileRows, size_t n, const double* f, size_t c) {
                       if (n == kRows) return TileSse2<kRows>(tileRows, f, stride, pivots, count, c, bound);
                       for (size_t r = 0; r < n; ++r)
                           TileSse2<1>(tileRows + r, f + r * stride, stride, pivots, count, c, bound);
                   });
}

__attribute__((target("avx2"))) void ApplyAvx2(double* const* rows, size_t rowCount, const double* factors,
                                               size_t stride, const double* const* pivots, size_t count,
                                               size_t begin, size_t end, double bound) {
    ForRowTiles<4>(rows, rowCount, factors, stride, pivots, count, begin, end, bound,
                   [&](double* const* tileRows, size_t n, const double* f, size_t c) {
                       if (n == kRows) return TileAvx2<kRows>(tileRows, f, stride, pivots, count, c, bound);
                       for (size_t r = 0; r < n; ++r)
                           TileAvx2<1>(tileRows + r, f + r * stride, stride, pivots, count, c, bound);
                   });
}

__attribute__((target("avx512f"))) void ApplyAvx512(double* const* rows, size_t rowCount,
                                                    const double* factors, size_t stride,
                                                    const double* const* pivots, size_t count, size_t begin,
                                                    size_t end, double bound) {
    constexpr size_t kWidth = 8 * kVectors;
    for (size_t r = 0; r < rowCount; r += kRows) {
        const size_t n = rowCount - r < kRows ? rowCount - r : kRows;
        double* const* tileRows = rows + r;
        const double* f = factors + r * stride;
        for (size_t c = begin; c < end; c += kWidth) {
            __mmask8 mask[kVectors];
#pragma GCC unroll 8
            for (size_t v = 0; v < kVectors; ++v) {
                const size_t from = c + 8 * v;
                const size_t lanes = end > from ? (end - from < 8 ? end - from : 8) : 0;
                mask[v] = static_cast<__mmask8>((1u << lanes) - 1);
            }
            if (n == kRows) {
                TileAvx512<kRows>(tileRows, f, stride, pivots, count, c, mask, bound);
            } else {
                for (size_t k = 0; k < n; ++k)
                    TileAvx512<1>(tileRows + k, f + k * stride, stride, pivots, count, c, mask, bound);
            }
        }
    }
}

#endif

}  // namespace

void ApplyPivots(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                 const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    if (begin >= end || count == 0) return;
#if defined(__x86_64__) || defined(__i386__)
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
            return ApplyAvx512(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
        case cpu::Level::Avx2:
            return ApplyAvx2(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
        default:
            return ApplyBaseline(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
    }
#else
    ScalarColumns(rows, rowCount, factors, stride, pivots, count, begin, end, bound);
#endif
}

}  // namespace rcnet::kernels
