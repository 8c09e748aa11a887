#include "src/Solver/Elimination.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "src/Report.h"
#include "src/kernels/Kernels.h"
#include "src/kernels/SolverKernels.h"

namespace rcnet {
namespace {
// Below this many entries per thread, splitting one pivot's rows costs more than it saves.
constexpr size_t kEntriesPerThread = 16384;

// Pivots per block: the rows below it are read and written once per block instead of once per pivot.
constexpr size_t kBlock = 32;

bool IsPositiveZero(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits == 0;
}

// One reduction: the matrix, the flush bound and what is known of each row, so that arithmetic with a
// known result can be skipped.
class Elimination {
public:
    Elimination(RowMatrix& matrix, const EliminationRules& rules, const Parallel& parallel);

    // Steps 2 and 3 (see the header); false when a dependent column found no all-zero row.
    bool Run();

private:
    // The first row from `from` down whose coefficient entries are all zero, or the row count. Rows
    // above a pivot column's own row are pivot rows, each with its nonzero pivot entry.
    size_t FindZeroRow(size_t from) const;
    // Divides the pivot row by its entry in `column`.
    void DividePivotRow(size_t row, size_t column);
    void SwapRows(size_t a, size_t b);

    // Eliminates column `column` of rows [first, count) against pivot row `pivot`.
    void Forward(size_t pivot, size_t column, size_t first);
    // Runs the whole forward step (find, divide, exchange, eliminate) of pivots m, m + 1, ... while they
    // fit a block; returns the first pivot not run, m when the block could not start. The block stops
    // before any pivot whose row lies below the block, that has none, or whose entry is not finite.
    size_t ForwardBlock(size_t m);
    // Column j of rows [0, j) against pivot row j, for j from the last row to 1, the rows above a block
    // of pivots receiving the whole block in one pass.
    void BackwardAll();

    void SweepRow(size_t pivot, size_t row, double factor, size_t skip);
    // Column `pivot` of rows [first, end) against pivot row `pivot`.
    void Backward(size_t pivot, size_t first, size_t end);
    void BackwardRow(size_t pivot, size_t row, const std::vector<size_t>& nonZero);
    void BackwardBlockRow(size_t row, size_t j0, size_t j1);
    void NonZeroColumns(size_t pivot, std::vector<size_t>& nonZero) const;
    // The block's rows outside its columns: each entry the block's pivots in order and a pivot row's
    // division, as the pivot-by-pivot sweep would have given them; then their bookkeeping.
    void FinishBlockRows(size_t m0, size_t done, const double* factors, const double* coefs);
    // The block's `done` pivots (rows m0 ..) applied to rows [first, count).
    void ApplyBlock(size_t m0, size_t done, size_t first);
    // One row below the block, whole: its panel columns pivot by pivot, the rest in one tiled pass.
    // Returns false for a row that needed the pivot-by-pivot sweep (done then too).
    bool BlockRow(size_t row, size_t m0, size_t done, double* factors);

