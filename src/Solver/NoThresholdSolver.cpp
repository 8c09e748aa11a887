#include "src/Solver/NoThresholdSolver.h"

#include <algorithm>

#include "src/Report.h"
#include "src/Solver/Elimination.h"
#include "src/kernels/RowKernels.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "NoThresholdSolver";
constexpr double kFlushBound = 1e-15;
}  // namespace

NoThresholdSolver::NoThresholdSolver(int32_t patternSize) : m_PatternSize(patternSize), m_FixDependent(true) {
    Reset();
}

void NoThresholdSolver::Reset() {
    const size_t rows = m_PatternSize >= 0 ? static_cast<size_t>(m_PatternSize) : 0;
    m_Folded.Resize(rows, rows + 1);
    m_Weights.assign(rows, 0.0);
}

void NoThresholdSolver::AddRow(const SolverPattern& row) {
    const int64_t size = static_cast<int64_t>(row.values.size());
    RC_REQUIRE(size == m_PatternSize, );
    RowMatrix& matrix = m_Folded.Synced();
    const size_t n = static_cast<size_t>(m_PatternSize);
    const double* v = row.values.data();
    const double y = row.target;
    for (size_t j = 0; j < n; ++j) {
        double* matrixRow = matrix.Row(j);
        for (size_t k = 0; k < n; ++k) matrixRow[k] = matrixRow[k] + v[k] * v[j];
        matrixRow[n] = matrixRow[n] + v[j] * y;
    }
}

void NoThresholdSolver::AddRows(const std::vector<SolverPattern>& rows) {
    if (m_PatternSize >= 0) m_Folded.Fold(rows, static_cast<size_t>(m_PatternSize), false);
}

void NoThresholdSolver::AddToDiagonal(size_t count, double ridge) {
    m_Folded.AddToDiagonal(count, ridge);
}

void NoThresholdSolver::SetMatrix(const RowMatrix& matrix) {
    m_Folded.Replace(matrix);
    m_Weights.assign(matrix.Rows(), 0.0);
}

void NoThresholdSolver::SetRightHandSide(const Vector& column) {
    m_Folded.SetLastColumn(column);
}

void NoThresholdSolver::NormalizeRow(size_t row, double coef) {
    RowMatrix& matrix = m_Folded.Synced();
    kernels::Divide(matrix.Row(row), coef, matrix.Columns());
}

void NoThresholdSolver::EliminateRow(size_t pivotRow, size_t row, double factor) {
    RowMatrix& matrix = m_Folded.Synced();
    kernels::EliminateFlush(matrix.Row(row), matrix.Row(pivotRow), factor, matrix.Columns(), kFlushBound);
}

size_t NoThresholdSolver::FindZeroRow() const {
    RowMatrix& matrix = m_Folded.Synced();
    const size_t rows = matrix.Rows();
    if (rows == 0) return 0;
    const size_t coefficients = matrix.Columns() - 1;
    for (size_t i = 0; i < rows; ++i) {
        const double* row = matrix.Row(i);
        if (std::all_of(row, row + coefficients, [](double x) { return x == 0; })) return i;
    }
    return rows;
}

const Vector& NoThresholdSolver::Solve() {
    RowMatrix& matrix = m_Folded.Synced();
    if (matrix.Rows() == 0) {
        Reset();
        return m_Weights;
    }
    const int64_t iSize = static_cast<int64_t>(matrix.Rows());
    const int64_t jSize = static_cast<int64_t>(matrix.Columns());
    RC_CHECK(iSize + 1 == jSize);
    RC_CHECK(jSize == m_PatternSize + 1);
    const size_t count = static_cast<size_t>(iSize);
    if (jSize < iSize + 1) return m_Weights;

    Elimination sweep(matrix, kFlushBound, nullptr, m_Folded.Threads());
    for (size_t m = 0; m < count; ++m) {
        const size_t next = sweep.ForwardBlock(m);
        if (next > m) {
            m = next - 1;
            continue;
        }
        size_t j = m;
        while (j < count && matrix.At(j, m) == 0) ++j;
        if (j == count) {
            if (!m_FixDependent) return m_Weights;
            const size_t e = FindZeroRow();
            if (e >= count) return m_Weights;
            matrix.At(e, m) = 1.0;
            sweep.EntrySet(e, m);
            j = e;
        }
        NormalizeRow(j, matrix.At(j, m));
        sweep.RowDivided(j);
        if (j != m) {
            matrix.SwapRows(j, m);
            sweep.RowsSwapped(j, m);
        }
        sweep.Forward(m, m, m + 1);
    }
    sweep.BackwardAll();

    Vector weights(count, 0.0);
    for (size_t k = 0; k < count; ++k) weights[k] = matrix.At(k, count);
    m_Weights = std::move(weights);
    return m_Weights;
}

}  // namespace rcnet
