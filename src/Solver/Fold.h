// Folding many patterns into a normal-equation matrix, fast and bit-identical to folding them one by
// one: with u = (v, 1, y) (the 1 only with a threshold term), entry (j, k) receives u_j * u_k for every
// pattern, in pattern order. u_j * 1 is u_j exactly, so the threshold column and row get the plain sums
// of the values, and the last column the products with the target, as the plain fold adds them.
//
// Each product is computed once, for the upper triangle (u_j * u_k and u_k * u_j are the same double);
// MirrorUpper copies the lower triangle from it when the whole matrix is needed. Blocks of rows are
// shared out between threads, one owner per entry and batch.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/Solver/WorkerPool.h"
#include "src/Types.h"

namespace rcnet {

// Folds batches of patterns into a matrix, each batch's products computed on the worker threads while
// the caller goes on (harvesting the next patterns, say); the caller takes part when it brings the next
// batch or wants the matrix. The rows are shared out the same way for every batch, so each entry
// receives the batches in order: the bits do not depend on who computes them.
class Folder {
public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Packs the patterns and has u_j * u_k added to entry (j, k) for j < matrix.Rows(),
    // j <= k < matrix.Columns(), of every pattern in list order. Every pattern must have n values;
    // matrix.Columns() must be n + 2 with the threshold term, n + 1 without, and matrix.Rows() one
    // less. The values are packed before Add returns (the rows may be overwritten then); the matrix
    // must stay where it is until Finish.
    void Add(RowMatrix& matrix, const std::vector<PatternView>& patterns, size_t n, bool threshold,
             const Parallel& parallel);
    // Returns once every product added is in the matrix.
    void Finish();

    // Patterns of rows `width` columns wide that Add packs and folds as one batch: the batch goes on the
    // workers and Add returns, so a caller that adds this many at a time works beside the fold.
    static size_t BatchPatterns(size_t width);

    // The threads' units of a batch: column panels [g0, g1) against rows [rowBegin, rowEnd), covering
    // every (row, panel) pair of the upper triangle once, the most work (tiles) first.
    struct Unit {
        size_t g0, g1, rowBegin, rowEnd, work;
    };
    static std::vector<Unit> Units(size_t rowCount, size_t panels, size_t panelWidth, size_t group,
                                   unsigned threads);

private:
    struct Flight;
    std::unique_ptr<Flight> m_Flight;
};

// Copies entry (k, j) to entry (j, k) for k < j < matrix.Rows().
void MirrorUpper(RowMatrix& matrix, const Parallel& parallel);

// The augmented matrix that both normal-equation solvers fold their patterns into. The fold fills only
// the upper triangle and runs behind the caller; every read or write of the matrix goes through
// Synced(), which waits for the fold and mirrors the lower triangle first.
class FoldedMatrix {
public:
    // Zeroes, at the new size.
    void Resize(size_t rows, size_t columns);
    // Folds the patterns with exactly n values, in list order; others are skipped silently. threshold:
    // the matrix has the constant-1 column (see Folder::Add).
    void Fold(const std::vector<SolverPattern>& rows, size_t n, bool threshold);
    // The same for rows of n values each.
    void Fold(const std::vector<PatternView>& rows, size_t n, bool threshold);
    // The whole matrix, up to date.
    RowMatrix& Synced() const;
    // Patterns per Fold call that fold as one batch behind the caller (Folder::BatchPatterns).
    size_t BatchPatterns() const { return Folder::BatchPatterns(m_Matrix.Columns()); }

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
