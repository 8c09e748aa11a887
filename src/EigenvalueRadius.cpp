#include "src/EigenvalueRadius.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include "src/Solver/WorkerPool.h"
#include "src/kernels/Dot.h"

namespace rcnet {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;
using Complex = std::complex<double>;

// |z| from the square root alone: hypot's last bit differs between C libraries, and the scaled entries
// keep the squares far from overflow.
double Modulus(const Complex& z) {
    return std::sqrt(z.real() * z.real() + z.imag() * z.imag());
}

// Parlett-Reinsch balancing by powers of 2 (exact, so the eigenvalues are kept): rows and columns of
// very different sizes would cost the QR iteration accuracy.
void Balance(MatrixXd& a) {
    const Index n = a.rows();
    for (int sweep = 0; sweep < 100; ++sweep) {
        bool changed = false;
        for (Index i = 0; i < n; ++i) {
            double c = 0.0, r = 0.0;
            for (Index j = 0; j < n; ++j) {
                if (j == i) continue;
                c += std::fabs(a(j, i));
                r += std::fabs(a(i, j));
            }
            if (c == 0.0 || r == 0.0) continue;
            const double sum = c + r;
            double f = 1.0;
            for (const double g = r / 2; c < g;) f *= 2, c *= 4;
            for (const double g = r * 2; c > g;) f /= 2, c /= 4;
            if ((c + r) / f < 0.95 * sum) {
                changed = true;
                a.row(i) /= f;
                a.col(i) *= f;
            }
        }
        if (!changed) break;
    }
}

bool EigenvaluesOf(MatrixXd a, std::vector<Complex>& values) {
    values.clear();
    if (a.rows() == 0) return true;
    Balance(a);
    const Eigen::EigenSolver<MatrixXd> solver(a, false);
    if (solver.info() != Eigen::Success) return false;
    values.assign(solver.eigenvalues().data(), solver.eigenvalues().data() + a.rows());
    return true;
}

double LargestModulus(const std::vector<Complex>& values) {
    double largest = 0.0;
    for (const Complex& v : values) largest = std::max(largest, Modulus(v));
    return largest;
}

// Compressed rows, for the Arnoldi iteration's products, in the entries' order.
struct SparseRows {
    Index n = 0;
    std::vector<size_t> start;
    std::vector<uint32_t> column;
    std::vector<uint16_t> narrow;  // the columns again, when every one fits 16 bits
    std::vector<double> value;

