#include "src/RidgeChoice.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "src/Solver/Fold.h"
#include "src/Solver/RowMatrix.h"
#include "src/Solver/WorkerPool.h"

namespace rcnet {

const double kRidgeGrid[kRidgeGridSize] = {
    1e-16, 3.1622776601683795e-16, 1e-15, 3.1622776601683795e-15, 1e-14, 3.1622776601683795e-14,
    1e-13, 3.1622776601683795e-13, 1e-12, 3.1622776601683795e-12, 1e-11, 3.1622776601683795e-11,
    1e-10, 3.1622776601683795e-10, 1e-9,  3.1622776601683795e-9,  1e-8,  3.1622776601683795e-8,
    1e-7,  3.1622776601683795e-7,  1e-6,  3.1622776601683795e-6,  1e-5,  3.1622776601683795e-5,
    1e-4,  3.1622776601683795e-4,  1e-3,  3.1622776601683795e-3,  1e-2,  3.1622776601683795e-2,
    1e-1,  3.1622776601683795e-1,  1e0,   3.1622776601683795e0,   1e1,   3.1622776601683795e1,
    1e2,   3.1622776601683795e2,   1e3};

namespace {

constexpr double kResolution = 1e-13;

// Sums over a run of rows: the states' Gram matrix, their column sums and their products with the
// targets, each entry in row order.
struct Moments {
    std::vector<double> gram;   // n x n
    Vector sums;                // n
    std::vector<double> cross;  // n x outputs
    Vector targetSums;          // outputs
};

Moments MomentsOf(const std::vector<SolverPattern>& states, const Matrix& targets, size_t first, size_t last,
                  size_t n, const Parallel& parallel) {
    const size_t outputs = targets[0].size();
    Moments m;
    m.gram.assign(n * n, 0.0);
    m.sums.assign(n, 0.0);
    m.cross.assign(n * outputs, 0.0);
    m.targetSums.assign(outputs, 0.0);
    if (first == last) return m;
    // The fold folds (state, 1, 0): the Gram matrix, and the sums in the constant's column.
    std::vector<PatternView> rows;
    rows.reserve(last - first);
    for (size_t r = first; r < last; ++r) rows.push_back({states[r].values.data(), states[r].target});
    RowMatrix folded(n + 1, n + 2);
    {
        Folder folder;
        folder.Add(folded, rows, n, true, parallel);
        folder.Finish();
    }
    MirrorUpper(folded, parallel);
    for (size_t j = 0; j < n; ++j) {
        std::copy(folded.Row(j), folded.Row(j) + n, m.gram.begin() + static_cast<std::ptrdiff_t>(j * n));
        m.sums[j] = folded.At(j, n);
    }
    for (size_t r = first; r < last; ++r) {
        const double* s = states[r].values.data();
        const Vector& y = targets[r];
        for (size_t j = 0; j < n; ++j)
            for (size_t o = 0; o < outputs; ++o) m.cross[j * outputs + o] += s[j] * y[o];
        for (size_t o = 0; o < outputs; ++o) m.targetSums[o] += y[o];
    }
    return m;
}

// One block held out: which rows, the sums over its cut, and what its evaluation found.
struct Fold {
    size_t first = 0, last = 0, cutFirst = 0, cutLast = 0;
    Moments cut;
    double floor = 0.0;  // the smallest ridge its Gram matrix can tell apart
    Vector errors;       // per grid ridge; NaN where the matrix plus the ridge has no Cholesky factor
};

}  // namespace

RidgeSolver::RidgeSolver(std::vector<double> a, size_t n)
    : m_N(n), m_Diagonal(n, 0.0), m_Off(n > 0 ? n - 1 : 0, 0.0) {
    for (size_t k = 0; k + 2 < n; ++k) {
        // Reflect column k below the diagonal onto its first entry (v[0] = 1, the rest scaled).
        const size_t m = n - k - 1;
        Vector v(m);
        for (size_t i = 0; i < m; ++i) v[i] = a[(k + 1 + i) * n + k];
        double sigma = 0.0;
        for (size_t i = 1; i < m; ++i) sigma += v[i] * v[i];
        m_Diagonal[k] = a[k * n + k];
        const double x = v[0];
        if (sigma == 0.0) {
            m_Off[k] = x;
            m_Beta.push_back(0.0);
            m_Reflectors.emplace_back();
            continue;
        }
        const double mu = std::sqrt(x * x + sigma);
        const double head = x <= 0.0 ? x - mu : -sigma / (x + mu);
        const double beta = 2.0 * head * head / (sigma + head * head);
        for (size_t i = 1; i < m; ++i) v[i] = v[i] / head;
        v[0] = 1.0;
        m_Off[k] = mu;
        // The trailing block B becomes H B H = B - v w^T - w v^T with p = beta B v, w = p - (beta/2 p.v) v.
        Vector p(m, 0.0);
        for (size_t j = 0; j < m; ++j) {
            const double* row = &a[(k + 1 + j) * n + k + 1];
            const double vj = v[j];
            for (size_t i = 0; i < m; ++i) p[i] += row[i] * vj;  // B symmetric: row j is column j
        }
        double pv = 0.0;
        for (size_t i = 0; i < m; ++i) {
            p[i] *= beta;
            pv += p[i] * v[i];
        }
        const double half = beta * pv / 2.0;
        Vector w(m);
        for (size_t i = 0; i < m; ++i) w[i] = p[i] - half * v[i];
        for (size_t i = 0; i < m; ++i) {
            double* row = &a[(k + 1 + i) * n + k + 1];
            const double vi = v[i], wi = w[i];
            // (i, j) and (j, i) get the same two products: B stays exactly symmetric.
            for (size_t j = 0; j < m; ++j) row[j] = row[j] - (vi * w[j] + wi * v[j]);
        }
        m_Beta.push_back(beta);
        m_Reflectors.push_back(std::move(v));
    }
    if (n >= 2) {
        m_Diagonal[n - 2] = a[(n - 2) * n + n - 2];
        m_Off[n - 2] = a[(n - 1) * n + n - 2];
    }
    if (n >= 1) m_Diagonal[n - 1] = a[(n - 1) * n + n - 1];
}

void RidgeSolver::Reflect(size_t k, Vector& x) const {
    if (m_Beta[k] == 0.0) return;
    const Vector& v = m_Reflectors[k];
    double s = 0.0;
    for (size_t i = 0; i < v.size(); ++i) s += v[i] * x[k + 1 + i];
    s *= m_Beta[k];
    for (size_t i = 0; i < v.size(); ++i) x[k + 1 + i] -= s * v[i];
}

// Q = H_0 H_1 ... : Q^T applies the reflections first to last, Q last to first.
void RidgeSolver::ToTridiagonalBasis(Vector& b) const {
    for (size_t k = 0; k < m_Beta.size(); ++k) Reflect(k, b);
}

void RidgeSolver::FromTridiagonalBasis(Vector& z) const {
    for (size_t k = m_Beta.size(); k-- > 0;) Reflect(k, z);
}

bool RidgeSolver::SolveTridiagonal(double ridge, const Vector& b, Vector& z) const {
    // T + ridge I = L D L^T with L unit lower bidiagonal; a pivot <= 0 means not positive definite.
    const size_t n = m_N;
    z.assign(n, 0.0);
    if (n == 0) return true;
    Vector pivot(n), factor(n > 0 ? n - 1 : 0);
    pivot[0] = m_Diagonal[0] + ridge;
    if (!(pivot[0] > 0.0)) return false;
    z[0] = b[0];
    for (size_t i = 1; i < n; ++i) {
        factor[i - 1] = m_Off[i - 1] / pivot[i - 1];
        pivot[i] = (m_Diagonal[i] + ridge) - factor[i - 1] * m_Off[i - 1];
        if (!(pivot[i] > 0.0)) return false;
        z[i] = b[i] - factor[i - 1] * z[i - 1];
    }
    z[n - 1] = z[n - 1] / pivot[n - 1];
    for (size_t i = n - 1; i-- > 0;) z[i] = z[i] / pivot[i] - factor[i] * z[i + 1];
    return true;
}

bool RidgeSolver::Solve(double ridge, const Vector& b, Vector& x) const {
    Vector projected = b;
    ToTridiagonalBasis(projected);
    if (!SolveTridiagonal(ridge, projected, x)) return false;
    FromTridiagonalBasis(x);
    return true;
}

double RidgeSolver::LargestEigenvalue() const {
    const size_t n = m_N;
    if (n == 0) return 0.0;
    // Gershgorin bounds, then halving: below x lie as many eigenvalues as the LDL^T of T - x I has
    // negative pivots.
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (size_t i = 0; i < n; ++i) {
        const double radius =
            (i > 0 ? std::fabs(m_Off[i - 1]) : 0.0) + (i + 1 < n ? std::fabs(m_Off[i]) : 0.0);
        low = std::min(low, m_Diagonal[i] - radius);
        high = std::max(high, m_Diagonal[i] + radius);
    }
    const auto below = [&](double x) {
        size_t count = 0;
        double q = m_Diagonal[0] - x;
        for (size_t i = 0;;) {
            if (q == 0.0) q = -std::numeric_limits<double>::min();
            count += q < 0.0;
            if (++i == n) break;
            q = (m_Diagonal[i] - x) - m_Off[i - 1] * m_Off[i - 1] / q;
        }
        return count;
    };
    for (int step = 0; step < 200; ++step) {
        const double mid = low + (high - low) / 2.0;
        if (!(mid > low && mid < high)) break;
        (below(mid) == n ? high : low) = mid;
    }
    return high;
}

namespace {

// The held-out error of every grid ridge on one fold: its centred Gram matrix reduced once, then a
// tridiagonal solve per ridge and output.
void Evaluate(Fold& fold, const std::vector<SolverPattern>& states, const Matrix& targets, const Moments& all,
              const Vector& variance) {
    const size_t n = all.sums.size(), outputs = all.targetSums.size();
    const Moments& cut = fold.cut;
    const double count = double(states.size() - (fold.cutLast - fold.cutFirst));
    Vector mean(n), scaled(n), meanTarget(outputs);
    for (size_t j = 0; j < n; ++j) {
        mean[j] = (all.sums[j] - cut.sums[j]) / count;
        scaled[j] = count * mean[j];
    }
    for (size_t o = 0; o < outputs; ++o) meanTarget[o] = (all.targetSums[o] - cut.targetSums[o]) / count;
    std::vector<double> centred(n * n);
    for (size_t j = 0; j < n; ++j)
        for (size_t l = 0; l <= j; ++l)
            centred[j * n + l] = centred[l * n + j] =
                (all.gram[j * n + l] - cut.gram[j * n + l]) - scaled[j] * mean[l];
    Matrix sides(outputs, Vector(n));
    for (size_t o = 0; o < outputs; ++o)
        for (size_t j = 0; j < n; ++j)
            sides[o][j] =
                (all.cross[j * outputs + o] - cut.cross[j * outputs + o]) - scaled[j] * meanTarget[o];

    const RidgeSolver solver(std::move(centred), n);
    fold.floor = kResolution * solver.LargestEigenvalue();
    for (Vector& side : sides) solver.ToTridiagonalBasis(side);
    fold.errors.assign(kRidgeGridSize, 0.0);
    Vector weights;
    for (size_t g = 0; g < kRidgeGridSize; ++g) {
        for (size_t o = 0; o < outputs; ++o) {
            if (!solver.SolveTridiagonal(kRidgeGrid[g], sides[o], weights)) {
                fold.errors[g] = std::numeric_limits<double>::quiet_NaN();
                break;
            }
            solver.FromTridiagonalBasis(weights);
            double squares = 0.0;
            for (size_t r = fold.first; r < fold.last; ++r) {
                const double* s = states[r].values.data();
                double predicted = 0.0;
                for (size_t j = 0; j < n; ++j) predicted += (s[j] - mean[j]) * weights[j];
                const double miss = predicted - (targets[r][o] - meanTarget[o]);
                squares += miss * miss;
            }
            fold.errors[g] += squares / variance[o];
        }
    }
    fold.cut = Moments();  // its matrices are no longer needed
}

}  // namespace

RidgeChoice ChooseRidge(const std::vector<SolverPattern>& states, const Matrix& targets, size_t folds,
                        size_t gap, double tolerance) {
    RidgeChoice choice;
    const size_t rows = states.size();
    if (folds == 0 || rows < 2 * folds || targets.size() != rows) return choice;
    const size_t n = states[0].values.size();
    const size_t outputs = targets[0].size();
    for (size_t r = 0; r < rows; ++r)
        if (states[r].values.size() != n || targets[r].size() != outputs) return choice;
    gap = std::min(gap, rows / (4 * folds));

    Vector variance(outputs, 0.0);
    for (size_t o = 0; o < outputs; ++o) {
        double sum = 0.0;
        for (size_t r = 0; r < rows; ++r) sum += targets[r][o];
        const double mean = sum / double(rows);
        double squares = 0.0;
        for (size_t r = 0; r < rows; ++r) squares += (targets[r][o] - mean) * (targets[r][o] - mean);
        variance[o] = squares / double(rows);
        if (variance[o] == 0.0) variance[o] = 1.0;
    }

    // The folds' Gram matrices are folded in turn (the fold uses every thread), then reduced and
    // evaluated side by side, a fold per thread; their errors are added in fold order.
    const Parallel parallel;
    const Moments all = MomentsOf(states, targets, 0, rows, n, parallel);
    Vector errors(kRidgeGridSize, 0.0);
    double floor = 0.0;
    const size_t batch = std::max<size_t>(1, parallel.ThreadCount());
    for (size_t start = 0; start < folds; start += batch) {
        const size_t end = std::min(folds, start + batch);
        std::vector<Fold> batchFolds;
        for (size_t k = start; k < end; ++k) {
            Fold fold;
            fold.first = k * rows / folds;
            fold.last = (k + 1) * rows / folds;
            // Its training rows are all rows less the block and its gaps: their sums by difference.
            fold.cutFirst = fold.first >= gap ? fold.first - gap : 0;
            fold.cutLast = std::min(rows, fold.last + gap);
            fold.cut = MomentsOf(states, targets, fold.cutFirst, fold.cutLast, n, parallel);
            batchFolds.push_back(std::move(fold));
        }
        std::vector<std::exception_ptr> thrown(batchFolds.size());
        parallel.RunEach(batchFolds.size(), 1, [&](size_t begin, size_t stop) {
            for (size_t f = begin; f < stop; ++f) {
                try {
                    Evaluate(batchFolds[f], states, targets, all, variance);
                } catch (...) {
                    thrown[f] = std::current_exception();
                }
            }
        });
        for (const std::exception_ptr& e : thrown)
            if (e) std::rethrow_exception(e);
        for (const Fold& fold : batchFolds) {
            floor = std::max(floor, fold.floor);
            for (size_t g = 0; g < kRidgeGridSize; ++g) errors[g] += fold.errors[g];
        }
    }

    size_t best = kRidgeGridSize;
    for (size_t g = 0; g < kRidgeGridSize; ++g) {
        if (kRidgeGrid[g] < floor || !std::isfinite(errors[g])) {
            errors[g] = std::numeric_limits<double>::quiet_NaN();
        } else if (best == kRidgeGridSize || errors[g] < errors[best]) {
            best = g;
        }
    }
    choice.errors = errors;
    if (best == kRidgeGridSize) {
        choice.ridge = kRidgeGrid[kRidgeGridSize - 1];
        return choice;
    }
    size_t chosen = best;
    for (size_t g = best; g < kRidgeGridSize; ++g)
        if (errors[g] <= tolerance * errors[best]) chosen = g;
    choice.ridge = kRidgeGrid[chosen];
    return choice;
}

}  // namespace rcnet
