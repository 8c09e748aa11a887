// The elimination sweeps of both solvers' Gauss-Jordan passes, skipping arithmetic whose result is
// known. Each entry that is computed gets exactly the operations of the plain sweep (subtract the
// pivot entry times the factor, flush), so the matrix ends with the same bits; entries are skipped only
// where the plain sweep would leave them unchanged:
// - forward: where the pivot row holds +0 or -0 and the row a known +0 (the columns already
//   eliminated): +0 - (+-0 * f) is +0 for a finite factor f;
// - backward: where the pivot row holds +-0 and the row is flush-stable (every entry +0, NaN or outside
//   the flush interval, as after any full sweep): x - (+-0 * f) is x again.
// A factor that is not finite (NaN or infinite) always gets the full row.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/WorkerPool.h"

namespace rcnet {

class Elimination {
public:
    // bound: the flush bound; zeroFlags: the rows' all-zero flags over the coefficient columns (all but
    // the last), or null for a solver that keeps none.
    Elimination(RowMatrix& matrix, double bound, std::vector<char>* zeroFlags, const Parallel& parallel);

    // Eliminates column `column` of rows [first, count) against pivot row `pivot`.
    void Forward(size_t pivot, size_t column, size_t first);
    // Eliminates column `column` of rows [0, end) against pivot row `pivot`.
    void Backward(size_t pivot, size_t column, size_t end);

    // Bookkeeping for changes made outside the sweeps.
    void RowsSwapped(size_t a, size_t b);
    void RowDivided(size_t row) {
        m_Lead[row] = 0;  // +0 / coef may be -0 or NaN
        m_Stable[row] = 0;
    }
    void EntrySet(size_t row, size_t column);

private:
    void SweepRow(size_t pivot, size_t row, double factor, size_t skip);

    RowMatrix& m_Matrix;
    double m_Bound;
    std::vector<char>* m_ZeroFlags;
    const Parallel& m_Parallel;
    std::vector<size_t> m_Lead;  // per row: leading entries known to be +0
    std::vector<char> m_Stable;  // per row: known flush-stable
    std::vector<size_t> m_PivotNonZero;
};

}  // namespace rcnet
