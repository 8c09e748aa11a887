// The spectral radius (largest eigenvalue modulus) of a sparse square matrix given as (row, column,
// value) entries, such as a reservoir's back-link weights W[target][source].
//
// Method. The matrix is split into its strongly connected blocks (Tarjan): in block triangular form its
// eigenvalues are those of the diagonal blocks, so the split is exact, and a reservoir with few links
// falls apart into small blocks; a block of one row gives its diagonal entry. A block in which every row
// has one entry is a simple cycle (a ring reservoir): its eigenvalues all lie on one circle, whose radius
// is the geometric mean of |w|, computed with the product's exponent kept apart (no overflow) and the
// root by bisection (no pow or log). Other blocks are scaled by a power of 2 (exact) so that the largest
// entry is below 1. A block of up to `denseLimit` rows is balanced (Parlett-Reinsch, by powers of 2:
// exact) and solved whole by Eigen's EigenSolver (Householder reduction to Hessenberg form, then Francis
// double-shift QR). A larger block goes to a restarted Arnoldi iteration on A^power (its eigenvalues are
// the power-th powers: the moduli near the largest are spread apart, so far fewer restarts are needed;
// the radius is the power-th root, by square roots): a Krylov basis of `basis` vectors (twice that from
// `wideFrom` rows), classical Gram-Schmidt twice over chunks of rows, Ritz values from Eigen's
// EigenSolver, Ritz vectors by inverse iteration, and thick restarts that keep the invariant subspace of
// the `keep` largest Ritz values. It stops when the `wanted` largest Ritz pairs, and every Ritz value
// within `crowd` of the largest modulus, have residuals |A x - t x| of at most power * `tolerance` |t|;
// or gives up after `maxRestarts` restarts, or `stallRestarts` without halving the worst residual. A
// block of up to `denseFallbackLimit` rows on which it gives up is then solved dense; a larger one
// leaves `converged` false and the radius its last estimate.
//
// Accuracy. Cycles: within a few ulps (tests: rings of 2 to 100,000 links, products far beyond the range
// of doubles, to 1e-13). Dense blocks: backward stable; the tests' known spectra come out to 1e-14.
// Arnoldi: a converged value is an eigenvalue's modulus to about 1e-9 (relative) unless that eigenvalue
// is badly conditioned; on random reservoirs of 300 to 1,500 neurons with 2 to 40 links each (72
// matrices) it matched the dense method to 1.7e-11, mostly to 1e-14. Where eigenvalues crowd round a circle
// (a ring with a few chords) a Ritz value may converge while a larger eigenvalue has not shown yet:
// without the `crowd` rule a ring of 900 with three chords came out 2e-7 low as converged; with it, such
// blocks converge correctly or give up (rings with chords of 1,200 to 5,000 links: converged false). For
// random reservoirs far beyond what a dense solve can check (10,000 neurons and more) the largest
// modulus found is the largest Ritz value's, with no proof that no larger eigenvalue hides.
// Time, on one core of a shared development machine (bench/README.md): reservoirs of up to 1,000 neurons
// with 8 links each 3 to 8 ms, 10,000 neurons with 10 links 0.2 s, 100,000 neurons with 10 links each
// (one block of 32,768) about 5 s on one core, 3.5 s on two; rings of 100,000 4 ms; a ring with chords of
// 20,000 gives up in 2 s.
//
// Deterministic: no clocks, fixed start vectors, and the iteration's own arithmetic in plain loops summed
// in an order fixed by the sizes (Eigen's vectorised reductions and eigenvectors, and the runtime's
// complex division, round differently on the 32-bit target): the same entries give the same bits, native
// or in the DLL, with any number of threads (the sparse products of blocks of 16,384 rows and more share
// their rows between the worker pool's threads, each row summed by one of them as it would be alone).
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rcnet {

struct MatrixEntry {
    uint32_t row;
    uint32_t column;
    double value;
};

struct SpectralRadiusOptions {
    size_t denseLimit = 100;  // larger strongly connected blocks go to Arnoldi
    size_t power = 16;        // Arnoldi runs on A^power (1, 2, 4, 8, ...: a power of 2)
    size_t basis = 48;        // Arnoldi: Krylov basis size
    size_t keep = 16;         // Arnoldi: Ritz values kept over a restart
    size_t wideFrom = 16384;  // Arnoldi: blocks of this many rows use twice the basis and keep
    size_t wanted = 2;        // Arnoldi: Ritz pairs that must converge
    double crowd = 2e-4;      // Arnoldi: and every Ritz value this close to the largest (relative)
    double tolerance = 1e-9;  // Arnoldi: residual relative to |Ritz value|, per power
    size_t maxRestarts = 100;
    size_t stallRestarts = 10;         // Arnoldi gives up after this many restarts without progress
    size_t denseFallbackLimit = 1000;  // an Arnoldi block this small that did not converge: solved dense
    unsigned threads = 0;  // Arnoldi's sparse products, on blocks of 16,384 rows and more (0: all cores)
};

struct SpectralRadiusResult {
    double radius = 0.0;      // NaN when an entry is not finite
    bool converged = true;    // false: an Arnoldi block stopped at maxRestarts; radius is its estimate
    double upperBound = 0.0;  // min(largest absolute row sum, largest absolute column sum)
    size_t blocks = 0;        // strongly connected blocks of more than one row
    size_t cycles = 0;        // blocks that are one simple cycle (their radius is exact)
    size_t largestBlock = 0;  // rows of the largest block (1 when no cycle is longer than a self link)
    bool usedArnoldi = false;
    size_t restarts = 0;  // Arnoldi restarts, summed over blocks
};

// Entries with the same row and column add up; n is the matrix order (every index below n).
SpectralRadiusResult SpectralRadius(size_t n, const std::vector<MatrixEntry>& entries,
                                    const SpectralRadiusOptions& options = {});

// All eigenvalues of a dense n x n matrix (row-major), balanced first. False when the QR iteration does
// not converge.
bool DenseEigenvalues(const std::vector<double>& matrix, size_t n, std::vector<std::complex<double>>& values);

}  // namespace rcnet
