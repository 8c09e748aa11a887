// The stable readout as it was first written on Eigen: HouseholderQR of the stacked rows, refactored
// chunk by chunk, and CompleteOrthogonalDecomposition for the solve. An independent check of the
// weights (to a tolerance: its bits depend on Eigen's vector paths) and the benchmarks' baseline.
// Eigen stays in EigenQrSolver.cpp: parsing it costs seconds in every file that would include it.
#pragma once

#include <cstddef>
#include <memory>

#include "src/Types.h"

namespace rcnet::test {

class EigenQrSolver {
public:
    EigenQrSolver(size_t values, bool threshold, size_t targets);
    ~EigenQrSolver();
    EigenQrSolver(const EigenQrSolver&) = delete;
    EigenQrSolver& operator=(const EigenQrSolver&) = delete;

    void SetChunkRows(size_t rows);
    void AddRow(const double* values, const double* targets);
    Matrix Solve(double ridge);

private:
    struct Stack;
    void Reduce();

    size_t m_Values;
    bool m_Threshold;
    size_t m_Targets, m_Width = 0, m_Chunk = 0, m_Filled = 0;
    std::unique_ptr<Stack> m_Stack;
};

// The least-squares solution W (one row per column of b) of a w = b, a and b given by rows, from
// Eigen's column-pivoted Householder QR of the whole system.
Matrix DirectLeastSquares(const Matrix& a, const Matrix& b);

}  // namespace rcnet::test
