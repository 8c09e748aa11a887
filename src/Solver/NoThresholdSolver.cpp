#include "src/Solver/NoThresholdSolver.h"

#include <algorithm>

#include "common/Report.h"
#include "src/Solver/Elimination.h"
#include "src/Solver/Fold.h"
#include "src/Solver/RowKernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "NoThresholdSolver";
constexpr double kFlushBound = 1e-15;
}  // namespace

NoThresholdSolver::NoThresholdSolver(int32_t patternSize) : m_PatternSize(patternSize), m_FixDependent(true) {
    Reset();
}

void NoThresholdSolver::Reset() {
    m_Folder.Finish();
    m_LowerStale = false;
    const size_t rows = m_PatternSize >= 0 ? static_cast<size_t>(m_PatternSize) : 0;
    m_Matrix.Resize(rows, rows + 1);
    m_Weights.assign(rows, 0.0);
}

void NoThresholdSolver::AddRow(const SolverPattern& row) {
    const int64_t size = static_cast<int64_t>(row.values.size());
    RC_REQUIRE(size == m_PatternSize, );
    SyncLower();
    const size_t n = static_cast<size_t>(m_PatternSize);
    const double* v = row.values.data();
    const double y = row.target;
    for (size_t j = 0; j < n; ++j) {
        double* matrixRow = m_Matrix.Row(j);
        for (size_t k = 0; k < n; ++k) matrixRow[k] = matrixRow[k] + v[k] * v[j];
        matrixRow[n] = matrixRow[n] + v[j] * y;
    }
}

void NoThresholdSolver::AddRows(const std::vector<SolverPattern>& rows) {
    if (m_PatternSize < 0) return;
    const size_t n = static_cast<size_t>(m_PatternSize);
    std::vector<const SolverPattern*> fitting;
    fitting.reserve(rows.size());
    for (const SolverPattern& row : rows) {
        if (row.values.size() == n) fitting.push_back(&row);
    }
    if (fitting.empty()) return;
    m_Folder.Add(m_Matrix, fitting, n, false, m_Parallel);
    m_LowerStale = true;
}

void NoThresholdSolver::SyncLower() const {
    m_Folder.Finish();
    if (!m_LowerStale) return;
    MirrorUpper(m_Matrix, m_Parallel);
    m_LowerStale = false;
}

void NoThresholdSolver::AddToDiagonal(size_t count, double ridge) {
    if (ridge == 0) return;
    SyncLower();
    m_Matrix.AddToDiagonal(count, ridge);
}

void NoThresholdSolver::SetMatrix(const RowMatrix& matrix) {
    m_Folder.Finish();  // nothing may still fold into the matrix being replaced
    m_Matrix = matrix;
    m_LowerStale = false;
    m_Weights.assign(m_Matrix.Rows(), 0.0);
}

void NoThresholdSolver::SetRightHandSide(const Vector& column) {
    SyncLower();
    m_Matrix.SetLastColumn(column);
}

void NoThresholdSolver::NormalizeRow(size_t row, double coef) {
    SyncLower();
    kernels::Divide(m_Matrix.Row(row), coef, m_Matrix.Columns());
}

void NoThresholdSolver::EliminateRow(size_t pivotRow, size_t row, double factor) {
    SyncLower();
    kernels::EliminateFlush(m_Matrix.Row(row), m_Matrix.Row(pivotRow), factor, m_Matrix.Columns(),
                            kFlushBound);
}

size_t NoThresholdSolver::FindZeroRow() const {
    SyncLower();
    const size_t rows = m_Matrix.Rows();
    if (rows == 0) return 0;
    const size_t coefficients = m_Matrix.Columns() - 1;
    for (size_t i = 0; i < rows; ++i) {
        const double* row = m_Matrix.Row(i);
        if (std::all_of(row, row + coefficients, [](double x) { return x == 0; })) return i;
    }
    return rows;
}

const Vector& NoThresholdSolver::Solve() {
    SyncLower();
    if (m_Matrix.Rows() == 0) {
        Reset();
        return m_Weights;
    }
    const int64_t iSize = static_cast<int64_t>(m_Matrix.Rows());
    const int64_t jSize = static_cast<int64_t>(m_Matrix.Columns());
    RC_CHECK(iSize + 1 == jSize);
    RC_CHECK(jSize == m_PatternSize + 1);
    const size_t count = static_cast<size_t>(iSize);
    if (jSize < iSize + 1) return m_Weights;

    Elimination sweep(m_Matrix, kFlushBound, nullptr, m_Parallel);
    for (size_t m = 0; m < count; ++m) {
        const size_t next = sweep.ForwardBlock(m);
        if (next > m) {
            m = next - 1;
            continue;
        }
        size_t j = m;
        while (j < count && m_Matrix.At(j, m) == 0) ++j;
        if (j == count) {
            if (!m_FixDependent) return m_Weights;
            const size_t e = FindZeroRow();
            if (e >= count) return m_Weights;
            m_Matrix.At(e, m) = 1.0;
            sweep.EntrySet(e, m);
            j = e;
        }
        NormalizeRow(j, m_Matrix.At(j, m));
        sweep.RowDivided(j);
        if (j != m) {
            m_Matrix.SwapRows(j, m);
            sweep.RowsSwapped(j, m);
        }
        sweep.Forward(m, m, m + 1);
    }
    sweep.BackwardAll();

    Vector weights(count, 0.0);
    for (size_t k = 0; k < count; ++k) weights[k] = m_Matrix.At(k, count);
    m_Weights = std::move(weights);
    return m_Weights;
}

}  // namespace rcnet
