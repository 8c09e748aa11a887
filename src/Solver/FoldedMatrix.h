// The augmented matrix that both normal-equation solvers fold their patterns into. The fast fold fills
// only the upper triangle and runs behind the caller; every read or write of the matrix goes through
// Synced(), which waits for the fold and mirrors the lower triangle first.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/Fold.h"
#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/Solver/WorkerPool.h"
#include "src/Types.h"

namespace rcnet {

class FoldedMatrix {
public:
    // Zeroes, at the new size.
    void Resize(size_t rows, size_t columns);
    // Folds the patterns with exactly n values, in list order; others are skipped silently. threshold:
    // the matrix has the constant-1 column (see Folder::Add).
    void Fold(const std::vector<SolverPattern>& rows, size_t n, bool threshold);
    // The whole matrix, up to date.
    RowMatrix& Synced() const;

    // Adds ridge to the first count diagonal entries; nothing at all for 0, which leaves the bits as they
    // were.
    void AddToDiagonal(size_t count, double ridge);
    // Puts back a copy taken earlier (one fold serving several right-hand sides).
    void Replace(const RowMatrix& matrix);
    void SetLastColumn(const Vector& column);

    // Threads for the fold and the elimination (counting the caller).
    void SetThreadCount(unsigned threads);
    const Parallel& Threads() const { return m_Parallel; }

private:
    Parallel m_Parallel;
    // Mutable: the lower triangle is brought up to date on first read.
    mutable RowMatrix m_Matrix;
    mutable bool m_LowerStale = false;
    // After the matrix: destroyed first, it finishes a batch still being folded into it.
    mutable Folder m_Folder;
};

}  // namespace rcnet
