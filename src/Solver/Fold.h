// Folding many patterns into a normal-equation matrix, fast and bit-identical to folding them one by
// one: with u = (v, 1, y) (the 1 only with a threshold term), entry (j, k) receives u_j * u_k for every
// pattern, in pattern order. u_j * 1 is u_j exactly, so the threshold column and row get the plain sums
// of the values, and the last column the products with the target, as the plain fold adds them.
//
// Each product is computed once, for the upper triangle (u_j * u_k and u_k * u_j are the same double);
// MirrorUpper copies the lower triangle from it when the whole matrix is needed. Blocks of rows are
// shared out between threads, one owner per entry.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/RowMatrix.h"
#include "src/Solver/SolverPattern.h"
#include "src/WorkerPool.h"

namespace rcnet {

// Packed patterns kept from call to call, so that folding chunk after chunk allocates nothing.
class FoldSpace {
public:
    double* Reserve(size_t values);

private:
    std::vector<double> m_Storage;
};

// Adds u_j * u_k to entry (j, k) for j < matrix.Rows(), j <= k < matrix.Columns(), of every pattern in
// list order. Every pattern must have n values; matrix.Columns() must be n + 2 with the threshold term,
// n + 1 without, and matrix.Rows() one less.
void FoldProducts(RowMatrix& matrix, const std::vector<const SolverPattern*>& patterns, size_t n,
                  bool threshold, FoldSpace& space, const Parallel& parallel);

// Copies entry (k, j) to entry (j, k) for k < j < matrix.Rows().
void MirrorUpper(RowMatrix& matrix, const Parallel& parallel);

}  // namespace rcnet
