// Gauss-Jordan elimination of an augmented matrix (coefficients, then the right-hand side in the last
// column) with unit pivots, as both normal-equation solvers run it:
// 1. with prePivot, a zero in row 0, column 0 is exchanged, row and column, with the first nonzero
//    diagonal entry (none: nothing to solve);
// 2. forward, column m after column m: the pivot is the first row from m down whose entry is not zero;
//    a column without one takes a unit entry in the first row whose coefficients are all zero (none
//    left: the elimination ends there). The pivot row is divided by its entry and moved to row m, and
//    every row below gets the pivot row times its entry in column m subtracted;
// 3. backward, column j from the last to 1: every row above gets the same against pivot row j.
// Every subtraction's result strictly inside (-flushBound, flushBound) is set to +0. Zero tests follow
// IEEE comparison: -0 is zero, NaN is not.
//
// The fast path skips only arithmetic whose result is known, so each entry that is computed gets
// exactly the operations above: forward, where the pivot row holds +-0 and the row a known +0 (the
// columns already eliminated), since +0 - (+-0 * f) is +0 for a finite factor f; backward, where the
// pivot row holds +-0 and the row is flush-stable (every entry +0, NaN or outside the flush interval).
// A factor that is not finite always gets the full row. Forward pivots go in blocks of 32: found,
// divided and exchanged on the block's own columns first, then applied to the rows below in one
// register-tiled pass, each entry still receiving every pivot in order.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/Solver/WorkerPool.h"

namespace rcnet {

struct EliminationRules {
    double flushBound;
    bool prePivot;
    // Non-null: a pivot division by zero is reported as "coef != 0" under this source name.
    const char* pivotReportSource;
};

// Reduces matrix in place. order[k] is the variable that coefficient column k stands for after the
// pre-pivot (the identity without one). Returns false when the elimination ended early (the matrix is
// left part-way reduced).
bool GaussJordan(RowMatrix& matrix, const EliminationRules& rules, const Parallel& parallel,
                 std::vector<size_t>& order);

}  // namespace rcnet
