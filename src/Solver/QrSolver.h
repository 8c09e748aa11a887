// Least-squares readout solved on the states themselves, never through normal equations (which square
// the states' condition number and lose the fit on the ill-conditioned reservoirs that predict best).
//
// Rows (v, [1,] y_1 .. y_m) are streamed into a Householder QR: every chunk of rows is folded under the
// triangular factor so far, each reflector mixing one row of the factor with the chunk (the factor is
// zero below its diagonal), so memory holds one factor and a few chunks whatever the number of rows.
// Chunks fold on the worker threads while the next rows come in, several side by side, each a block of
// columns behind the one before it, so that every entry of the factor takes the chunks in order. Solve
// splits the factor as [R11 R12] (feature columns, target columns) and finds the minimum-norm W of
// min |R11 W - R12|^2 + ridge |W without threshold|^2 by a column-pivoted QR and, below full rank, a
// complete orthogonal decomposition: dependent columns share the fit, a column that is always 0 gets
// weight 0 (without a ridge). No ridge, however large, drops the threshold column.
//
// Every sum runs in a fixed order: each column's in row order, whatever the vector width (the kernels
// of src/kernels/QrKernels.h only run columns side by side). The same rows in the same order and chunk
// size give the same bits on every run, target, instruction-set level and thread count. A solver is
// used from one thread.
#pragma once

#include <cstddef>
#include <memory>

#include "src/Types.h"

namespace rcnet {

class QrSolver {
public:
    // values: state values per row; threshold: append a constant 1 column; targets: right-hand sides.
    QrSolver(size_t values, bool threshold, size_t targets);
    ~QrSolver();
    QrSolver(const QrSolver&) = delete;
    QrSolver& operator=(const QrSolver&) = delete;

    // One row: `values` state values and `targets` wanted outputs.
    void AddRow(const double* values, const double* targets);

    // One weight row per target: the values' weights, then the threshold weight when there is one.
    // ridge >= 0 penalises the values' weights, never the threshold.
    Matrix Solve(double ridge);

    // Rows gathered before they are folded into the factor; the weights depend on it only in the last
    // bits. Tests make it small to exercise the streaming.
    void SetChunkRows(size_t rows);
    size_t ChunkRows() const;

    // Threads (counting the caller) that fold chunks side by side while rows keep coming, and share the
    // solve's columns; 0, the default: one per processor. The weights do not depend on it.
    void SetThreadCount(unsigned threads);

private:
    struct Factor;
    void Reduce();

    size_t m_Values;
    bool m_Threshold;
    size_t m_Targets;
    std::unique_ptr<Factor> m_Factor;
};

}  // namespace rcnet
