#include "src/Solver/Fold.h"

#include <algorithm>

namespace rcnet {
namespace {

// The product matrix is computed in 4 x 4 blocks held in registers while a chunk of patterns streams
// through, as a matrix-multiply kernel does; each pattern's values are first packed into panels of 4
// columns so the kernel reads them contiguously. Every entry still receives its products one pattern at
// a time in list order, starting from the value it had: the same bits as folding pattern by pattern.
constexpr size_t kBlock = 4;
constexpr size_t kChunk = 256;  // patterns per pass: one panel is 8 KiB
constexpr size_t kGroup = 24;   // panels per cache-resident group: 192 KiB

typedef double Pair __attribute__((vector_size(16)));

inline Pair Load(const double* p) {
    Pair v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void Store(double* p, Pair v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// acc += a_p[r] * b_p[c] for the chunk's patterns p in order; panels hold kBlock values per pattern.
inline void Kernel(double (&c)[kBlock][kBlock], const double* a, const double* b, size_t patterns) {
    Pair acc[kBlock][2];
    for (size_t r = 0; r < kBlock; ++r) {
        acc[r][0] = Load(&c[r][0]);
        acc[r][1] = Load(&c[r][2]);
    }
    for (size_t p = 0; p < patterns; ++p, a += kBlock, b += kBlock) {
        const Pair b0 = Load(b), b1 = Load(b + 2);
        for (size_t r = 0; r < kBlock; ++r) {
            const Pair ar = {a[r], a[r]};
            acc[r][0] = acc[r][0] + ar * b0;
            acc[r][1] = acc[r][1] + ar * b1;
        }
    }
    for (size_t r = 0; r < kBlock; ++r) {
        Store(&c[r][0], acc[r][0]);
        Store(&c[r][2], acc[r][1]);
    }
}

}  // namespace

void FoldProducts(RowMatrix& matrix, size_t n, const std::vector<const double*>& patterns, WorkerPool& pool) {
    if (n == 0 || patterns.empty()) return;
    const size_t blocks = (n + kBlock - 1) / kBlock;

    // Row blocks dealt round-robin to the threads: the triangle's rows differ in length, and each
    // thread's contiguous share then holds about the same work.
    const size_t threads = std::min<size_t>(pool.ThreadCount(), blocks);
    std::vector<size_t> dealt;
    dealt.reserve(blocks);
    for (size_t t = 0; t < threads; ++t)
        for (size_t b = t; b < blocks; b += threads) dealt.push_back(b);

    // panels[b]: for each pattern of the chunk, the values of columns 4b .. 4b+3 (zero past n).
    std::vector<double> panels(blocks * kChunk * kBlock);
    for (size_t first = 0; first < patterns.size(); first += kChunk) {
        const size_t count = std::min(kChunk, patterns.size() - first);
        for (size_t p = 0; p < count; ++p) {
            const double* v = patterns[first + p];
            for (size_t b = 0; b < blocks; ++b) {
                double* out = &panels[(b * kChunk + p) * kBlock];
                for (size_t c = 0; c < kBlock; ++c) out[c] = b * kBlock + c < n ? v[b * kBlock + c] : 0.0;
            }
        }
        // Column panels in groups that stay in the second-level cache while every row block passes.
        for (size_t g0 = 0; g0 < blocks; g0 += kGroup) {
            const size_t g1 = std::min(blocks, g0 + kGroup);
            pool.Run(dealt.size(), 1, [&](size_t begin, size_t end) {
                for (size_t i = begin; i < end; ++i) {
                    const size_t jb = dealt[i];
                    if (jb >= g1) continue;
                    const size_t j0 = jb * kBlock, rows = std::min(kBlock, n - j0);
                    for (size_t kb = std::max(jb, g0); kb < g1; ++kb) {
                        const size_t k0 = kb * kBlock, columns = std::min(kBlock, n - k0);
                        double block[kBlock][kBlock] = {};
                        for (size_t r = 0; r < rows; ++r)
                            for (size_t c = 0; c < columns; ++c) block[r][c] = matrix.At(j0 + r, k0 + c);
                        Kernel(block, &panels[jb * kChunk * kBlock], &panels[kb * kChunk * kBlock], count);
                        // Only the upper triangle (k >= j) is kept; the rest is copied from it at the end.
                        for (size_t r = 0; r < rows; ++r)
                            for (size_t c = 0; c < columns; ++c)
                                if (k0 + c >= j0 + r) matrix.At(j0 + r, k0 + c) = block[r][c];
                    }
                }
            });
        }
    }

    pool.Run(n, 64, [&](size_t begin, size_t end) {
        for (size_t j = begin; j < end; ++j) {
            double* row = matrix.Row(j);
            for (size_t k = 0; k < j; ++k) row[k] = matrix.At(k, j);
        }
    });
}

}  // namespace rcnet
