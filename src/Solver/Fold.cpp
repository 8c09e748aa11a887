#include "src/Solver/Fold.h"

#include <algorithm>

#include "src/Solver/RowKernels.h"

namespace rcnet {
namespace {

// 32 rows of 256 columns: 64 KiB of matrix per tile, within the second-level cache, while the patterns'
// matching stretches stream by.
constexpr size_t kTileRows = 32;
constexpr size_t kTileColumns = 256;

struct Tile {
    size_t row, column;
};

}  // namespace

void FoldProducts(RowMatrix& matrix, size_t n, const std::vector<const double*>& patterns, WorkerPool& pool) {
    if (n == 0 || patterns.empty())
        return;

    // The tiles that reach the upper triangle (k >= j), dealt round-robin to the threads so that the
    // contiguous share each thread gets holds about the same work.
    std::vector<Tile> tiles;
    for (size_t j0 = 0; j0 < n; j0 += kTileRows) {
        for (size_t k0 = j0 / kTileColumns * kTileColumns; k0 < n; k0 += kTileColumns)
            tiles.push_back({j0, k0});
    }
    const size_t threads = std::min<size_t>(pool.ThreadCount(), tiles.size());
    std::vector<Tile> dealt;
    dealt.reserve(tiles.size());
    for (size_t t = 0; t < threads; ++t) {
        for (size_t i = t; i < tiles.size(); i += threads)
            dealt.push_back(tiles[i]);
    }

    pool.Run(dealt.size(), 1, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            const size_t rowEnd = std::min(dealt[t].row + kTileRows, n);
            const size_t columnEnd = std::min(dealt[t].column + kTileColumns, n);
            for (const double* v : patterns) {
                for (size_t j = dealt[t].row; j < rowEnd; ++j) {
                    const size_t k0 = std::max(dealt[t].column, j);
                    if (k0 < columnEnd)
                        kernels::AddScaled(matrix.Row(j) + k0, v + k0, v[j], columnEnd - k0);
                }
            }
        }
    });

    pool.Run(n, 64, [&](size_t begin, size_t end) {
        for (size_t j = begin; j < end; ++j) {
            double* row = matrix.Row(j);
            for (size_t k = 0; k < j; ++k)
                row[k] = matrix.At(k, j);
        }
    });
}

}  // namespace rcnet
