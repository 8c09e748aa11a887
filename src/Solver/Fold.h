// Folding many patterns into the symmetric part of a normal-equation matrix, fast and bit-identical to
// folding them one by one: entry (j, k) receives v_j * v_k for every pattern, in pattern order.
//
// Each product is computed once, for the upper triangle (v_j * v_k and v_k * v_j are the same double),
// and the lower triangle is copied from it; blocks of rows are shared out between threads, one owner per
// entry.
#pragma once

#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/WorkerPool.h"

namespace rcnet {

// Adds v[k] * v[j] to entry (j, k) for j, k < n of every pattern's values v, in list order.
void FoldProducts(RowMatrix& matrix, size_t n, const std::vector<const double*>& patterns, WorkerPool& pool);

}  // namespace rcnet
