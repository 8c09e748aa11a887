// Least-squares readout without a threshold term, by normal equations and Gauss-Jordan elimination.
//
// For patterns (v, y) with n values each, AddRow folds every pattern into the augmented matrix [A | b] of
// n rows, A = sum of v v^T and b = sum of v y (column n). Solve reduces it with unit pivots, flushing
// every eliminated entry strictly inside (-1e-15, 1e-15), right-hand side included, to zero. A column
// without a pivot takes a unit entry in the first row whose coefficients are all zero, so its weight
// becomes that row's right-hand side (0 for a neuron whose state is always 0). There is no pre-pivot:
// a zero in row 0, column 0 is handled like any dependent column. On exit m_Weights holds the n weights.
#pragma once

#include <cstdint>
#include <vector>

#include "src/Solver/FoldedMatrix.h"
#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/Solver/WorkerPool.h"
#include "src/Types.h"

namespace rcnet {

class NoThresholdSolver {
public:
    explicit NoThresholdSolver(int32_t patternSize);

    void Reset();
    // Folds every pattern with exactly m_PatternSize values, in list order; others are skipped silently.
    void AddRows(const std::vector<SolverPattern>& rows);
    void AddRow(const SolverPattern& row);
    const Vector& Solve();

    // Adds ridge to the first count diagonal entries (the neurons' columns, never the threshold's);
    // nothing at all for 0, which leaves the bits as they were.
    void AddToDiagonal(size_t count, double ridge);
    // Lets one fold serve several right-hand sides: puts back a copy of the folded matrix taken before
    // a Solve (and forgets the weights), then replaces its right-hand side column.
    void SetMatrix(const RowMatrix& matrix);
    void SetRightHandSide(const Vector& column);

    void NormalizeRow(size_t row, double coef);
    void EliminateRow(size_t pivotRow, size_t row, double factor);
    // The first row whose coefficient entries are all zero, or the row count if there is none.
    size_t FindZeroRow() const;

    // Threads for the fold and the elimination (counting the caller); results do not depend on it.
    void SetThreadCount(unsigned threads) { m_Folded.SetThreadCount(threads); }

    int32_t PatternSize() const { return m_PatternSize; }
    const RowMatrix& GetMatrix() const { return m_Folded.Synced(); }
    const Vector& Weights() const { return m_Weights; }

private:
    int32_t m_PatternSize;
    FoldedMatrix m_Folded;
    Vector m_Weights;
    bool m_FixDependent;
};

}  // namespace rcnet
