// The spectral radius (largest |eigenvalue|) of a sparse square matrix, such as a reservoir's forward
// link weights.
//
// Method: the matrix is first split into its strongly connected blocks (Tarjan): permuted to block
// triangular form, its eigenvalues are those of the diagonal blocks, so the split is exact and often
// leaves much smaller problems. A block of up to `denseLimit` rows is balanced, reduced to Hessenberg
// form by Householder reflections and solved by the Francis double-shift QR iteration, which finds all
// of its eigenvalues. A larger block would cost O(n^3) in dense form, so its dominant eigenvalues are
// found by implicitly restarted Arnoldi iteration on the sparse block (exact shifts), stopped when the
// residual of every wanted Ritz pair is small; its Ritz values come from the same QR routine.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rcnet::tools {

struct MatrixEntry {
    uint32_t row;
    uint32_t column;
    double value;
};

struct SpectralOptions {
    size_t denseLimit = 800;  // larger strongly connected blocks go to Arnoldi (dense 800: under 1 s)
    size_t wanted = 12;       // Arnoldi: Ritz pairs that must converge
    size_t basis = 48;        // Arnoldi: Krylov basis size
    double tolerance = 1e-9;  // Arnoldi: residual relative to |eigenvalue|
    size_t maxRestarts = 5000;
    double maxSeconds = 4.0;  // Arnoldi gives up then, with its best estimate marked as not converged
};

struct SpectralResult {
    double radius = 0.0;
    bool converged = true;    // false: Arnoldi gave up and radius is its best estimate
    double upperBound = 0.0;  // min(largest absolute row sum, largest absolute column sum)
    size_t blocks = 0;        // strongly connected blocks with more than one row
    size_t largestBlock = 0;  // rows of the largest block (1 when there is no cycle longer than a self link)
    bool usedArnoldi = false;
};

// Entries with the same row and column add up. n is the matrix order.
SpectralResult SpectralRadius(size_t n, const std::vector<MatrixEntry>& entries,
                              const SpectralOptions& options = {});

// All eigenvalues of a dense n x n matrix (row-major), by balancing, Hessenberg reduction and Francis QR.
// Returns false when the QR iteration does not converge (practically never).
bool DenseEigenvalues(std::vector<double> matrix, size_t n, std::vector<std::complex<double>>& eigenvalues);

// The dominant eigenvalue of a sparse n x n matrix by implicitly restarted Arnoldi iteration.
struct ArnoldiResult {
    std::complex<double> eigenvalue;
    bool converged = false;
    size_t restarts = 0;
};
ArnoldiResult DominantEigenvalueArnoldi(size_t n, const std::vector<MatrixEntry>& entries,
                                        const SpectralOptions& options = {});

}  // namespace rcnet::tools