    RowMatrix& m_Matrix;
    double m_Bound;
    const char* m_PivotReportSource;
    const Parallel& m_Parallel;
    std::vector<size_t> m_Lead;  // per row: leading entries known to be +0
    std::vector<char> m_Stable;  // per row: known flush-stable
    std::vector<size_t> m_PivotNonZero;
    std::vector<size_t> m_BlockPivotZeros;  // per pivot of the current block: its row's leading zeros
    std::vector<std::vector<size_t>> m_BlockNonZero;  // per pivot of the current backward block
};

Elimination::Elimination(RowMatrix& matrix, const EliminationRules& rules, const Parallel& parallel)
    : m_Matrix(matrix),
      m_Bound(rules.flushBound),
      m_PivotReportSource(rules.pivotReportSource),
      m_Parallel(parallel),
      m_Lead(matrix.Rows(), 0),
      m_Stable(matrix.Rows(), 0) {}

bool Elimination::Run() {
    const size_t count = m_Matrix.Rows();
    for (size_t m = 0; m < count; ++m) {
        const size_t next = ForwardBlock(m);
        if (next > m) {
            m = next - 1;
            continue;
        }
        size_t j = m;
        while (j < count && m_Matrix.At(j, m) == 0) ++j;
        if (j == count) {
            // Column m depends on the earlier ones: give it a unit entry in the first all-zero row.
            j = FindZeroRow(m);
            if (j == count) return false;
            m_Matrix.At(j, m) = 1.0;
            m_Lead[j] = std::min(m_Lead[j], m);
            m_Stable[j] = 0;
        }
        DividePivotRow(j, m);
        if (j != m) SwapRows(j, m);
        Forward(m, m, m + 1);
    }
    BackwardAll();
    return true;
}

size_t Elimination::FindZeroRow(size_t from) const {
    const size_t count = m_Matrix.Rows(), coefficients = m_Matrix.Columns() - 1;
    for (size_t row = from; row < count; ++row) {
        const double* entries = m_Matrix.Row(row);
        // The leading entries known to be +0 need no look.
        size_t k = std::min(m_Lead[row], coefficients);
        while (k < coefficients && entries[k] == 0) ++k;
        if (k == coefficients) return row;
    }
    return count;
}

void Elimination::DividePivotRow(size_t row, size_t column) {
    const double coef = m_Matrix.At(row, column);
    if (m_PivotReportSource && !(coef != 0))
        ReportFailure("coef != 0", m_PivotReportSource, __LINE__, RCNET_REPORT_NUMERIC);
    kernels::Divide(m_Matrix.Row(row), coef, m_Matrix.Columns());
    m_Lead[row] = 0;  // +0 / coef may be -0 or NaN
    m_Stable[row] = 0;
}

void Elimination::SwapRows(size_t a, size_t b) {
    m_Matrix.SwapRows(a, b);
    std::swap(m_Lead[a], m_Lead[b]);
    std::swap(m_Stable[a], m_Stable[b]);
}

// The plain sweep of one row from entry `skip` on, and its bookkeeping.
void Elimination::SweepRow(size_t pivot, size_t row, double factor, size_t skip) {
    const size_t columns = m_Matrix.Columns();
    double* target = m_Matrix.Row(row);
    const double* source = m_Matrix.Row(pivot);
    kernels::Active().eliminateFlush(target + skip, source + skip, factor, columns - skip, m_Bound);
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

size_t Elimination::ForwardBlock(size_t m0) {
    const size_t count = m_Matrix.Rows();
    if (count < m0 + 2 * kBlock) return m0;  // a short rest goes pivot by pivot
    const size_t blockEnd = m0 + kBlock;
    // Left of the block its rows must hold known +0s, which the pivots leave alone.
    for (size_t row = m0; row < blockEnd; ++row)
        if (m_Lead[row] < m0) return m0;
    // The pivots go one by one over the panel (the block's own columns) only; the block's rows get the
    // rest of their sweeps and divisions afterwards, all threads taking columns.
    double factors[kBlock * kBlock];  // per block row, its factor for each pivot
    double coefs[kBlock];
    size_t m = m0;
    for (; m < blockEnd; ++m) {
        size_t j = m;
        while (j < blockEnd && m_Matrix.At(j, m) == 0) ++j;
        if (j == blockEnd) break;  // the pivot lies below the block, or there is none
        const double coef = m_Matrix.At(j, m);
        if (!std::isfinite(coef)) break;
        // A factor that is not finite changes the entries left of the block too: the plain path's.
        bool finite = true;
        for (size_t row = m; row < blockEnd; ++row) finite = finite && std::isfinite(m_Matrix.At(row, m));
        if (!finite) break;
        kernels::Divide(m_Matrix.Row(j) + m0, coef, kBlock);
        if (j != m) {
            SwapRows(j, m);
            std::swap_ranges(factors + (j - m0) * kBlock, factors + (j - m0 + 1) * kBlock,
                             factors + (m - m0) * kBlock);
        }
        coefs[m - m0] = coef;
        const double* pivot = m_Matrix.Row(m);
        for (size_t row = m + 1; row < blockEnd; ++row) {
            double* target = m_Matrix.Row(row);
            const double factor = target[m];
            factors[(row - m0) * kBlock + (m - m0)] = factor;
            kernels::Active().eliminateFlush(target + m0, pivot + m0, factor, kBlock, m_Bound);
        }
    }
    if (m == m0) return m0;
    FinishBlockRows(m0, m - m0, factors, coefs);
    ApplyBlock(m0, m - m0, blockEnd);
    return m;
}

void Elimination::FinishBlockRows(size_t m0, size_t done, const double* factors, const double* coefs) {
    const size_t columns = m_Matrix.Columns(), blockEnd = m0 + kBlock;
    double* rows[kBlock];
    const double* pivots[kBlock];
    for (size_t i = 0; i < kBlock; ++i) pivots[i] = rows[i] = m_Matrix.Row(m0 + i);
    constexpr size_t kChunk = 64;
    const size_t chunks = (columns + kChunk - 1) / kChunk;
    m_Parallel.RunEach(chunks, 1, [&](size_t begin, size_t end) {
        for (size_t k = begin; k < end; ++k) {
            const size_t c0 = k * kChunk, c1 = std::min(columns, c0 + kChunk);
            // Left of the block: the pivots keep +0 as it is; the pivot rows' division remains.
            if (c0 < m0) {
                for (size_t i = 0; i < done; ++i)
                    kernels::Divide(rows[i] + c0, coefs[i], std::min(c1, m0) - c0);
            }
            const size_t b = std::max(c0, blockEnd);
            if (b >= c1) continue;
            // Right of it, row after row: the pivots before the row's group in one tile, then those
            // within the group, then the division of a pivot row; a row is final before the next uses it.
            for (size_t g = 0; g < kBlock; g += kernels::kPivotRows) {
                kernels::ApplyPivots(rows + g, kernels::kPivotRows, factors + g * kBlock, kBlock, pivots,
                                     std::min(g, done), b, c1, m_Bound);
                for (size_t i = g; i < g + kernels::kPivotRows; ++i) {
                    if (i > g && g < done) {
                        kernels::ApplyPivots(rows + i, 1, factors + i * kBlock + g, kBlock, pivots + g,
                                             std::min(i, done) - g, b, c1, m_Bound);
                    }
                    if (i < done) kernels::Divide(rows[i] + b, coefs[i], c1 - b);
                }
            }
        }
    });

    m_BlockPivotZeros.clear();
    for (size_t i = 0; i < kBlock; ++i) {
        const size_t row = m0 + i;
        const double* target = rows[i];
        if (i < done) {
            m_Lead[row] = 0;  // divided
            m_Stable[row] = 0;
            size_t pivotZeros = m0;  // left of the block: +0 divided, +-0
            while (pivotZeros < columns - 1 && target[pivotZeros] == 0) ++pivotZeros;
            m_BlockPivotZeros.push_back(pivotZeros);
            continue;
        }
        size_t lead = m0;
        while (lead < columns && IsPositiveZero(target[lead])) ++lead;
        m_Lead[row] = lead;
        m_Stable[row] = 1;
    }
}

void Elimination::ApplyBlock(size_t m0, size_t done, size_t first) {
    const size_t count = m_Matrix.Rows(), columns = m_Matrix.Columns();
    std::vector<const double*> pivots(done);
    for (size_t i = 0; i < done; ++i) pivots[i] = m_Matrix.Row(m0 + i);
    constexpr size_t kGroup = 8;
    const size_t groups = (count - first + kGroup - 1) / kGroup;
    const size_t minGroups = std::max<size_t>(1, kEntriesPerThread / (kGroup * done * (columns - m0)));
    m_Parallel.RunEach(groups, minGroups, [&](size_t begin, size_t end) {
        double factors[kGroup * kBlock];
        double* rows[kGroup];
        size_t indices[kGroup];
        for (size_t g = begin; g < end; ++g) {
            size_t tiled = 0;
            for (size_t row = first + g * kGroup; row < std::min(count, first + (g + 1) * kGroup); ++row) {
                if (!BlockRow(row, m0, done, factors + tiled * kBlock)) continue;
                rows[tiled] = m_Matrix.Row(row);
                indices[tiled++] = row;
            }
            kernels::ApplyPivots(rows, tiled, factors, kBlock, pivots.data(), done, m0 + done, columns,
                                 m_Bound);
            for (size_t r = 0; r < tiled; ++r) {
                // Every entry left of m0 + done is +0 now: the leading zeros come from the rest.
                const double* target = rows[r];
                size_t lead = m0 + done;
                while (lead < columns && IsPositiveZero(target[lead])) ++lead;
                m_Lead[indices[r]] = lead;
                m_Stable[indices[r]] = 1;
            }
        }
    });
}

bool Elimination::BlockRow(size_t row, size_t m0, size_t done, double* factors) {
    const size_t panelEnd = m0 + done;
    double* target = m_Matrix.Row(row);
    // Left of m0 the row must hold known +0s, which the pivots leave alone.
    size_t i = m_Lead[row] >= m0 ? 0 : done + 1;
    for (; i < done; ++i) {
        const size_t column = m0 + i;
        const double factor = target[column];
        if (!std::isfinite(factor)) break;
        factors[i] = factor;
        const double* pivot = m_Matrix.Row(column);
        kernels::Active().eliminateFlush(target + column, pivot + column, factor, panelEnd - column, m_Bound);
    }
    if (i == done) return true;
    // Pivot by pivot from here, as the plain sweep goes; the pivots before owe their right part first.
    if (i > done) {
        i = 0;
    } else {
        const double* pivots[kBlock];
        for (size_t k = 0; k < i; ++k) pivots[k] = m_Matrix.Row(m0 + k);
        kernels::ApplyPivots(&target, 1, factors, kBlock, pivots, i, panelEnd, m_Matrix.Columns(), m_Bound);
        m_Lead[row] = m0 + i;
    }
    for (; i < done; ++i) {
        const double factor = target[m0 + i];
        SweepRow(m0 + i, row, factor,
                 std::isfinite(factor) ? std::min(m_Lead[row], m_BlockPivotZeros[i]) : 0);
    }
    return false;
}

void Elimination::BackwardAll() {
    m_BlockNonZero.resize(kBlock);
    for (size_t j1 = m_Matrix.Rows(); j1 > 1;) {
        const size_t j0 = j1 - 1 > kBlock ? j1 - kBlock : 1;
        // The block's own rows first, pivot by pivot as the plain pass goes; its pivot rows are final then.
        for (size_t j = j1 - 1; j > j0; --j) Backward(j, j0, j);
        // Then every row above receives the block's pivots in order, one row after another.
        for (size_t j = j0; j < j1; ++j) NonZeroColumns(j, m_BlockNonZero[j - j0]);
        const size_t minRows = std::max<size_t>(1, kEntriesPerThread / (4 * (j1 - j0)));
        m_Parallel.Run(j0, minRows, [&](size_t begin, size_t end) {
            for (size_t row = begin; row < end; ++row) BackwardBlockRow(row, j0, j1);
        });
        j1 = j0;
    }
}

// Pivots j1 - 1 down to j0 on one row: BackwardRow's operations, with the leading-zero bound settled
// once at the end (nothing reads it in between).
void Elimination::BackwardBlockRow(size_t row, size_t j0, size_t j1) {
    const size_t columns = m_Matrix.Columns();
    double* target = m_Matrix.Row(row);
    bool touched = false;
    size_t firstTouched = columns;
    for (size_t j = j1; j-- > j0;) {
        const std::vector<size_t>& nonZero = m_BlockNonZero[j - j0];
        const double factor = target[j];
        if (nonZero.size() * 4 >= columns || !m_Stable[row] || !std::isfinite(factor)) {
            if (touched) m_Lead[row] = std::min(m_Lead[row], firstTouched);
            touched = false;
            SweepRow(j, row, factor, 0);
            continue;
        }
        const double* source = m_Matrix.Row(j);
        for (size_t i : nonZero) target[i] = kernels::EliminateEntry(target[i], source[i], factor, m_Bound);
        if (!nonZero.empty()) firstTouched = std::min(firstTouched, nonZero.front());
        touched = true;
    }
    if (touched) m_Lead[row] = std::min(m_Lead[row], firstTouched);
}

void Elimination::NonZeroColumns(size_t pivot, std::vector<size_t>& nonZero) const {
    const double* source = m_Matrix.Row(pivot);
    const size_t columns = m_Matrix.Columns();
    nonZero.clear();
    // Left of its own column a pivot row is zero but for rare cases: look for any first, in one pass the
    // compiler vectorises.
    const size_t left = std::min(pivot, columns);
    bool anyLeft = false;
    for (size_t i = 0; i < left; ++i) anyLeft |= !(source[i] == 0);
    for (size_t i = anyLeft ? 0 : left; i < columns; ++i)
        if (!(source[i] == 0)) nonZero.push_back(i);
}

void Elimination::Backward(size_t pivot, size_t first, size_t end) {
    if (end <= first) return;
    NonZeroColumns(pivot, m_PivotNonZero);
    const bool sparse = m_PivotNonZero.size() * 4 < m_Matrix.Columns();
    const size_t width = sparse ? m_PivotNonZero.size() + 1 : m_Matrix.Columns();
    const size_t minRows = std::max<size_t>(1, kEntriesPerThread / width);
    m_Parallel.Run(end - first, minRows, [&](size_t begin, size_t stop) {
        for (size_t row = first + begin; row < first + stop; ++row) BackwardRow(pivot, row, m_PivotNonZero);
    });
}

void Elimination::BackwardRow(size_t pivot, size_t row, const std::vector<size_t>& nonZero) {
    const size_t columns = m_Matrix.Columns();
    const double factor = m_Matrix.At(row, pivot);
    const bool sparse = nonZero.size() * 4 < columns;
    if (!sparse || !m_Stable[row] || !std::isfinite(factor)) {
        SweepRow(pivot, row, factor, 0);
        return;
    }
    const double* source = m_Matrix.Row(pivot);
    double* target = m_Matrix.Row(row);
    for (size_t i : nonZero) target[i] = kernels::EliminateEntry(target[i], source[i], factor, m_Bound);
    // Only the entries just computed can have stopped being +0 (a rescan of the row would cost as much
    // as the sweep).
    size_t lead = m_Lead[row];
    for (size_t i : nonZero) {
        if (i >= lead) break;
        if (!IsPositiveZero(target[i])) lead = i;
    }
    m_Lead[row] = lead;
}

}  // namespace

bool GaussJordan(RowMatrix& matrix, const EliminationRules& rules, const Parallel& parallel,
                 std::vector<size_t>& order) {
    const size_t count = matrix.Rows();
    order.resize(count);
    std::iota(order.begin(), order.end(), size_t{0});
    if (count == 0) return true;
    // A zero first diagonal entry: exchange row and column 0 with the first row and column whose
    // diagonal entry is not zero, which keeps the coefficient part symmetric.
    if (rules.prePivot && matrix.At(0, 0) == 0) {
        size_t i = 1;
        while (i < count && matrix.At(i, i) == 0) ++i;
        if (i >= count) return false;
        matrix.SwapRows(0, i);
        std::swap(order[0], order[i]);
        for (size_t r = 0; r < count; ++r) std::swap(matrix.At(r, 0), matrix.At(r, i));
    }
    return Elimination(matrix, rules, parallel).Run();
}

}  // namespace rcnet
