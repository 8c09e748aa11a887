#include "src/Solver/QrSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "src/Sizes.h"
#include "src/kernels/QrKernels.h"

namespace rcnet {

struct QrSolver::Factor {
    size_t features = 0;  // values and the threshold: the columns the factor keeps rows for
    size_t width = 0;     // features and targets
    // features x width, row-major: the triangular factor (zero below the diagonal).
    std::vector<double> r;
    // chunk x width: new rows waiting to be folded in.
    std::vector<double> pending;
    size_t chunk = 0;
    size_t filled = 0;
};

namespace {

// Rows per chunk: a tile of 16 columns of them fits the first-level cache while a block of reflectors
// passes over it, and all of them the second-level cache. The work per row is the same whatever the
// chunk.
size_t DefaultChunkRows(size_t width) {
    return std::clamp<size_t>((size_t{1} << 16) / std::max<size_t>(1, width), 16, 160);
}

// Makes the reflector that zeroes rows[i][k] under head[k], sigma the sum of their squares in row order:
// head[k] becomes beta, u the rows' entries over x - beta (the entries are zeroed). Returns tau; 0 when
// there is nothing to zero.
double Reflector(double* head, double* const* rows, size_t count, size_t k, double sigma, double* u) {
    if (sigma == 0.0) return 0.0;
    const double x = head[k];
    const double norm = std::sqrt(x * x + sigma);
    const double beta = x >= 0.0 ? -norm : norm;
    const double denominator = x - beta;
    for (size_t i = 0; i < count; ++i) {
        u[i] = rows[i][k] / denominator;
        rows[i][k] = 0.0;
    }
    head[k] = beta;
    return (beta - x) / beta;
}

double MakeReflector(double* head, double* const* rows, size_t count, size_t k, double* u) {
    double sigma = 0.0;
    for (size_t i = 0; i < count; ++i) sigma = sigma + rows[i][k] * rows[i][k];
    return Reflector(head, rows, count, k, sigma, u);
}

// Folds rows (width columns each) under the triangular r (features x width): afterwards r is the
// triangular factor of both. Reflector k mixes r's row k with the rows only (r is zero below its
// diagonal). The columns go in blocks of kBlock: each reflector of a block is made from its column and
// applied at once to the block's columns after it; the columns after the block then take the block's
// reflectors together (kernels::Fold), in order, column by column, as if one after the other. The
// rows are left with the residual of the target columns, which no weight needs.
constexpr size_t kBlock = 8;

void FoldRows(double* r, size_t features, size_t width, double* const* rows, size_t count) {
    std::vector<double> u(SizeProduct(kBlock, count));
    const double* us[kBlock];
    double* heads[kBlock];
    double taus[kBlock];
    for (size_t k0 = 0; k0 < features; k0 += kBlock) {
        const size_t k1 = std::min(features, k0 + kBlock);
        size_t n = 0;
        for (size_t k = k0; k < k1; ++k) {
            double* head = r + k * width;
            double* v = u.data() + n * count;
            const double tau = MakeReflector(head, rows, count, k, v);
            if (tau == 0.0) continue;
            kernels::Reflect({head, rows, v, count, tau}, k + 1, k1, nullptr);
            heads[n] = head;
            us[n] = v;
            taus[n] = tau;
            ++n;
        }
        if (n > 0) kernels::Fold({heads, us, taus, n, rows, count, k1 == features}, k1, width);
    }
}

// Sum of the squares of column j over rows [first, count), row order.
double ColumnSquares(const double* a, size_t width, size_t first, size_t count, size_t j) {
    double sum = 0.0;
    for (size_t i = first; i < count; ++i) sum = sum + a[i * width + j] * a[i * width + j];
    return sum;
}

}  // namespace

QrSolver::QrSolver(size_t values, bool threshold, size_t targets)
    : m_Values(values), m_Threshold(threshold), m_Targets(targets), m_Factor(std::make_unique<Factor>()) {
    Factor& f = *m_Factor;
    f.features = SizeSum(values, threshold ? 1 : 0);
    f.width = SizeSum(f.features, targets);
    f.r.assign(SizeProduct(f.features, f.width), 0.0);
    SetChunkRows(DefaultChunkRows(f.width));
}

QrSolver::~QrSolver() = default;

void QrSolver::SetChunkRows(size_t rows) {
    Factor& f = *m_Factor;
    Reduce();
    f.chunk = std::max<size_t>(1, rows);
    f.pending.assign(SizeProduct(f.chunk, f.width), 0.0);
}

size_t QrSolver::ChunkRows() const {
    return m_Factor->chunk;
}

void QrSolver::AddRow(const double* values, const double* targets) {
    Factor& f = *m_Factor;
    double* row = f.pending.data() + f.filled * f.width;
    size_t c = 0;
    for (size_t j = 0; j < m_Values; ++j) row[c++] = values[j];
    if (m_Threshold) row[c++] = 1.0;
    for (size_t j = 0; j < m_Targets; ++j) row[c++] = targets[j];
    if (++f.filled == f.chunk) Reduce();
}

void QrSolver::Reduce() {
    Factor& f = *m_Factor;
    if (f.filled > 0 && f.features > 0) {
        std::vector<double*> rows(f.filled);
        for (size_t i = 0; i < f.filled; ++i) rows[i] = f.pending.data() + i * f.width;
        FoldRows(f.r.data(), f.features, f.width, rows.data(), f.filled);
    }
    f.filled = 0;
}

// Solve works on a = [R11 R12] (features x width), with the ridge folded in as rows sqrt(ridge) e_j of
// the value columns, by a column-pivoted QR: each step takes the column with the largest remaining norm
// (the lowest index among equals), recomputed from the reflected rows, not downdated. The rank is the
// number of steps before the largest remaining norm is at most eps * (features + ridge rows) * the
// largest column norm of R11: without a ridge the rule of a rank-revealing QR whose first diagonal
// entry is that norm; the ridge rows do not raise the bar, or a large ridge would count the threshold
// column, which no ridge row touches, as dependent and drop it. Below full rank the rank rows [T11 T12]
// go through a second QR, of their transpose, for the minimum-norm solution.
Matrix QrSolver::Solve(double ridge) {
    Reduce();
    const Factor& f = *m_Factor;
    const size_t features = f.features, width = f.width, targets = m_Targets;
    Matrix weights(targets, Vector(features, 0.0));
    if (features == 0 || targets == 0) return weights;

    std::vector<double> a(f.r);
    double largest = 0.0;
    for (size_t j = 0; j < features; ++j)
        largest = std::max(largest, ColumnSquares(a.data(), width, 0, features, j));
    largest = std::sqrt(largest);

    const size_t extra = ridge > 0 ? m_Values : 0;
    double root = std::sqrt(ridge);
    if (root > 0x1p256) {
        // Squares of the ridge rows' entries could overflow: scale the whole problem, which changes no
        // weight, by a power of two, which is exact.
        for (double& x : a) x = x * 0x1p-256;
        root = root * 0x1p-256;
        largest = largest * 0x1p-256;
    }
    // The ridge rows, a few at a time: row j is zero before its column j, so the columns before a
    // batch have nothing to reflect in it.
    constexpr size_t kBatch = 64;
    std::vector<double> batch(SizeProduct(kBatch, width));
    std::vector<double*> rows(std::max(kBatch, features));
    for (size_t first = 0; first < extra; first += kBatch) {
        const size_t count = std::min(kBatch, extra - first);
        std::fill(batch.begin(), batch.end(), 0.0);
        for (size_t q = 0; q < count; ++q) {
            batch[q * width + first + q] = root;
            rows[q] = batch.data() + q * width;
        }
        FoldRows(a.data(), features, width, rows.data(), count);
    }

    // The column-pivoted QR.
    const double bar =
        std::numeric_limits<double>::epsilon() * static_cast<double>(features + extra) * largest;
    std::vector<double> norms(width, 0.0), u(features);
    std::vector<size_t> order(features);
    for (size_t j = 0; j < features; ++j) {
        norms[j] = ColumnSquares(a.data(), width, 0, features, j);
        order[j] = j;
    }
    size_t rank = 0;
    for (size_t k = 0; k < features; ++k) {
        size_t p = k;
        for (size_t j = k + 1; j < features; ++j)
            if (norms[j] > norms[p]) p = j;
        if (!(std::sqrt(norms[p]) > bar)) break;
        if (p != k) {
            for (size_t i = 0; i < features; ++i) std::swap(a[i * width + k], a[i * width + p]);
            std::swap(norms[k], norms[p]);
            std::swap(order[k], order[p]);
        }
        rank = k + 1;
        double* head = a.data() + k * width;
        const size_t below = features - k - 1;
        for (size_t i = 0; i < below; ++i) rows[i] = head + (i + 1) * width;
        const double tau = MakeReflector(head, rows.data(), below, k, u.data());
        if (tau != 0.0) {
            kernels::Reflect({head, rows.data(), u.data(), below, tau}, k + 1, width, norms.data());
        } else {
            for (size_t j = k + 1; j < width; ++j)
                norms[j] = ColumnSquares(a.data(), width, k + 1, features, j);
        }
    }

    std::vector<double> z(features);
    if (rank == features) {
        for (size_t t = 0; t < targets; ++t) {
            for (size_t j = features; j-- > 0;) {
                const double* row = a.data() + j * width;
                double s = row[features + t];
                for (size_t l = j + 1; l < features; ++l) s = s - row[l] * z[l];
                z[j] = s / row[j];
            }
            for (size_t j = 0; j < features; ++j) weights[t][order[j]] = z[j];
        }
        return weights;
    }

    // [T11 T12] = S^T Q^T from the QR of its transpose (features x rank, row-major); the minimum-norm
    // solution of T z = c is Q [y; 0] with S^T y = c.
    std::vector<double> m(SizeProduct(features, rank)), taus(rank, 0.0);
    for (size_t i = 0; i < rank; ++i)
        for (size_t j = i; j < features; ++j) m[j * rank + i] = a[i * width + j];
    std::vector<double> reflectors(m.size(), 0.0);  // u of reflector k in column k, rows below k
    for (size_t k = 0; k < rank; ++k) {
        double* head = m.data() + k * rank;
        const size_t below = features - k - 1;
        for (size_t i = 0; i < below; ++i) rows[i] = head + (i + 1) * rank;
        taus[k] = MakeReflector(head, rows.data(), below, k, u.data());
        for (size_t i = 0; i < below; ++i) reflectors[(k + 1 + i) * rank + k] = taus[k] != 0.0 ? u[i] : 0.0;
        if (taus[k] != 0.0)
            kernels::Reflect({head, rows.data(), u.data(), below, taus[k]}, k + 1, rank, nullptr);
    }
    for (size_t t = 0; t < targets; ++t) {
        for (size_t i = 0; i < rank; ++i) {
            double s = a[i * width + features + t];
            for (size_t l = 0; l < i; ++l) s = s - m[l * rank + i] * z[l];
            z[i] = s / m[i * rank + i];
        }
        std::fill(z.begin() + static_cast<std::ptrdiff_t>(rank), z.end(), 0.0);
        for (size_t k = rank; k-- > 0;) {
            if (taus[k] == 0.0) continue;
            double s = z[k];
            for (size_t i = k + 1; i < features; ++i) s = s + reflectors[i * rank + k] * z[i];
            s = s * taus[k];
            z[k] = z[k] - s;
            for (size_t i = k + 1; i < features; ++i) z[i] = z[i] - reflectors[i * rank + k] * s;
        }
        for (size_t j = 0; j < features; ++j) weights[t][order[j]] = z[j];
    }
    return weights;
}

}  // namespace rcnet
