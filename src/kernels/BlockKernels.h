// The register-tiled pass of the blocked elimination: a block of pivots applied to many rows at once,
// each entry in registers while it receives every pivot of the block, pivot after pivot, with the
// plain sweep's operations (subtract the pivot entry times the row's factor, then +0 where the result
// lies strictly inside (-bound, bound)). The bits are the plain sweep's; only the memory traffic is
// less: one pass over the rows per block instead of one per pivot.
#pragma once

#include <cstddef>

namespace rcnet::kernels {

// For each of rowCount rows and each column c in [begin, end): for i < count in order,
// x = x - pivots[i][c] * factors[r * stride + i], then flushed.
void ApplyPivots(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                 const double* const* pivots, size_t count, size_t begin, size_t end, double bound);

// Rows per call that keep the registers full.
constexpr size_t kPivotRows = 4;

}  // namespace rcnet::kernels
