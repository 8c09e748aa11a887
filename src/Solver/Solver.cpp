#include "src/Solver/Solver.h"

#include <algorithm>
#include <numeric>

#include "src/Report.h"
#include "src/Solver/Elimination.h"
#include "src/kernels/RowKernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Solver";
constexpr double kFlushBound = 1e-10;
}  // namespace

Solver::Solver(int32_t patternSize) : m_PatternSize(patternSize), m_FixDependent(true) {
    Reset();
}

void Solver::Reset() {
    // A negative size (impossible from a network) leaves no rows rather than a huge matrix.
    const size_t rows = m_PatternSize >= 0 ? static_cast<size_t>(m_PatternSize) + 1 : 0;
    m_Folded.Resize(rows, rows + 1);
    m_Weights.assign(rows, 0.0);
}

void Solver::AddRow(const SolverPattern& row) {
    const int64_t size = static_cast<int64_t>(row.values.size());
    RC_REQUIRE(size == m_PatternSize, );
    RowMatrix& matrix = m_Folded.Synced();
    const size_t n = static_cast<size_t>(m_PatternSize);
    const double* v = row.values.data();
    const double y = row.target;
    for (size_t j = 0; j < n; ++j) {
        double* matrixRow = matrix.Row(j);
        for (size_t k = 0; k < n; ++k) matrixRow[k] = matrixRow[k] + v[k] * v[j];
        matrixRow[n] = matrixRow[n] + v[j];
        matrixRow[n + 1] = matrixRow[n + 1] + v[j] * y;
    }
    double* last = matrix.Row(n);
    for (size_t j = 0; j < n; ++j) last[j] = last[j] + v[j];
    last[n] = last[n] + 1.0;
    last[n + 1] = last[n + 1] + y;
}

void Solver::AddRows(const std::vector<SolverPattern>& rows) {
    if (m_PatternSize >= 0) m_Folded.Fold(rows, static_cast<size_t>(m_PatternSize), true);
}

void Solver::AddToDiagonal(size_t count, double ridge) {
    m_Folded.AddToDiagonal(count, ridge);
}

void Solver::SetMatrix(const RowMatrix& matrix) {
    m_Folded.Replace(matrix);
    m_Weights.assign(matrix.Rows(), 0.0);
}

void Solver::SetRightHandSide(const Vector& column) {
    m_Folded.SetLastColumn(column);
}

void Solver::NormalizeRow(size_t row, double coef) {
    RowMatrix& matrix = m_Folded.Synced();
    RC_CHECK(coef != 0);
    kernels::Divide(matrix.Row(row), coef, matrix.Columns());
}

void Solver::EliminateRow(size_t pivotRow, size_t row, double factor) {
    RowMatrix& matrix = m_Folded.Synced();
    const size_t c = matrix.Columns();
    if (c == 0) return;
    // Solve sizes the flags before it eliminates; a direct call may come before any Solve.
    if (m_ZeroRows.size() != matrix.Rows()) m_ZeroRows.resize(matrix.Rows(), 0);
    double* target = matrix.Row(row);
    const double* pivot = matrix.Row(pivotRow);
    m_ZeroRows[row] = kernels::EliminateFlush(target, pivot, factor, c - 1, kFlushBound);
    kernels::EliminateFlush(target + c - 1, pivot + c - 1, factor, 1, kFlushBound);
}

const Vector& Solver::Solve() {
    RowMatrix& matrix = m_Folded.Synced();
    if (matrix.Rows() == 0) {
        Reset();
        return m_Weights;
    }
    const int64_t iSize = static_cast<int64_t>(matrix.Rows());
    const int64_t jSize = static_cast<int64_t>(matrix.Columns());
    m_ZeroRows.assign(static_cast<size_t>(iSize), 0);
    RC_CHECK(iSize + 1 == jSize);
    RC_CHECK(jSize == m_PatternSize + 2);
    const size_t count = static_cast<size_t>(iSize);
    if (jSize < iSize + 1) return m_Weights;  // no right-hand side to solve for

    // order[i]: the variable that coefficient column i stands for.
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});

    // A zero first diagonal entry: exchange row and column 0 with the first row and column whose
    // diagonal entry is not zero, which keeps the coefficient part symmetric.
    if (matrix.At(0, 0) == 0) {
        size_t i = 1;
        while (i < count && matrix.At(i, i) == 0) ++i;
        if (i >= count) return m_Weights;
        matrix.SwapRows(0, i);
        std::swap(order[0], order[i]);
        for (size_t r = 0; r < count; ++r) std::swap(matrix.At(r, 0), matrix.At(r, i));
    }

    Elimination sweep(matrix, kFlushBound, &m_ZeroRows, m_Folded.Threads());
    for (size_t m = 0; m < count; ++m) {
        const size_t next = sweep.ForwardBlock(m);
        if (next > m) {
            m = next - 1;
            continue;
        }
        size_t j = m;
        while (j < count && matrix.At(j, m) == 0) ++j;
        if (j == count) {
            // Column m depends on the earlier ones: give it a unit entry in the first all-zero row.
            if (!m_FixDependent) return m_Weights;
            size_t e = 0;
            while (e < count && !m_ZeroRows[e]) ++e;
            if (e == count) return m_Weights;
            matrix.At(e, m) = 1.0;
            sweep.EntrySet(e, m);
            m_ZeroRows[e] = 0;
            j = e;
        }
        NormalizeRow(j, matrix.At(j, m));
        sweep.RowDivided(j);
        if (j != m) {
            matrix.SwapRows(j, m);
            std::swap(m_ZeroRows[j], m_ZeroRows[m]);
            sweep.RowsSwapped(j, m);
        }
        sweep.Forward(m, m, m + 1);
    }
    sweep.BackwardAll();

    m_Weights.resize(count, 0.0);
    for (size_t k = 0; k < count; ++k) m_Weights[order[k]] = matrix.At(k, count);
    return m_Weights;
}

}  // namespace rcnet
