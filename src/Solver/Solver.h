// Least-squares readout with a threshold term, by normal equations and Gauss-Jordan elimination.
//
// For patterns (v, y) with n values each, AddRow folds every pattern into the augmented matrix
// [A | b] of n+1 rows: A = sum of u u^T and b = sum of u y, with u = (v, 1), so column n belongs to the
// threshold (its input is the constant 1) and column n+1 is the right-hand side. Solve reduces it with
// unit pivots, flushing every eliminated entry that falls strictly inside (-1e-10, 1e-10) to zero. A
// column without a pivot (a neuron whose states depend linearly on earlier columns) takes a unit entry in
// the first row left all zero, so its weight becomes that row's right-hand side: 0 for a neuron whose
// state is always 0. On exit m_Weights holds the n weights in value order, then the threshold.
#pragma once

#include <cstdint>
#include <vector>

#include "src/Solver/FoldedMatrix.h"
#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/Solver/WorkerPool.h"
#include "src/Types.h"

namespace rcnet {

class Solver {
public:
    explicit Solver(int32_t patternSize);

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

    // Threads for the fold and the elimination (counting the caller); results do not depend on it.
    void SetThreadCount(unsigned threads) { m_Folded.SetThreadCount(threads); }

    int32_t PatternSize() const { return m_PatternSize; }
    const RowMatrix& GetMatrix() const { return m_Folded.Synced(); }
    const Vector& Weights() const { return m_Weights; }
    const std::vector<char>& ZeroRows() const { return m_ZeroRows; }

private:
    int32_t m_PatternSize;
    FoldedMatrix m_Folded;
    Vector m_Weights;
    bool m_FixDependent;
    std::vector<char> m_ZeroRows;  // one flag per row; not vector<bool>: threads set neighbouring flags
};

}  // namespace rcnet