    SparseRows(size_t order, const std::vector<MatrixEntry>& entries, unsigned threads)
        : n(static_cast<Index>(order)),
          start(order + 1, 0),
          column(entries.size()),
          value(entries.size()),
          m_Parallel(threads) {
        for (const MatrixEntry& e : entries) ++start[e.row + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<size_t> next(start.begin(), start.end() - 1);
        for (const MatrixEntry& e : entries) {
            column[next[e.row]] = e.column;
            value[next[e.row]++] = e.value;
        }
        if (order <= 65536) narrow.assign(column.begin(), column.end());
    }

    // Four partial sums per row (entry k of a row into sum k mod 4): one chain of additions would wait
    // on each addition's latency. The matrix is read from memory on every product: 16-bit columns where
    // they fit make it a sixth smaller.
    // Large blocks split their rows between the pool's threads: each row is still summed by one thread
    // in the same order, so the bits do not depend on the threads.
    void Multiply(const double* x, double* y) const {
        m_Parallel.Run(static_cast<size_t>(n), kRowsPerThread, [&](size_t begin, size_t end) {
            if (narrow.empty())
                MultiplyWith(column.data(), x, y, begin, end);
            else
                MultiplyWith(narrow.data(), x, y, begin, end);
        });
    }

    // Below this many rows per thread a product is too short to be worth sharing.
    static constexpr size_t kRowsPerThread = 8192;
    Parallel m_Parallel;

    template <typename Column>
    void MultiplyWith(const Column* columns, const double* x, double* y, size_t first, size_t last) const {
        const double* values = value.data();
        for (size_t i = first; i < last; ++i) {
            double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
            size_t k = start[i];
            const size_t end = start[i + 1];
            for (; k + 4 <= end; k += 4) {
                s0 += values[k] * x[columns[k]];
                s1 += values[k + 1] * x[columns[k + 1]];
                s2 += values[k + 2] * x[columns[k + 2]];
                s3 += values[k + 3] * x[columns[k + 3]];
            }
            for (; k < end; ++k) s0 += values[k] * x[columns[k]];
            y[i] = (s0 + s1) + (s2 + s3);
        }
    }

    double LargestRowSum() const {
        double largest = 0.0;
        for (Index i = 0; i < n; ++i) {
            double sum = 0.0;
            for (size_t k = start[i]; k < start[i + 1]; ++k) sum += std::fabs(value[k]);
            largest = std::max(largest, sum);
        }
        return largest;
    }
};

// Start and restart vectors: a fixed linear congruential sequence in [-1, 1).
class VectorSource {
public:
    template <typename Column>
    void Fill(Column&& x) {
        for (Index i = 0; i < x.size(); ++i) {
            m_State = m_State * 6364136223846793005ull + 1442695040888963407ull;
            x(i) = static_cast<double>(m_State >> 11) / 4503599627370496.0 - 1.0;
        }
    }

private:
    uint64_t m_State = 0x2545F4914F6CDD1Dull;
};

struct ArnoldiOutcome {
    double radius = 0.0;
    bool converged = false;
    size_t restarts = 0;
};

// The vector arithmetic of the Arnoldi iteration, summed in an order fixed by the lengths alone: how
// Eigen vectorises its own reductions differs between targets, and so would the last bits.
double Dot(const double* a, const double* b, Index n) {
    return kernels::FixedOrderDot(a, b, static_cast<size_t>(n));
}

double Norm(const double* x, Index n) {
    return std::sqrt(Dot(x, x, n));
}

// y += f x, element by element (the same bits however it is vectorised).
void AddScaled(double f, const double* x, double* y, Index n) {
    for (Index i = 0; i < n; ++i) y[i] += f * x[i];
}

void Divide(double* x, Index n, double d) {
    for (Index i = 0; i < n; ++i) x[i] /= d;
}

// Rows per chunk of the basis sweeps: the chunk of the vector stays in the first-level cache while
// every basis column passes over it, and the columns' chunks in the second-level cache between sweeps.
constexpr Index kChunk = 512;

// Adds the products of rows [r0, r1) of `count` columns (column i at v + i n) with x to four partial
// sums per column, row r into lane r mod 4 and the rows past the last multiple of 4 into lane 0: the
// order of FixedOrderDot, so the result does not depend on the chunking.
void AddDots(const double* v, Index n, Index count, const double* x, Index r0, Index r1, double* lanes) {
    const Index whole = std::min(r1, n & ~Index(3));
    for (Index i = 0; i < count; ++i) {
        const double* column = v + i * n;
        double s0 = lanes[4 * i], s1 = lanes[4 * i + 1], s2 = lanes[4 * i + 2], s3 = lanes[4 * i + 3];
        Index r = r0;
        for (; r + 4 <= whole; r += 4) {
            s0 += column[r] * x[r];
            s1 += column[r + 1] * x[r + 1];
            s2 += column[r + 2] * x[r + 2];
            s3 += column[r + 3] * x[r + 3];
        }
        for (; r < r1; ++r) s0 += column[r] * x[r];
        lanes[4 * i] = s0, lanes[4 * i + 1] = s1, lanes[4 * i + 2] = s2, lanes[4 * i + 3] = s3;
    }
}

double SumLanes(const double* lanes) {
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

// x -= sum_i c_i v_i over rows [r0, r1), column by column.
void SubtractColumns(const double* v, Index n, Index count, const double* c, double* x, Index r0, Index r1) {
    for (Index i = 0; i < count; ++i) {
        const double* column = v + i * n;
        const double f = c[i];
        for (Index r = r0; r < r1; ++r) x[r] -= f * column[r];
    }
}

// Classical Gram-Schmidt, twice, of column j + 1 of v against columns 0..j; the coefficients go into h
// (j + 1 rows). Three sweeps over the basis instead of four: the first correction of a chunk is
// followed at once by the second pass's products over it. Returns the remaining norm; `before` gets
// the norm the column came in with.
double Orthogonalise(MatrixXd& v, Index j, VectorXd& h, double& before) {
    const Index n = v.rows(), count = j + 1;
    const double* basis = v.data();
    double* x = v.col(j + 1).data();
    std::vector<double> lanes(static_cast<size_t>(4 * (count + 1)), 0.0), c(static_cast<size_t>(count));
    double* own = lanes.data() + 4 * count;  // x with itself
    for (Index r0 = 0; r0 < n; r0 += kChunk) {
        const Index r1 = std::min(n, r0 + kChunk);
        AddDots(basis, n, count, x, r0, r1, lanes.data());
        AddDots(x, n, 1, x, r0, r1, own);
    }
    before = std::sqrt(SumLanes(own));
    for (Index i = 0; i < count; ++i) h(i) = c[i] = SumLanes(&lanes[4 * i]);
    std::fill(lanes.begin(), lanes.end(), 0.0);
    for (Index r0 = 0; r0 < n; r0 += kChunk) {
        const Index r1 = std::min(n, r0 + kChunk);
        SubtractColumns(basis, n, count, c.data(), x, r0, r1);
        AddDots(basis, n, count, x, r0, r1, lanes.data());
    }
    for (Index i = 0; i < count; ++i) h(i) += c[i] = SumLanes(&lanes[4 * i]);
    std::fill(own, own + 4, 0.0);
    for (Index r0 = 0; r0 < n; r0 += kChunk) {
        const Index r1 = std::min(n, r0 + kChunk);
        SubtractColumns(basis, n, count, c.data(), x, r0, r1);
        AddDots(x, n, 1, x, r0, r1, own);
    }
    return std::sqrt(SumLanes(own));
}

// x / y by Smith's method, in plain double arithmetic: std::complex's division calls the compiler's
// runtime, which on 32-bit Windows computes in x87 extended precision and rounds otherwise.
Complex Divide(const Complex& x, const Complex& y) {
    if (std::fabs(y.real()) >= std::fabs(y.imag())) {
        const double r = y.imag() / y.real(), d = y.real() + y.imag() * r;
        return {(x.real() + x.imag() * r) / d, (x.imag() - x.real() * r) / d};
    }
    const double r = y.real() / y.imag(), d = y.real() * r + y.imag();
    return {(x.real() * r + x.imag()) / d, (x.imag() * r - x.real()) / d};
}

// Eigenvectors of the m x m matrix in the top rows of h, for eigenvalues already known, scaled to unit
// length. Computed here rather than taken from Eigen, whose eigenvector code rounds differently on
// different targets: a Householder reduction to Hessenberg form T = Q^T H Q once, then for each
// eigenvalue two steps of inverse iteration with T (LU with pivoting between neighbouring rows, a zero
// pivot made tiny) from a vector of ones, and back through Q. Plain loops, summed in a fixed order.
class RitzVectors {
public:
    RitzVectors(const MatrixXd& h, Index m)
        : m_M(m), m_T(static_cast<size_t>(m * m)), m_Q(static_cast<size_t>(m * m), 0.0) {
        for (Index i = 0; i < m; ++i) {
            for (Index j = 0; j < m; ++j) m_T[i * m + j] = h(i, j);
            m_Q[i * m + i] = 1.0;
            for (Index j = 0; j < m; ++j) m_Largest = std::max(m_Largest, std::fabs(h(i, j)));
        }
        std::vector<double> v(static_cast<size_t>(m), 0.0);
        for (Index k = 0; k + 2 < m; ++k) {
            double below = 0.0;  // squares below the subdiagonal entry
            for (Index i = k + 2; i < m; ++i) below += m_T[i * m + k] * m_T[i * m + k];
            if (below == 0.0) continue;
            const double x = m_T[(k + 1) * m + k], norm = std::sqrt(x * x + below);
            v[k + 1] = x - (x > 0.0 ? -norm : norm);
            for (Index i = k + 2; i < m; ++i) v[i] = m_T[i * m + k];
            const double beta = 2.0 / (v[k + 1] * v[k + 1] + below);
            for (Index j = k; j < m; ++j) {  // T = (I - beta v v^T) T
                double sum = 0.0;
                for (Index i = k + 1; i < m; ++i) sum += v[i] * m_T[i * m + j];
                for (Index i = k + 1; i < m; ++i) m_T[i * m + j] -= beta * sum * v[i];
            }
            for (std::vector<double>* matrix : {&m_T, &m_Q}) {  // T and Q times (I - beta v v^T)
                for (Index r = 0; r < m; ++r) {
                    double* row = matrix->data() + r * m;
                    double sum = 0.0;
                    for (Index i = k + 1; i < m; ++i) sum += row[i] * v[i];
                    for (Index i = k + 1; i < m; ++i) row[i] -= beta * sum * v[i];
                }
            }
        }
    }

    std::vector<Complex> Of(Complex theta) const {
        const Index m = m_M;
        const size_t order = static_cast<size_t>(m);
        std::vector<Complex> a(order * order), factor(order), z(order, Complex(1.0, 0.0));
        std::vector<char> swapped(order, 0);
        for (Index i = 0; i < m; ++i)
            for (Index j = i > 0 ? i - 1 : 0; j < m; ++j)
                a[i * m + j] = m_T[i * m + j] - (i == j ? theta : 0.0);
        const double tiny = std::max(m_Largest, 1e-300) * std::numeric_limits<double>::epsilon();
        for (Index i = 0; i + 1 < m; ++i) {
            if (Modulus(a[(i + 1) * m + i]) > Modulus(a[i * m + i])) {
                swapped[i] = 1;
                for (Index j = i; j < m; ++j) std::swap(a[i * m + j], a[(i + 1) * m + j]);
            }
            if (a[i * m + i] == 0.0) a[i * m + i] = tiny;
            factor[i] = Divide(a[(i + 1) * m + i], a[i * m + i]);
            for (Index j = i + 1; j < m; ++j) a[(i + 1) * m + j] -= factor[i] * a[i * m + j];
        }
        if (a[(m - 1) * m + m - 1] == 0.0) a[(m - 1) * m + m - 1] = tiny;
        for (int round = 0; round < 2; ++round) {
            for (Index i = 0; i + 1 < m; ++i) {
                if (swapped[i]) std::swap(z[i], z[i + 1]);
                z[i + 1] -= factor[i] * z[i];
            }
            for (Index i = m - 1; i >= 0; --i) {
                Complex sum = z[i];
                for (Index j = i + 1; j < m; ++j) sum -= a[i * m + j] * z[j];
                z[i] = Divide(sum, a[i * m + i]);
            }
            double size = 0.0;
            for (const Complex& c : z) size = std::max(size, Modulus(c));
            if (!(size > 0.0) || !std::isfinite(size)) break;
            for (Complex& c : z) c /= size;
        }
        std::vector<Complex> y(order, Complex(0.0, 0.0));
        double squares = 0.0;
        for (Index i = 0; i < m; ++i) {
            for (Index j = 0; j < m; ++j) y[i] += m_Q[i * m + j] * z[j];
            squares += y[i].real() * y[i].real() + y[i].imag() * y[i].imag();
        }
        const double length = std::sqrt(squares);
        if (length > 0.0 && std::isfinite(length))
            for (Complex& c : y) c /= length;
        return y;
    }

private:
    Index m_M;
    std::vector<double> m_T, m_Q;  // row-major
    double m_Largest = 0.0;
};

// The largest eigenvalue modulus of the square block a, by Arnoldi with thick restarts. The relation
// A V = V H + beta v_m e_m^T holds throughout (V: n x m, orthonormal); a restart keeps V Q, where Q spans
// H's invariant subspace of the largest Ritz values, as the first columns of a new decomposition whose
// H starts with Q^T H Q and a row beta e_m^T Q.
ArnoldiOutcome DominantModulus(const SparseRows& a, const SpectralRadiusOptions& options) {
    ArnoldiOutcome outcome;
    const Index n = a.n;
    // Where many eigenvalues crowd the largest modulus, a wider basis holds more of them apart.
    const Index widen = n >= static_cast<Index>(options.wideFrom) ? 2 : 1;
    const Index m = std::max<Index>(widen * static_cast<Index>(options.basis), 8);
    const Index wantedMax = std::clamp<Index>(static_cast<Index>(options.wanted), 1, m / 2);
    const Index keepMax = std::clamp<Index>(widen * static_cast<Index>(options.keep), wantedMax + 1, m - 2);
    int power = 1;  // a power of 2: the radius is then its square root taken so many times
    while (power * 2 <= static_cast<int>(std::min<size_t>(options.power, 1024))) power *= 2;
    const double aNorm = a.LargestRowSum();
    if (n <= m + 2 || aNorm == 0.0) {
        // The whole space fits the basis: solve it exactly.
        MatrixXd dense = MatrixXd::Zero(n, n);
        for (Index i = 0; i < n; ++i)
            for (size_t k = a.start[i]; k < a.start[i + 1]; ++k) dense(i, a.column[k]) += a.value[k];
        std::vector<Complex> values;
        outcome.converged = EigenvaluesOf(std::move(dense), values);
        outcome.radius = LargestModulus(values);
        return outcome;
    }

    // Below this a value or a residual of A^power counts as zero. Not from the bound aNorm^power: that
    // exceeds the radius^power by far, and would pass unconverged values.
    double small = 1.0;
    for (int p = 0; p < power; ++p) small *= 1e-12 * aNorm;
    // A relative error e in an eigenvalue of A^power is one of e / power in its root.
    const double tolerance = options.tolerance * power;
    MatrixXd v(n, m + 1), h = MatrixXd::Zero(m + 1, m);
    VectorXd scratch(n);
    VectorXd coefficients(m + 1);
    VectorSource source;
    source.Fill(v.col(0));
    Divide(v.col(0).data(), n, Norm(v.col(0).data(), n));
    Index k = 0;  // columns of the decomposition carried over
    std::vector<Index> order(static_cast<size_t>(m));
    double best = std::numeric_limits<double>::infinity();  // the worst wanted residual, in tolerances
    size_t progress = 0;                                    // the last restart that halved it
    for (size_t restart = 0;; ++restart) {
        outcome.restarts = restart;
        for (Index j = k; j < m; ++j) {
            a.Multiply(v.col(j).data(), v.col(j + 1).data());
            for (int p = 1; p < power; ++p) {
                scratch = v.col(j + 1);
                a.Multiply(scratch.data(), v.col(j + 1).data());
            }
            double before = 0.0, ignored = 0.0;
            double norm = Orthogonalise(v, j, coefficients, before);
            h.col(j).head(j + 1) = coefficients.head(j + 1);
            h.col(j).tail(m - j).setZero();
            if (norm <= std::max(1e-12 * before, small)) {
                // The Krylov space is invariant: go on in the rest of the space.
                for (int attempt = 0; attempt < 5 && norm <= 1e-8; ++attempt) {
                    source.Fill(v.col(j + 1));
                    norm = Orthogonalise(v, j, coefficients, ignored);
                }
            } else {
                h(j + 1, j) = norm;
            }
            Divide(v.col(j + 1).data(), n, norm);
        }
        const double beta = h(m, m - 1);
        const Eigen::EigenSolver<MatrixXd> solver(h.topRows(m), false);
        if (solver.info() != Eigen::Success) return outcome;
        const auto& ritz = solver.eigenvalues();
        // Largest modulus first; a conjugate pair side by side, positive imaginary part first.
        std::iota(order.begin(), order.end(), Index{0});
        std::sort(order.begin(), order.end(), [&](Index x, Index y) {
            const double mx = Modulus(ritz(x)), my = Modulus(ritz(y));
            if (mx != my) return mx > my;
            if (ritz(x).real() != ritz(y).real()) return ritz(x).real() > ritz(y).real();
            if (ritz(x).imag() != ritz(y).imag()) return ritz(x).imag() > ritz(y).imag();
            return x < y;  // a total order: the same on every target
        });
        outcome.radius = Modulus(ritz(order[0]));
        for (int p = power; p > 1; p /= 2) outcome.radius = std::sqrt(outcome.radius);

        // Converged: each wanted Ritz pair's residual beta |e_m^T y| is small against its value.
        const auto count = [&](Index wanted) {
            return wanted + (ritz(order[wanted - 1]).imag() > 0.0 ? 1 : 0);
        };
        // Every Ritz value within `crowd` of the largest modulus (in the root) must converge too: where
        // eigenvalues crowd round the largest, one of them may converge while a larger one has not
        // shown yet, and the unconverged neighbours are the sign of it.
        double edge = Modulus(ritz(order[0]));
        for (int p = 0; p < power; ++p) edge *= 1.0 - options.crowd;
        Index crowded = 1;
        while (crowded < m && Modulus(ritz(order[crowded])) >= edge) ++crowded;
        const Index keep = count(keepMax), wanted = std::min(std::max(count(wantedMax), crowded), keep);
        const RitzVectors ritzVectors(h, m);
        std::vector<std::vector<Complex>> vectors(static_cast<size_t>(keep));
        double worst = 0.0;
        for (Index i = 0; i < keep; ++i) {
            const Complex theta = ritz(order[i]);
            if (theta.imag() < 0.0) continue;  // its pair's vector is the conjugate
            vectors[i] = ritzVectors.Of(theta);
            if (i < wanted)
                worst = std::max(
                    worst, beta * Modulus(vectors[i][m - 1]) / (tolerance * std::max(Modulus(theta), small)));
        }
        const bool converged = worst <= 1.0 && crowded < keep;
        if (worst < best / 2) best = worst, progress = restart;
        // Eigenvalues spread evenly round a circle (a ring of links and a few more) hold the residuals
        // up for very long: better to say so soon.
        if (converged || restart >= options.maxRestarts || restart - progress >= options.stallRestarts) {
            outcome.converged = converged;
            return outcome;
        }

        // The kept Ritz vectors, a conjugate pair as its real and imaginary parts, made orthonormal
        // (modified Gram-Schmidt, twice); a part that adds no direction is dropped.
        MatrixXd q(m, keep);
        Index columns = 0;
        for (Index i = 0; i < keep; ++i) {
            const Complex theta = ritz(order[i]);
            if (theta.imag() < 0.0) continue;  // its pair's columns are in already
            for (int part = 0; part < (theta.imag() > 0.0 ? 2 : 1); ++part) {
                double* column = q.col(columns).data();
                for (Index r = 0; r < m; ++r)
                    column[r] = part == 0 ? vectors[i][r].real() : vectors[i][r].imag();
                const double length = Norm(column, m);
                for (int pass = 0; pass < 2; ++pass)
                    for (Index c = 0; c < columns; ++c)
                        AddScaled(-Dot(q.col(c).data(), column, m), q.col(c).data(), column, m);
                const double norm = Norm(column, m);
                if (norm > 1e-8 * length) {
                    Divide(column, m, norm);
                    ++columns;
                }
            }
        }
        // New columns: V Q summed column by column, then the old residual direction; the new H starts
        // with Q^T H Q.
        MatrixXd kept = MatrixXd::Zero(n, columns), hq = MatrixXd::Zero(m, columns), s(columns, columns);
        for (Index r0 = 0; r0 < n; r0 += kChunk) {  // by chunks of rows: the basis is read once
            const Index r1 = std::min(n, r0 + kChunk);
            for (Index c = 0; c < columns; ++c) {
                double* out = kept.col(c).data();
                for (Index j = 0; j < m; ++j) {
                    const double f = q(j, c), *column = v.col(j).data();
                    for (Index r = r0; r < r1; ++r) out[r] += f * column[r];
                }
            }
        }
        for (Index c = 0; c < columns; ++c)
            for (Index j = 0; j < m; ++j) AddScaled(q(j, c), h.col(j).data(), hq.col(c).data(), m);
        for (Index c = 0; c < columns; ++c)
            for (Index r = 0; r < columns; ++r) s(r, c) = Dot(q.col(r).data(), hq.col(c).data(), m);
        v.col(columns) = v.col(m);
        v.leftCols(columns) = kept;
        h.setZero();
        h.topLeftCorner(columns, columns) = s;
        h.row(columns).head(columns) = beta * q.row(m - 1).head(columns);
        k = columns;
    }
}

// A positive number as mantissa * 2^exponent, the mantissa in [0.5, 1) (or 0): products of many
// factors neither overflow nor underflow.
struct Wide {
    double mantissa = 0.5;
    int64_t exponent = 1;
};

Wide Times(const Wide& a, const Wide& b) {
    int k = 0;
    const double m = std::frexp(a.mantissa * b.mantissa, &k);  // in [0.25, 1): never rounds to 0
    return {m, m == 0.0 ? 0 : a.exponent + b.exponent + k};
}

Wide Times(const Wide& a, double b) {
    int k = 0;
    const double m = std::frexp(b, &k);
    return Times(a, Wide{m, k});
}

bool AtMost(const Wide& a, const Wide& b) {
    return a.exponent != b.exponent ? a.exponent < b.exponent : a.mantissa <= b.mantissa;
}

Wide Power(double z, uint64_t n) {
    Wide result, base = Times(Wide{}, z);
    for (; n > 0; n >>= 1) {
        if (n & 1) result = Times(result, base);
        base = Times(base, base);
    }
    return result;
}

// x^(1/n) by bisection on the bits, with +, *, frexp and ldexp only: pow() and log() differ between C
// libraries. x = f 2^(q n + r) with f in [1, 2) and 0 <= r < n, so the root is 2^q z with z in [1, 2)
// and z^n = f 2^r. The rounding of z^n (about n ulps at worst) moves z by about one ulp.
double NthRoot(const Wide& x, uint64_t n) {
    if (x.mantissa == 0.0) return 0.0;
    const int64_t whole = x.exponent - 1, count = static_cast<int64_t>(n);
    int64_t q = whole / count, r = whole % count;
    if (r < 0) r += count, --q;
    const Wide target{x.mantissa, r + 1};
    double low = 1.0, high = 2.0;  // low^n <= target < high^n
    for (;;) {
        const double middle = low + (high - low) / 2;
        if (middle <= low || middle >= high) break;
        (AtMost(Power(middle, n), target) ? low : high) = middle;
    }
    return std::ldexp(low, static_cast<int>(std::clamp<int64_t>(q, -4000, 4000)));
}

// A block in which every row has one entry is one cycle (strongly connected, n entries): its
// eigenvalues are the n-th roots of the product of the weights, all of one modulus.
double CycleRadius(const std::vector<MatrixEntry>& cycle) {
    Wide product;
    for (const MatrixEntry& e : cycle) product = Times(product, std::fabs(e.value));
    return NthRoot(product, cycle.size());
}

bool IsCycle(size_t order, const std::vector<MatrixEntry>& block) {
    if (block.size() != order) return false;
    std::vector<char> seen(order, 0);
    for (const MatrixEntry& e : block) {
        if (seen[e.row]) return false;
        seen[e.row] = 1;
    }
    return true;
}

// Tarjan's strongly connected components, without recursion (blocks may have thousands of rows). The
// graph has an edge column -> row for every entry. Returns each vertex's component number.
std::vector<uint32_t> StrongComponents(size_t n, const std::vector<MatrixEntry>& entries, uint32_t& count) {
    std::vector<size_t> start(n + 1, 0);
    for (const MatrixEntry& e : entries) ++start[e.column + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<uint32_t> next(entries.size());
    std::vector<size_t> fill(start.begin(), start.end() - 1);
    for (const MatrixEntry& e : entries) next[fill[e.column]++] = e.row;

    constexpr uint32_t kUnvisited = UINT32_MAX;
    std::vector<uint32_t> index(n, kUnvisited), low(n, 0), component(n, kUnvisited);
    std::vector<uint32_t> stack, path;
    std::vector<size_t> edge(n, 0);
    uint32_t counter = 0;
    count = 0;
    for (size_t root = 0; root < n; ++root) {
        if (index[root] != kUnvisited) continue;
        path.push_back(static_cast<uint32_t>(root));
        index[root] = low[root] = counter++;
        stack.push_back(static_cast<uint32_t>(root));
        edge[root] = start[root];
        while (!path.empty()) {
            const uint32_t v = path.back();
            if (edge[v] < start[v + 1]) {
                const uint32_t w = next[edge[v]++];
                if (index[w] == kUnvisited) {
                    index[w] = low[w] = counter++;
                    stack.push_back(w);
                    edge[w] = start[w];
                    path.push_back(w);
                } else if (component[w] == kUnvisited) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            path.pop_back();
            if (!path.empty()) low[path.back()] = std::min(low[path.back()], low[v]);
            if (low[v] == index[v]) {
                uint32_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    component[w] = count;
                } while (w != v);
                ++count;
            }
        }
    }
    return component;
}

}  // namespace

bool DenseEigenvalues(const std::vector<double>& matrix, size_t n, std::vector<Complex>& values) {
    const Index order = static_cast<Index>(n);
    return EigenvaluesOf(
        Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
            matrix.data(), order, order),
        values);
}

SpectralRadiusResult SpectralRadius(size_t n, const std::vector<MatrixEntry>& entries,
                                    const SpectralRadiusOptions& options) {
    SpectralRadiusResult result;
    double largest = 0.0;
    for (const MatrixEntry& e : entries) {
        if (!std::isfinite(e.value)) {
            result.radius = std::numeric_limits<double>::quiet_NaN();
            return result;
        }
        largest = std::max(largest, std::fabs(e.value));
    }
    if (n == 0 || largest == 0.0) return result;
    {
        std::vector<double> rowSum(n, 0.0), columnSum(n, 0.0);
        for (const MatrixEntry& e : entries) {
            rowSum[e.row] += std::fabs(e.value);
            columnSum[e.column] += std::fabs(e.value);
        }
        result.upperBound = std::min(*std::max_element(rowSum.begin(), rowSum.end()),
                                     *std::max_element(columnSum.begin(), columnSum.end()));
    }
    // Dense and Arnoldi blocks are scaled by a power of 2, so exactly: the largest entry below 1. By
    // ldexp, not by a factor: 2^-exponent overflows when the largest entry is subnormal.
    int exponent = 0;
    std::frexp(largest, &exponent);

    std::vector<MatrixEntry> nonzero;
    nonzero.reserve(entries.size());
    for (const MatrixEntry& e : entries)
        if (e.value != 0.0) nonzero.push_back(e);
    uint32_t count = 0;
    const std::vector<uint32_t> component = StrongComponents(n, nonzero, count);
    std::vector<uint32_t> size(count, 0), local(n);
    for (size_t i = 0; i < n; ++i) local[i] = size[component[i]]++;
    std::vector<std::vector<MatrixEntry>> blocks(count);
    std::vector<double> diagonal(n, 0.0);
    for (const MatrixEntry& e : nonzero) {
        if (component[e.row] != component[e.column]) continue;
        if (e.row == e.column) diagonal[e.row] += e.value;
        if (size[component[e.row]] > 1)
            blocks[component[e.row]].push_back({local[e.row], local[e.column], e.value});
    }
    double radius = 0.0;
    result.largestBlock = 1;
    for (size_t i = 0; i < n; ++i)
        if (size[component[i]] == 1) radius = std::max(radius, std::fabs(diagonal[i]));
    for (uint32_t c = 0; c < count; ++c) {
        const size_t order = size[c];
        if (order < 2) continue;
        ++result.blocks;
        result.largestBlock = std::max(result.largestBlock, order);
        std::vector<MatrixEntry>& block = blocks[c];
        if (IsCycle(order, block)) {
            ++result.cycles;
            radius = std::max(radius, CycleRadius(block));
            std::vector<MatrixEntry>().swap(block);
            continue;
        }
        for (MatrixEntry& e : block) e.value = std::ldexp(e.value, -exponent);
        double scaled = 0.0;
        bool solved = false;
        if (order > options.denseLimit) {
            result.usedArnoldi = true;
            const ArnoldiOutcome arnoldi =
                DominantModulus(SparseRows(order, block, options.threads), options);
            result.restarts += arnoldi.restarts;
            scaled = arnoldi.radius;
            solved = arnoldi.converged;
        }
        if (!solved && order <= std::max(options.denseLimit, options.denseFallbackLimit)) {
            // Small enough to solve whole after all, if slowly.
            MatrixXd dense = MatrixXd::Zero(static_cast<Index>(order), static_cast<Index>(order));
            for (const MatrixEntry& e : block) dense(e.row, e.column) += e.value;
            std::vector<Complex> values;
            solved = EigenvaluesOf(std::move(dense), values);
            scaled = LargestModulus(values);
        }
        result.converged = result.converged && solved;
        radius = std::max(radius, std::ldexp(scaled, exponent));
        std::vector<MatrixEntry>().swap(block);
    }
    result.radius = radius;
    return result;
}

}  // namespace rcnet
