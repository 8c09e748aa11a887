#include "src/Solver/Solver.h"

#include <algorithm>
#include <numeric>

#include "common/Report.h"
#include "src/Solver/Elimination.h"
#include "src/Solver/Fold.h"
#include "src/Solver/RowKernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "Solver";
constexpr double kFlushBound = 1e-10;
}  // namespace

Solver::Solver(int32_t patternSize) : m_PatternSize(patternSize), m_FixDependent(true) {
    Reset();
}

void Solver::Reset() {
    m_Folder.Finish();
    m_LowerStale = false;
    // A negative size (impossible from a network) leaves no rows rather than a huge matrix.
    const size_t rows = m_PatternSize >= 0 ? static_cast<size_t>(m_PatternSize) + 1 : 0;
    m_Matrix.Resize(rows, rows + 1);
    m_Weights.assign(rows, 0.0);
}

void Solver::AddRow(const SolverPattern& row) {
    const int64_t size = static_cast<int64_t>(row.values.size());
    RC_REQUIRE(size == m_PatternSize, );
    SyncLower();
    const size_t n = static_cast<size_t>(m_PatternSize);
    const double* v = row.values.data();
    const double y = row.target;
    for (size_t j = 0; j < n; ++j) {
        double* matrixRow = m_Matrix.Row(j);
        for (size_t k = 0; k < n; ++k) matrixRow[k] = matrixRow[k] + v[k] * v[j];
        matrixRow[n] = matrixRow[n] + v[j];
        matrixRow[n + 1] = matrixRow[n + 1] + v[j] * y;
    }
    double* last = m_Matrix.Row(n);
    for (size_t j = 0; j < n; ++j) last[j] = last[j] + v[j];
    last[n] = last[n] + 1.0;
    last[n + 1] = last[n + 1] + y;
}

void Solver::AddRows(const std::vector<SolverPattern>& rows) {
    if (m_PatternSize < 0) return;
    const size_t n = static_cast<size_t>(m_PatternSize);
    std::vector<const SolverPattern*> fitting;
    fitting.reserve(rows.size());
    for (const SolverPattern& row : rows) {
        if (row.values.size() == n) fitting.push_back(&row);
    }
    if (fitting.empty()) return;
    m_Folder.Add(m_Matrix, fitting, n, true, m_Parallel);
    m_LowerStale = true;
}

void Solver::SyncLower() const {
    m_Folder.Finish();
    if (!m_LowerStale) return;
    MirrorUpper(m_Matrix, m_Parallel);
    m_LowerStale = false;
}

void Solver::AddToDiagonal(size_t count, double ridge) {
    if (ridge == 0) return;
    SyncLower();
    m_Matrix.AddToDiagonal(count, ridge);
}

void Solver::SetMatrix(const RowMatrix& matrix) {
    m_Folder.Finish();  // nothing may still fold into the matrix being replaced
    m_Matrix = matrix;
    m_LowerStale = false;
    m_Weights.assign(m_Matrix.Rows(), 0.0);
}

void Solver::SetRightHandSide(const Vector& column) {
    SyncLower();
    m_Matrix.SetLastColumn(column);
}

void Solver::NormalizeRow(size_t row, double coef) {
    SyncLower();
    RC_CHECK(coef != 0);
    kernels::Divide(m_Matrix.Row(row), coef, m_Matrix.Columns());
}

void Solver::EliminateRow(size_t pivotRow, size_t row, double factor) {
    SyncLower();
    const size_t c = m_Matrix.Columns();
    if (c == 0) return;
    // Solve sizes the flags before it eliminates; a direct call may come before any Solve.
    if (m_ZeroRows.size() != m_Matrix.Rows()) m_ZeroRows.resize(m_Matrix.Rows(), 0);
    double* target = m_Matrix.Row(row);
    const double* pivot = m_Matrix.Row(pivotRow);
    m_ZeroRows[row] = kernels::EliminateFlush(target, pivot, factor, c - 1, kFlushBound);
    kernels::EliminateFlush(target + c - 1, pivot + c - 1, factor, 1, kFlushBound);
}

const Vector& Solver::Solve() {
    SyncLower();
    if (m_Matrix.Rows() == 0) {
        Reset();
        return m_Weights;
    }
    const int64_t iSize = static_cast<int64_t>(m_Matrix.Rows());
    const int64_t jSize = static_cast<int64_t>(m_Matrix.Columns());
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
    if (m_Matrix.At(0, 0) == 0) {
        size_t i = 1;
        while (i < count && m_Matrix.At(i, i) == 0) ++i;
        if (i >= count) return m_Weights;
        m_Matrix.SwapRows(0, i);
        std::swap(order[0], order[i]);
        for (size_t r = 0; r < count; ++r) std::swap(m_Matrix.At(r, 0), m_Matrix.At(r, i));
    }

    Elimination sweep(m_Matrix, kFlushBound, &m_ZeroRows, m_Parallel);
    for (size_t m = 0; m < count; ++m) {
        const size_t next = sweep.ForwardBlock(m);
        if (next > m) {
            m = next - 1;
            continue;
        }
        size_t j = m;
        while (j < count && m_Matrix.At(j, m) == 0) ++j;
        if (j == count) {
            // Column m depends on the earlier ones: give it a unit entry in the first all-zero row.
            if (!m_FixDependent) return m_Weights;
            size_t e = 0;
            while (e < count && !m_ZeroRows[e]) ++e;
            if (e == count) return m_Weights;
            m_Matrix.At(e, m) = 1.0;
            sweep.EntrySet(e, m);
            m_ZeroRows[e] = 0;
            j = e;
        }
        NormalizeRow(j, m_Matrix.At(j, m));
        sweep.RowDivided(j);
        if (j != m) {
            m_Matrix.SwapRows(j, m);
            std::swap(m_ZeroRows[j], m_ZeroRows[m]);
            sweep.RowsSwapped(j, m);
        }
        sweep.Forward(m, m, m + 1);
    }
    sweep.BackwardAll();

    m_Weights.resize(count, 0.0);
    for (size_t k = 0; k < count; ++k) m_Weights[order[k]] = m_Matrix.At(k, count);
    return m_Weights;
}

}  // namespace rcnet
