#include "src/Solver/FoldedMatrix.h"

namespace rcnet {

void FoldedMatrix::Resize(size_t rows, size_t columns) {
    m_Folder.Finish();
    m_LowerStale = false;
    m_Matrix.Resize(rows, columns);
}

void FoldedMatrix::Fold(const std::vector<SolverPattern>& rows, size_t n, bool threshold) {
    std::vector<const SolverPattern*> fitting;
    fitting.reserve(rows.size());
    for (const SolverPattern& row : rows) {
        if (row.values.size() == n) fitting.push_back(&row);
    }
    if (fitting.empty()) return;
    m_Folder.Add(m_Matrix, fitting, n, threshold, m_Parallel);
    m_LowerStale = true;
}

RowMatrix& FoldedMatrix::Synced() const {
    m_Folder.Finish();
    if (m_LowerStale) {
        MirrorUpper(m_Matrix, m_Parallel);
        m_LowerStale = false;
    }
    return m_Matrix;
}

void FoldedMatrix::AddToDiagonal(size_t count, double ridge) {
    if (ridge == 0) return;
    Synced().AddToDiagonal(count, ridge);
}

void FoldedMatrix::Replace(const RowMatrix& matrix) {
    m_Folder.Finish();  // nothing may still fold into the matrix being replaced
    m_Matrix = matrix;
    m_LowerStale = false;
}

void FoldedMatrix::SetLastColumn(const Vector& column) {
    Synced().SetLastColumn(column);
}

void FoldedMatrix::SetThreadCount(unsigned threads) {
    m_Folder.Finish();
    m_Parallel = Parallel(threads);
}

}  // namespace rcnet
