// Least-squares readout by normal equations and Gauss-Jordan elimination, with or without a threshold
// term: `Solver` and `NoThresholdSolver` are one algorithm, told apart by a policy.
//
// For patterns (v, y) with n values each, AddRow folds every pattern into the augmented matrix [A | b]:
// A = sum of u u^T and b = sum of u y, with u = (v, 1) under a threshold term (its column n has the
// constant input 1) and u = v without one; the right-hand side is the last column. Solve reduces the
// matrix with unit pivots, flushing every eliminated entry that falls strictly inside (-bound, bound) to
// zero (1e-10 with a threshold term, 1e-15 without). A column without a pivot (a neuron whose states
// depend linearly on earlier columns) takes a unit entry in the first row whose coefficients are all
// zero, so its weight becomes that row's right-hand side: 0 for a neuron whose state is always 0. With a
// threshold term a zero in row 0, column 0 is first exchanged, row and column, with the first nonzero
// diagonal entry. On exit Weights() holds the n weights in value order, then the threshold if any.
#pragma once

#include <cstdint>
#include <vector>

#include "src/Solver/Fold.h"
#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/Types.h"

namespace rcnet {

// What sets the two solvers apart. Report texts are the policies' own: each solver names its checks.
struct ThresholdPolicy {
    static constexpr bool kThreshold = true;
    static constexpr double kFlushBound = 1e-10;
    static constexpr bool kPrePivot = true;
    static constexpr bool kCheckPivot = true;  // reports "coef != 0" (never fails: pivots are nonzero)
    static constexpr char kReportSource[] = "Solver";
    static constexpr char kShapeCheck[] = "jSize == m_PatternSize + 2";
};

struct NoThresholdPolicy {
    static constexpr bool kThreshold = false;
    static constexpr double kFlushBound = 1e-15;
    static constexpr bool kPrePivot = false;
    static constexpr bool kCheckPivot = false;
    static constexpr char kReportSource[] = "NoThresholdSolver";
    static constexpr char kShapeCheck[] = "jSize == m_PatternSize + 1";
};

template <typename Policy>
class NormalEquationSolver {
public:
    explicit NormalEquationSolver(int32_t patternSize);

    // A zero matrix and zero weights.
    void Reset();
    // Folds every pattern with exactly m_PatternSize values, in list order; others are skipped silently.
    void AddRows(const std::vector<SolverPattern>& rows);
    // The same for rows that all have m_PatternSize values.
    void AddRows(const std::vector<PatternView>& rows);
    // Folds one pattern; one of another length is reported and changes nothing.
    void AddRow(const SolverPattern& row);
    // Reduces the matrix in place and returns the weights. A dependent column with no all-zero row left
    // ends the reduction there, the weights as they were.
    const Vector& Solve();

    // Adds ridge to the first count diagonal entries (the neurons' columns, never the threshold's);
    // nothing at all for 0, which leaves the bits as they were.
    void AddToDiagonal(size_t count, double ridge);
    // Lets one fold serve several right-hand sides: puts back a copy of the folded matrix taken before
    // a Solve (and forgets the weights), then replaces its right-hand side column.
    void SetMatrix(const RowMatrix& matrix);
    void SetRightHandSide(const Vector& column);

    // Threads for the fold and the elimination (counting the caller); results do not depend on it.
    void SetThreadCount(unsigned threads) { m_Folded.SetThreadCount(threads); }

    const RowMatrix& GetMatrix() const { return m_Folded.Synced(); }
    // Rows per AddRows call that fold as one batch while the caller goes on (a harvest's chunk).
    size_t BatchRows() const { return m_Folded.BatchPatterns(); }
    const Vector& Weights() const { return m_Weights; }

private:
    int32_t m_PatternSize;
    FoldedMatrix m_Folded;
    Vector m_Weights;
};

using Solver = NormalEquationSolver<ThresholdPolicy>;
using NoThresholdSolver = NormalEquationSolver<NoThresholdPolicy>;

extern template class NormalEquationSolver<ThresholdPolicy>;
extern template class NormalEquationSolver<NoThresholdPolicy>;

}  // namespace rcnet
