// The elimination sweeps of both solvers' Gauss-Jordan passes, skipping arithmetic whose result is
// known. Each entry that is computed gets exactly the operations of the plain sweep (subtract the
// pivot entry times the factor, flush), so the matrix ends with the same bits; entries are skipped only
// where the plain sweep would leave them unchanged:
// - forward: where the pivot row holds +0 or -0 and the row a known +0 (the columns already
//   eliminated): +0 - (+-0 * f) is +0 for a finite factor f;
// - backward: where the pivot row holds +-0 and the row is flush-stable (every entry +0, NaN or outside
//   the flush interval, as after any full sweep): x - (+-0 * f) is x again.
// A factor that is not finite (NaN or infinite) always gets the full row.
//
// ForwardBlock runs the forward pivots a block at a time: the pivots are found, divided and exchanged,
// and applied to the block's own rows, exactly as pivot by pivot; the rows below the block then receive
// the block's pivots in one pass, each row its factors column after column as the plain sweep would
// have found them, and each entry every pivot in order. The block stops before any pivot whose row lies
// below the block, that has none, or whose entry is not finite: the pivot-by-pivot path takes over there.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/Solver/WorkerPool.h"

namespace rcnet {

class Elimination {
public:
    // bound: the flush bound; zeroFlags: the rows' all-zero flags over the coefficient columns (all but
    // the last), or null for a solver that keeps none.
    Elimination(RowMatrix& matrix, double bound, std::vector<char>* zeroFlags, const Parallel& parallel);

    // Eliminates column `column` of rows [first, count) against pivot row `pivot`.
    void Forward(size_t pivot, size_t column, size_t first);
    // Runs the whole forward step (find, divide, exchange, eliminate) of pivots m, m + 1, ... while they
    // fit a block (see above); returns the first pivot not run, m when the block could not start.
    size_t ForwardBlock(size_t m);
    // The whole backward pass: column j of rows [0, j) against pivot row j, for j from the last row
    // to 1, the rows above a block of pivots receiving the whole block in one pass.
    void BackwardAll();

    // Bookkeeping for changes made outside the sweeps.
    void RowsSwapped(size_t a, size_t b);
    void RowDivided(size_t row) {
        m_Lead[row] = 0;  // +0 / coef may be -0 or NaN
        m_Stable[row] = 0;
    }
    void EntrySet(size_t row, size_t column);

private:
    void SweepRow(size_t pivot, size_t row, double factor, size_t skip);
    // Column `pivot` of rows [first, end) against pivot row `pivot`.
    void Backward(size_t pivot, size_t first, size_t end);
    void BackwardRow(size_t pivot, size_t row, const std::vector<size_t>& nonZero);
    void BackwardBlockRow(size_t row, size_t j0, size_t j1);
    void SettleBackwardRow(size_t row, size_t firstTouched);
    void NonZeroColumns(size_t pivot, std::vector<size_t>& nonZero) const;
    // The block's rows outside its columns: each entry the block's pivots in order and a pivot row's
    // division, as the pivot-by-pivot sweep would have given them; then their bookkeeping.
    void FinishBlockRows(size_t m0, size_t done, const double* factors, const double* coefs);
    // The block's `done` pivots (rows m0 ..) applied to rows [first, count).
    void ApplyBlock(size_t m0, size_t done, size_t first);
    // One row below the block, whole: its panel columns pivot by pivot, the rest in one tiled pass.
    // Returns false for a row that needed the pivot-by-pivot sweep (done then too).
    bool BlockRow(size_t row, size_t m0, size_t done, double* factors);

    RowMatrix& m_Matrix;
    double m_Bound;
    std::vector<char>* m_ZeroFlags;
    const Parallel& m_Parallel;
    std::vector<size_t> m_Lead;  // per row: leading entries known to be +0
    std::vector<char> m_Stable;  // per row: known flush-stable
    std::vector<size_t> m_PivotNonZero;
    std::vector<size_t> m_BlockPivotZeros;  // per pivot of the current block: its row's leading zeros
    std::vector<std::vector<size_t>> m_BlockNonZero;  // per pivot of the current backward block
};

}  // namespace rcnet
