#include "src/Solver/Elimination.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "src/Solver/RowKernels.h"

namespace rcnet {
namespace {
// Below this many entries per thread, splitting one pivot's rows costs more than it saves.
constexpr size_t kEntriesPerThread = 16384;

// The elimination loop compiled twice: for the SSE2 baseline and, picked once by CPUID, for AVX2. The
// operations per entry are the same (no fused multiply-add in either), so the bits are too.
using EliminateFn = bool (*)(double*, const double*, double, size_t, double);

bool EliminateBaseline(double* row, const double* pivot, double factor, size_t count, double bound) {
    return kernels::EliminateFlush(row, pivot, factor, count, bound);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) bool EliminateAvx2(double* row, const double* pivot, double factor,
                                                   size_t count, double bound) {
    return kernels::EliminateFlush(row, pivot, factor, count, bound);
}
#endif

EliminateFn PickEliminate() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &EliminateAvx2;
#endif
    return &EliminateBaseline;
}

bool EliminateFast(double* row, const double* pivot, double factor, size_t count, double bound) {
    static const EliminateFn fn = PickEliminate();
    return fn(row, pivot, factor, count, bound);
}

bool IsPositiveZero(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits == 0;
}
}  // namespace

Elimination::Elimination(RowMatrix& matrix, double bound, std::vector<char>* zeroFlags,
                         const Parallel& parallel)
    : m_Matrix(matrix),
      m_Bound(bound),
      m_ZeroFlags(zeroFlags),
      m_Parallel(parallel),
      m_Lead(matrix.Rows(), 0),
      m_Stable(matrix.Rows(), 0) {}

void Elimination::RowsSwapped(size_t a, size_t b) {
    std::swap(m_Lead[a], m_Lead[b]);
    std::swap(m_Stable[a], m_Stable[b]);
}

void Elimination::EntrySet(size_t row, size_t column) {
    m_Lead[row] = std::min(m_Lead[row], column);
    m_Stable[row] = 0;
}

// The plain sweep of one row from entry `skip` on, with the all-zero flag and the bookkeeping.
void Elimination::SweepRow(size_t pivot, size_t row, double factor, size_t skip) {
    const size_t columns = m_Matrix.Columns();
    double* target = m_Matrix.Row(row);
    const double* source = m_Matrix.Row(pivot);
    const bool zero = EliminateFast(target + skip, source + skip, factor, columns - 1 - skip, m_Bound);
    kernels::EliminateFlush(target + columns - 1, source + columns - 1, factor, 1, m_Bound);
    if (m_ZeroFlags) (*m_ZeroFlags)[row] = zero;  // the skipped entries are +0
    size_t lead = skip;
    while (lead < columns && IsPositiveZero(target[lead])) ++lead;
    m_Lead[row] = lead;
    m_Stable[row] = 1;
}

void Elimination::Forward(size_t pivot, size_t column, size_t first) {
    const size_t count = m_Matrix.Rows();
    if (first >= count) return;
    const double* source = m_Matrix.Row(pivot);
    size_t pivotZeros = 0;
    while (pivotZeros < m_Matrix.Columns() - 1 && source[pivotZeros] == 0) ++pivotZeros;
    const size_t width = m_Matrix.Columns() - std::min(pivotZeros, column);
    const size_t minRows = std::max<size_t>(1, kEntriesPerThread / std::max<size_t>(1, width));
    m_Parallel.Run(count - first, minRows, [&](size_t begin, size_t end) {
        for (size_t row = first + begin; row < first + end; ++row) {
            const double factor = m_Matrix.At(row, column);
            const size_t skip = std::isfinite(factor) ? std::min(m_Lead[row], pivotZeros) : 0;
            SweepRow(pivot, row, factor, skip);
        }
    });
}

void Elimination::Backward(size_t pivot, size_t column, size_t end) {
    if (end == 0) return;
    const size_t columns = m_Matrix.Columns();
    const double* source = m_Matrix.Row(pivot);
    m_PivotNonZero.clear();
    for (size_t i = 0; i < columns; ++i)
        if (!(source[i] == 0)) m_PivotNonZero.push_back(i);
    const bool sparse = m_PivotNonZero.size() * 4 < columns;
    const size_t width = sparse ? m_PivotNonZero.size() + 1 : columns;
    const size_t minRows = std::max<size_t>(1, kEntriesPerThread / width);
    m_Parallel.Run(end, minRows, [&](size_t begin, size_t stop) {
        for (size_t row = begin; row < stop; ++row) {
            const double factor = m_Matrix.At(row, column);
            if (!sparse || !m_Stable[row] || !std::isfinite(factor)) {
                SweepRow(pivot, row, factor, 0);
                continue;
            }
            double* target = m_Matrix.Row(row);
            for (size_t i : m_PivotNonZero) {
                const double x = target[i] - source[i] * factor;
                target[i] = std::fabs(x) < m_Bound ? 0.0 : x;
            }
            if (m_ZeroFlags) {
                // Any nonzero entry settles the flag; the row's own pivot entry usually is one.
                const bool zero = row < columns - 1 && target[row] == 0
                                      ? std::all_of(target, target + columns - 1, IsPositiveZero)
                                      : false;
                (*m_ZeroFlags)[row] = zero;
            }
            size_t lead = 0;
            while (lead < columns && IsPositiveZero(target[lead])) ++lead;
            m_Lead[row] = lead;
        }
    });
}

}  // namespace rcnet
