// Choosing the readout's ridge from the training data: blocked cross-validation in time. Clean data
// wants a ridge near nothing, noisy data a large one; no fixed value serves both.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Solver/SolverPattern.h"
#include "src/Types.h"

namespace rcnet {

// 1e-16, 10^-15.5, ..., 1e3 as decimal literals, so that every target tries the same doubles.
constexpr size_t kRidgeGridSize = 39;
extern const double kRidgeGrid[kRidgeGridSize];

struct RidgeChoice {
    double ridge = 1e-6;  // what too few rows to cut into folds get
    // Per grid value, the held-out errors summed over folds (each output's divided by its variance);
    // NaN where the value was not tried. Empty with too few rows.
    std::vector<double> errors;
};

// The rows (states, each with n values; targets, each with the same number of outputs) are cut into
// `folds` contiguous blocks; each is held out in turn and predicted by the readout fitted, with a
// constant term that is not penalised, on the other rows less `gap` rows either side of it (fewer on
// short data). Of the grid's ridges, the largest whose error is at most `tolerance` times the smallest.
// Ridges below 1e-13 of a fold's largest Gram eigenvalue are not tried (the matrix cannot tell them
// apart), nor any that leaves a fold's matrix without a Cholesky factor. Fewer than 2 * folds rows:
// 1e-6. Every value gets its operations in a fixed order: the same bits on every target.
RidgeChoice ChooseRidge(const std::vector<SolverPattern>& states, const Matrix& targets, size_t folds = 5,
                        size_t gap = 10, double tolerance = 1.1);

// A symmetric matrix brought to tridiagonal form T = Q^T A Q by Householder reflections, which makes
// each ridge solve (A + ridge I) x = b cost O(n^2) once the O(n^3) reduction is done.
class RidgeSolver {
public:
    // a: n x n, row-major, symmetric (read whole).
    RidgeSolver(std::vector<double> a, size_t n);
    // x = (A + ridge I)^-1 b; false when T + ridge I has a pivot <= 0 (not positive definite).
    bool Solve(double ridge, const Vector& b, Vector& x) const;
    // Q^T b, then the tridiagonal solve, then Q times that: the pieces of Solve, for several ridges.
    void ToTridiagonalBasis(Vector& b) const;
    void FromTridiagonalBasis(Vector& z) const;
    bool SolveTridiagonal(double ridge, const Vector& b, Vector& z) const;
    // The largest eigenvalue, by bisection on Sturm counts of T.
    double LargestEigenvalue() const;

private:
    // x := H_k x, reflection k on entries k+1..
    void Reflect(size_t k, Vector& x) const;

    size_t m_N;
    Vector m_Diagonal, m_Off;  // T's diagonal and subdiagonal
    Vector m_Beta;             // reflection k: I - beta_k v_k v_k^T on entries k+1.., v_k[0] = 1
    Matrix m_Reflectors;
};

}  // namespace rcnet
