#include "src/Solver/Solver.h"

#include "src/Report.h"
#include "src/Solver/Elimination.h"

namespace rcnet {

template <typename Policy>
NormalEquationSolver<Policy>::NormalEquationSolver(int32_t patternSize) : m_PatternSize(patternSize) {
    Reset();
}

template <typename Policy>
void NormalEquationSolver<Policy>::Reset() {
    // A negative size (impossible from a network) leaves no rows rather than a huge matrix.
    const size_t n = m_PatternSize >= 0 ? static_cast<size_t>(m_PatternSize) : 0;
    const size_t rows = m_PatternSize >= 0 && Policy::kThreshold ? n + 1 : n;
    m_Folded.Resize(rows, rows + 1);
    m_Weights.assign(rows, 0.0);
}

template <typename Policy>
void NormalEquationSolver<Policy>::AddRow(const SolverPattern& row) {
    static constexpr const char* kReportSource = Policy::kReportSource;
    const int64_t size = static_cast<int64_t>(row.values.size());
    RC_REQUIRE_AS(RCNET_REPORT_INTERNAL, size == m_PatternSize, );
    RowMatrix& matrix = m_Folded.Synced();
    const size_t n = static_cast<size_t>(m_PatternSize);
    const size_t rhs = matrix.Columns() - 1;
    const double* v = row.values.data();
    const double y = row.target;
    for (size_t j = 0; j < n; ++j) {
        double* matrixRow = matrix.Row(j);
        for (size_t k = 0; k < n; ++k) matrixRow[k] = matrixRow[k] + v[k] * v[j];
        if (Policy::kThreshold) matrixRow[n] = matrixRow[n] + v[j];
        matrixRow[rhs] = matrixRow[rhs] + v[j] * y;
    }
    if (!Policy::kThreshold) return;
    double* last = matrix.Row(n);
    for (size_t j = 0; j < n; ++j) last[j] = last[j] + v[j];
    last[n] = last[n] + 1.0;
    last[n + 1] = last[n + 1] + y;
}

template <typename Policy>
void NormalEquationSolver<Policy>::AddRows(const std::vector<SolverPattern>& rows) {
    if (m_PatternSize >= 0) m_Folded.Fold(rows, static_cast<size_t>(m_PatternSize), Policy::kThreshold);
}

template <typename Policy>
void NormalEquationSolver<Policy>::AddRows(const std::vector<PatternView>& rows) {
    if (m_PatternSize >= 0) m_Folded.Fold(rows, static_cast<size_t>(m_PatternSize), Policy::kThreshold);
}

template <typename Policy>
void NormalEquationSolver<Policy>::AddToDiagonal(size_t count, double ridge) {
    m_Folded.AddToDiagonal(count, ridge);
}

template <typename Policy>
void NormalEquationSolver<Policy>::SetMatrix(const RowMatrix& matrix) {
    m_Folded.Replace(matrix);
    m_Weights.assign(matrix.Rows(), 0.0);
}

template <typename Policy>
void NormalEquationSolver<Policy>::SetRightHandSide(const Vector& column) {
    m_Folded.SetLastColumn(column);
}

template <typename Policy>
const Vector& NormalEquationSolver<Policy>::Solve() {
    static constexpr const char* kReportSource = Policy::kReportSource;
    RowMatrix& matrix = m_Folded.Synced();
    if (matrix.Rows() == 0) {
        Reset();
        return m_Weights;
    }
    const int64_t iSize = static_cast<int64_t>(matrix.Rows());
    const int64_t jSize = static_cast<int64_t>(matrix.Columns());
    RC_CHECK_AS(RCNET_REPORT_INTERNAL, iSize + 1 == jSize);
    const int64_t columnsBeyond = Policy::kThreshold ? 2 : 1;
    if (jSize != m_PatternSize + columnsBeyond)
        ReportFailure(Policy::kShapeCheck, kReportSource, __LINE__, RCNET_REPORT_INTERNAL);
    if (jSize < iSize + 1) return m_Weights;  // no right-hand side to solve for

    const EliminationRules rules{Policy::kFlushBound, Policy::kPrePivot,
                                 Policy::kCheckPivot ? kReportSource : nullptr};
    std::vector<size_t> order;
    if (!GaussJordan(matrix, rules, m_Folded.Threads(), order)) return m_Weights;
    const size_t count = matrix.Rows();
    Vector weights(count, 0.0);
    for (size_t k = 0; k < count; ++k) weights[order[k]] = matrix.At(k, count);
    m_Weights.swap(weights);
    return m_Weights;
}

template class NormalEquationSolver<ThresholdPolicy>;
template class NormalEquationSolver<NoThresholdPolicy>;

}  // namespace rcnet
