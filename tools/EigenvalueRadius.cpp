#include "tools/EigenvalueRadius.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace rcnet::tools {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
using Complex = std::complex<double>;

// A square row-major matrix.
class Square {
public:
    Square(std::vector<double>& data, size_t n) : m_Data(data.data()), m_N(n) {}
    double& operator()(size_t i, size_t j) { return m_Data[i * m_N + j]; }

private:
    double* m_Data;
    size_t m_N;
};

// Parlett-Reinsch balancing by powers of 2 (exact): rows and columns of very different sizes would
// otherwise cost accuracy in the QR iteration. Eigenvalues are unchanged.
void Balance(std::vector<double>& data, size_t n) {
    Square a(data, n);
    constexpr double kRadix = 2.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        bool changed = false;
        for (size_t i = 0; i < n; ++i) {
            double c = 0.0, r = 0.0;
            for (size_t j = 0; j < n; ++j) {
                if (j == i) continue;
                c += std::fabs(a(j, i));
                r += std::fabs(a(i, j));
            }
            if (c == 0.0 || r == 0.0) continue;
            const double sum = c + r;
            double f = 1.0;
            for (double g = r / kRadix; c < g;) f *= kRadix, c *= kRadix * kRadix;
            for (double g = r * kRadix; c > g;) f /= kRadix, c /= kRadix * kRadix;
            if ((c + r) / f < 0.95 * sum) {
                changed = true;
                for (size_t j = 0; j < n; ++j) a(i, j) /= f;
                for (size_t j = 0; j < n; ++j) a(j, i) *= f;
            }
        }
        if (!changed) break;
    }
}

// Householder reduction to upper Hessenberg form (a similarity, so eigenvalues are kept); the entries
// below the subdiagonal are set to zero. Both updates run along rows, which are contiguous.
void ReduceToHessenberg(std::vector<double>& data, size_t n) {
    Square a(data, n);
    std::vector<double> v(n), w(n);
    for (size_t k = 0; k + 2 < n; ++k) {
        const size_t len = n - k - 1;  // rows k+1 .. n-1 of column k
        double scale = 0.0;
        for (size_t i = 0; i < len; ++i) scale += std::fabs(a(k + 1 + i, k));
        if (scale == 0.0) continue;
        double tail = 0.0;
        for (size_t i = 0; i < len; ++i) {
            v[i] = a(k + 1 + i, k) / scale;
            if (i > 0) tail += v[i] * v[i];
        }
        if (tail == 0.0) continue;  // nothing below the subdiagonal
        const double norm = std::sqrt(v[0] * v[0] + tail);
        const double alpha = v[0] > 0 ? -norm : norm;
        v[0] -= alpha;
        const double beta = 2.0 / (v[0] * v[0] + tail);

        // From the left, on rows k+1.. and columns k+1..; column k becomes (alpha, 0, ...).
        std::fill(w.begin() + static_cast<std::ptrdiff_t>(k + 1), w.end(), 0.0);
        for (size_t i = 0; i < len; ++i) {
            const double vi = v[i];
            const double* row = &a(k + 1 + i, 0);
            for (size_t j = k + 1; j < n; ++j) w[j] += vi * row[j];
        }
        for (size_t i = 0; i < len; ++i) {
            const double f = beta * v[i];
            double* row = &a(k + 1 + i, 0);
            for (size_t j = k + 1; j < n; ++j) row[j] -= f * w[j];
        }
        a(k + 1, k) = alpha * scale;
        for (size_t i = 1; i < len; ++i) a(k + 1 + i, k) = 0.0;

        // From the right, on every row and columns k+1..
        for (size_t r = 0; r < n; ++r) {
            double* row = &a(r, k + 1);
            double d = 0.0;
            for (size_t i = 0; i < len; ++i) d += row[i] * v[i];
            d *= beta;
            for (size_t i = 0; i < len; ++i) row[i] -= d * v[i];
        }
    }
}

// The eigenvalues of [[a, b], [c, d]], without cancellation in the real case.
void TwoByTwoEigenvalues(double a, double b, double c, double d, std::vector<Complex>& out) {
    const double p = 0.5 * (a - d);
    const double disc = p * p + b * c;
    if (disc >= 0.0) {
        const double z = p + std::copysign(std::sqrt(disc), p);
        out.emplace_back(d + z, 0.0);
        out.emplace_back(z != 0.0 ? d - b * c / z : d, 0.0);
    } else {
        const double im = std::sqrt(-disc);
        out.emplace_back(d + p, im);
        out.emplace_back(d + p, -im);
    }
}

// A reflector I - beta v v^T that maps (x, y, z) onto the first axis. False when (x, y, z) is zero.
bool Reflector3(double x, double y, double z, double v[3], double& beta) {
    const double m = std::fabs(x) + std::fabs(y) + std::fabs(z);
    if (m == 0.0) return false;
    x /= m, y /= m, z /= m;
    const double alpha = -std::copysign(std::sqrt(x * x + y * y + z * z), x);
    v[0] = x - alpha, v[1] = y, v[2] = z;
    beta = 2.0 / (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return true;
}

// Eigenvalues of an upper Hessenberg matrix by the Francis double-shift QR iteration (Golub and Van
// Loan, Algorithm 7.5.1, with deflation when a subdiagonal entry becomes negligible). Only eigenvalues
// are wanted, so each step works on the active window alone.
bool HessenbergEigenvalues(std::vector<double>& data, size_t n, std::vector<Complex>& out) {
    out.clear();
    out.reserve(n);
    Square h(data, n);
    double norm = 0.0;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i > 0 ? i - 1 : 0; j < n; ++j) norm = std::max(norm, std::fabs(h(i, j)));
    if (norm != norm) return false;

    using Index = std::ptrdiff_t;
    Index hi = static_cast<Index>(n) - 1;
    int iterations = 0;
    while (hi >= 0) {
        Index l = hi;
        for (; l > 0; --l) {
            double s = std::fabs(h(l - 1, l - 1)) + std::fabs(h(l, l));
            if (s == 0.0) s = norm;
            if (std::fabs(h(l, l - 1)) <= kEps * s) {
                h(l, l - 1) = 0.0;
                break;
            }
        }
        if (l == hi) {
            out.emplace_back(h(hi, hi), 0.0);
            hi -= 1;
            iterations = 0;
            continue;
        }
        if (l == hi - 1) {
            TwoByTwoEigenvalues(h(hi - 1, hi - 1), h(hi - 1, hi), h(hi, hi - 1), h(hi, hi), out);
            hi -= 2;
            iterations = 0;
            continue;
        }
        if (++iterations > 100) return false;

        // The shifts are the eigenvalues of the trailing 2 x 2 block, given by their sum s and product
        // t; now and then an exceptional pair breaks a cycle.
        double s, t;
        if (iterations % 10 == 0) {
            const double w = std::fabs(h(hi, hi - 1)) + std::fabs(h(hi - 1, hi - 2));
            s = 1.5 * w;
            t = w * w;
        } else {
            s = h(hi - 1, hi - 1) + h(hi, hi);
            t = h(hi - 1, hi - 1) * h(hi, hi) - h(hi - 1, hi) * h(hi, hi - 1);
        }
        // First column of (H - s1 I)(H - s2 I), then the bulge is chased down the window.
        double x = h(l, l) * h(l, l) + h(l, l + 1) * h(l + 1, l) - s * h(l, l) + t;
        double y = h(l + 1, l) * (h(l, l) + h(l + 1, l + 1) - s);
        double z = h(l + 1, l) * h(l + 2, l + 1);
        for (Index k = l; k <= hi - 2; ++k) {
            double v[3], beta;
            if (Reflector3(x, y, z, v, beta)) {
                for (Index j = std::max(l, k - 1); j <= hi; ++j) {
                    const double p = beta * (v[0] * h(k, j) + v[1] * h(k + 1, j) + v[2] * h(k + 2, j));
                    h(k, j) -= p * v[0];
                    h(k + 1, j) -= p * v[1];
                    h(k + 2, j) -= p * v[2];
                }
                for (Index i = l; i <= std::min(k + 3, hi); ++i) {
                    const double p = beta * (h(i, k) * v[0] + h(i, k + 1) * v[1] + h(i, k + 2) * v[2]);
                    h(i, k) -= p * v[0];
                    h(i, k + 1) -= p * v[1];
                    h(i, k + 2) -= p * v[2];
                }
                if (k > l) h(k + 1, k - 1) = h(k + 2, k - 1) = 0.0;
            }
            x = h(k + 1, k);
            y = h(k + 2, k);
            z = k < hi - 2 ? h(k + 3, k) : 0.0;
        }
        // The last rotation, on rows and columns hi-1 and hi.
        const double r = std::hypot(x, y);
        if (r != 0.0) {
            const double c = x / r, sn = y / r;
            for (Index j = hi - 2; j <= hi; ++j) {
                const double t1 = h(hi - 1, j), t2 = h(hi, j);
                h(hi - 1, j) = c * t1 + sn * t2;
                h(hi, j) = -sn * t1 + c * t2;
            }
            for (Index i = l; i <= hi; ++i) {
                const double t1 = h(i, hi - 1), t2 = h(i, hi);
                h(i, hi - 1) = c * t1 + sn * t2;
                h(i, hi) = -sn * t1 + c * t2;
            }
            h(hi, hi - 2) = 0.0;
        }
    }
    return true;
}

// Compressed rows, for the sparse products of the Arnoldi iteration.
struct SparseRows {
    size_t n = 0;
    std::vector<size_t> start;
    std::vector<uint32_t> column;
    std::vector<double> value;

    SparseRows(size_t order, const std::vector<MatrixEntry>& entries) : n(order), start(order + 1, 0) {
        for (const MatrixEntry& e : entries) ++start[e.row + 1];
        for (size_t i = 0; i < n; ++i) start[i + 1] += start[i];
        column.resize(entries.size());
        value.resize(entries.size());
        std::vector<size_t> next(start.begin(), start.end() - 1);
        for (const MatrixEntry& e : entries) {
            column[next[e.row]] = e.column;
            value[next[e.row]++] = e.value;
        }
    }

    void Multiply(const double* x, double* y) const {
        for (size_t i = 0; i < n; ++i) {
            double sum = 0.0;
            for (size_t k = start[i]; k < start[i + 1]; ++k) sum += value[k] * x[column[k]];
            y[i] = sum;
        }
    }
};

// Deterministic start and restart vectors: a fixed linear congruential sequence in [-1, 1].
class VectorSource {
public:
    void Fill(double* x, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            m_State = m_State * 6364136223846793005ull + 1442695040888963407ull;
            x[i] = static_cast<double>(m_State >> 11) / 4503599627370496.0 - 1.0;
        }
    }

private:
    uint64_t m_State = 0x2545F4914F6CDD1Dull;
};

double Dot(const double* a, const double* b, size_t n) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += a[i] * b[i];
    return sum;
}

// Orders Ritz values by magnitude, largest first; conjugates end up side by side, positive part first.
bool ByMagnitude(const Complex& a, const Complex& b) {
    const double ma = std::abs(a), mb = std::abs(b);
    if (ma != mb) return ma > mb;
    if (a.real() != b.real()) return a.real() > b.real();
    return a.imag() > b.imag();
}

// The residual norm of the Ritz pair of theta, relative to the Arnoldi residual beta: beta |e_m^T y| for
// the unit eigenvector y of H (m x m, row-major). y comes from two steps of inverse iteration, solved by
// LU with pivoting that a Hessenberg matrix keeps within pairs of rows.
double RitzResidual(const std::vector<double>& hData, size_t m, Complex theta, double beta, double hNorm) {
    std::vector<Complex> a(m * m);
    for (size_t i = 0; i < m; ++i)
        for (size_t j = 0; j < m; ++j) a[i * m + j] = Complex(hData[i * m + j], 0.0) - (i == j ? theta : 0.0);
    const double tiny = std::max(hNorm, 1e-300) * kEps;
    std::vector<Complex> factor(m, 0.0);
    std::vector<char> swapped(m, 0);
    for (size_t i = 0; i + 1 < m; ++i) {
        if (std::abs(a[(i + 1) * m + i]) > std::abs(a[i * m + i])) {
            swapped[i] = 1;
            for (size_t j = i; j < m; ++j) std::swap(a[i * m + j], a[(i + 1) * m + j]);
        }
        if (a[i * m + i] == 0.0) a[i * m + i] = tiny;
        const Complex f = a[(i + 1) * m + i] / a[i * m + i];
        factor[i] = f;
        for (size_t j = i + 1; j < m; ++j) a[(i + 1) * m + j] -= f * a[i * m + j];
    }
    if (a[(m - 1) * m + m - 1] == 0.0) a[(m - 1) * m + m - 1] = tiny;
    std::vector<Complex> y(m, 1.0);
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i + 1 < m; ++i) {
            if (swapped[i]) std::swap(y[i], y[i + 1]);
            y[i + 1] -= factor[i] * y[i];
        }
        for (size_t i = m; i-- > 0;) {
            Complex sum = y[i];
            for (size_t j = i + 1; j < m; ++j) sum -= a[i * m + j] * y[j];
            y[i] = sum / a[i * m + i];
        }
        double largest = 0.0;
        for (const Complex& c : y) largest = std::max(largest, std::abs(c));
        if (!(largest > 0.0) || !std::isfinite(largest)) return std::numeric_limits<double>::infinity();
        for (Complex& c : y) c /= largest;
    }
    double norm = 0.0;
    for (const Complex& c : y) norm += std::norm(c);
    return beta * std::abs(y[m - 1]) / std::sqrt(norm);
}

// One implicit QR step with the real shift mu on the m x m Hessenberg matrix h; rotations go into q.
void SingleShiftStep(Square h, Square q, size_t m, double mu) {
    double x = h(0, 0) - mu, y = h(1, 0);
    for (size_t k = 0; k + 1 < m; ++k) {
        const double r = std::hypot(x, y);
        const double c = r != 0.0 ? x / r : 1.0, s = r != 0.0 ? y / r : 0.0;
        for (size_t j = k > 0 ? k - 1 : 0; j < m; ++j) {
            const double t1 = h(k, j), t2 = h(k + 1, j);
            h(k, j) = c * t1 + s * t2;
            h(k + 1, j) = -s * t1 + c * t2;
        }
        for (size_t i = 0; i <= std::min(k + 2, m - 1); ++i) {
            const double t1 = h(i, k), t2 = h(i, k + 1);
            h(i, k) = c * t1 + s * t2;
            h(i, k + 1) = -s * t1 + c * t2;
        }
        for (size_t i = 0; i < m; ++i) {
            const double t1 = q(i, k), t2 = q(i, k + 1);
            q(i, k) = c * t1 + s * t2;
            q(i, k + 1) = -s * t1 + c * t2;
        }
        if (k > 0) h(k + 1, k - 1) = 0.0;
        if (k + 2 < m) x = h(k + 1, k), y = h(k + 2, k);
    }
}

// One implicit double-shift (Francis) step with the shifts whose sum is s and product t; reflections
// go into q.
void DoubleShiftStep(Square h, Square q, size_t m, double s, double t) {
    double x = h(0, 0) * h(0, 0) + h(0, 1) * h(1, 0) - s * h(0, 0) + t;
    double y = h(1, 0) * (h(0, 0) + h(1, 1) - s);
    double z = m > 2 ? h(1, 0) * h(2, 1) : 0.0;
    for (size_t k = 0; k + 2 < m; ++k) {
        double v[3], beta;
        if (Reflector3(x, y, z, v, beta)) {
            for (size_t j = k > 0 ? k - 1 : 0; j < m; ++j) {
                const double p = beta * (v[0] * h(k, j) + v[1] * h(k + 1, j) + v[2] * h(k + 2, j));
                h(k, j) -= p * v[0], h(k + 1, j) -= p * v[1], h(k + 2, j) -= p * v[2];
            }
            for (size_t i = 0; i <= std::min(k + 3, m - 1); ++i) {
                const double p = beta * (h(i, k) * v[0] + h(i, k + 1) * v[1] + h(i, k + 2) * v[2]);
                h(i, k) -= p * v[0], h(i, k + 1) -= p * v[1], h(i, k + 2) -= p * v[2];
            }
            for (size_t i = 0; i < m; ++i) {
                const double p = beta * (q(i, k) * v[0] + q(i, k + 1) * v[1] + q(i, k + 2) * v[2]);
                q(i, k) -= p * v[0], q(i, k + 1) -= p * v[1], q(i, k + 2) -= p * v[2];
            }
            if (k > 0) h(k + 1, k - 1) = h(k + 2, k - 1) = 0.0;
        }
        x = h(k + 1, k);
        y = h(k + 2, k);
        z = k + 3 < m ? h(k + 3, k) : 0.0;
    }
    const double r = std::hypot(x, y);
    if (r == 0.0) return;
    const double c = x / r, sn = y / r;
    for (size_t j = m >= 3 ? m - 3 : 0; j < m; ++j) {
        const double t1 = h(m - 2, j), t2 = h(m - 1, j);
        h(m - 2, j) = c * t1 + sn * t2;
        h(m - 1, j) = -sn * t1 + c * t2;
    }
    for (size_t i = 0; i < m; ++i) {
        double t1 = h(i, m - 2), t2 = h(i, m - 1);
        h(i, m - 2) = c * t1 + sn * t2;
        h(i, m - 1) = -sn * t1 + c * t2;
        t1 = q(i, m - 2), t2 = q(i, m - 1);
        q(i, m - 2) = c * t1 + sn * t2;
        q(i, m - 1) = -sn * t1 + c * t2;
    }
    if (m >= 3) h(m - 1, m - 3) = 0.0;
}

// Tarjan's strongly connected components, without recursion (blocks may have thousands of rows). The
// graph has an edge column -> row for every entry. Returns each vertex's component number.
std::vector<uint32_t> StrongComponents(size_t n, const std::vector<MatrixEntry>& entries, uint32_t& count) {
    std::vector<size_t> start(n + 1, 0);
    for (const MatrixEntry& e : entries) ++start[e.column + 1];
    for (size_t i = 0; i < n; ++i) start[i + 1] += start[i];
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

double LargestMagnitude(const std::vector<Complex>& values) {
    double largest = 0.0;
    for (const Complex& v : values) largest = std::max(largest, std::abs(v));
    return largest;
}

}  // namespace

bool DenseEigenvalues(std::vector<double> matrix, size_t n, std::vector<Complex>& eigenvalues) {
    Balance(matrix, n);
    ReduceToHessenberg(matrix, n);
    return HessenbergEigenvalues(matrix, n, eigenvalues);
}

ArnoldiResult DominantEigenvalueArnoldi(size_t n, const std::vector<MatrixEntry>& entries,
                                        const SpectralOptions& options) {
    ArnoldiResult result;
    const size_t m = std::max<size_t>(options.basis, 8);
    const size_t wanted = std::clamp<size_t>(options.wanted, 1, m - 3);
    if (n <= m + 2) {
        // So small that the whole space fits the basis: solve it exactly.
        std::vector<double> dense(n * n, 0.0);
        for (const MatrixEntry& e : entries) dense[e.row * n + e.column] += e.value;
        std::vector<Complex> values;
        result.converged = DenseEigenvalues(std::move(dense), n, values);
        for (const Complex& v : values)
            if (std::abs(v) > std::abs(result.eigenvalue)) result.eigenvalue = v;
        return result;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(options.maxSeconds));
    const SparseRows a(n, entries);
    double aNorm = 0.0;  // largest absolute row sum, a bound on |eigenvalue|
    for (size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (size_t k = a.start[i]; k < a.start[i + 1]; ++k) sum += std::fabs(a.value[k]);
        aNorm = std::max(aNorm, sum);
    }
    if (aNorm == 0.0) {
        result.converged = true;
        return result;
    }

    std::vector<double> basis((m + 1) * n);  // column j at basis[j * n]
    auto column = [&](size_t j) { return basis.data() + j * n; };
    std::vector<double> hData(m * m, 0.0), qData(m * m), hWork, updated;
    Square h(hData, m);
    std::vector<double> coefficients(m + 1);
    VectorSource source;

    // Orthogonalises x against columns 0..j (classical Gram-Schmidt, twice) and returns its norm; the
    // coefficients are added to coefficients[0..j].
    auto orthogonalise = [&](double* x, size_t j) {
        std::fill(coefficients.begin(), coefficients.end(), 0.0);
        for (int pass = 0; pass < 2; ++pass) {
            for (size_t i = 0; i <= j; ++i) {
                const double c = Dot(column(i), x, n);
                coefficients[i] += c;
                const double* v = column(i);
                for (size_t r = 0; r < n; ++r) x[r] -= c * v[r];
            }
        }
        return std::sqrt(Dot(x, x, n));
    };
    // Puts a fresh random vector orthogonal to columns 0..j into column j+1: the Krylov space became
    // invariant, and the iteration goes on in the rest of the space.
    auto freshColumn = [&](size_t j) {
        double* x = column(j + 1);
        for (int attempt = 0; attempt < 5; ++attempt) {
            source.Fill(x, n);
            const double norm = orthogonalise(x, j);
            if (norm > 1e-8) {
                for (size_t r = 0; r < n; ++r) x[r] /= norm;
                return;
            }
        }
    };

    source.Fill(column(0), n);
    {
        const double norm = std::sqrt(Dot(column(0), column(0), n));
        for (size_t r = 0; r < n; ++r) column(0)[r] /= norm;
    }
    double beta = 0.0;  // the residual norm after column m-1
    size_t k = 0;       // the factorisation's current length
    std::vector<Complex> ritz;
    for (size_t restart = 0;; ++restart) {
        result.restarts = restart;
        // Extend the factorisation from k to m columns.
        for (size_t j = k; j < m; ++j) {
            double* w = column(j + 1);
            a.Multiply(column(j), w);
            const double before = std::sqrt(Dot(w, w, n));
            const double norm = orthogonalise(w, j);
            for (size_t i = 0; i <= j; ++i) h(i, j) = coefficients[i];
            for (size_t i = j + 1; i < m; ++i) h(i, j) = 0.0;
            const bool invariant = norm <= 1e-12 * std::max(before, aNorm);
            if (invariant) {
                freshColumn(j);
            } else {
                for (size_t r = 0; r < n; ++r) w[r] /= norm;
            }
            if (j + 1 < m) {
                h(j + 1, j) = invariant ? 0.0 : norm;
            } else {
                beta = invariant ? 0.0 : norm;
            }
        }

        hWork = hData;
        if (!HessenbergEigenvalues(hWork, m, ritz)) return result;
        std::sort(ritz.begin(), ritz.end(), ByMagnitude);
        result.eigenvalue = ritz[0];
        // Keep conjugate pairs together on one side of the cut.
        size_t keep = wanted;
        if (ritz[keep - 1].imag() > 0.0) ++keep;

        double hNorm = 0.0;
        for (double v : hData) hNorm = std::max(hNorm, std::fabs(v));
        bool converged = true;
        for (size_t i = 0; i < keep && converged; ++i) {
            if (ritz[i].imag() < 0.0) continue;  // its conjugate's residual is the same
            const double residual = RitzResidual(hData, m, ritz[i], beta, hNorm);
            converged = residual <= options.tolerance * std::max(std::abs(ritz[i]), 1e-12 * aNorm);
        }
        if (converged) {
            result.converged = true;
            return result;
        }
        if (restart >= options.maxRestarts || Clock::now() >= deadline) return result;

        // Implicit restart: the unwanted Ritz values are the shifts, which filters their directions out
        // of the basis; the first `keep` columns stay an Arnoldi factorisation.
        std::fill(qData.begin(), qData.end(), 0.0);
        Square q(qData, m);
        for (size_t i = 0; i < m; ++i) q(i, i) = 1.0;
        for (size_t i = keep; i < m; ++i) {
            if (ritz[i].imag() == 0.0) {
                SingleShiftStep(h, q, m, ritz[i].real());
            } else if (ritz[i].imag() > 0.0) {
                DoubleShiftStep(h, q, m, 2.0 * ritz[i].real(), std::norm(ritz[i]));
            }
        }
        // New columns 0..keep: the old basis times q.
        updated.assign((keep + 1) * n, 0.0);
        for (size_t c = 0; c <= keep; ++c) {
            double* out = updated.data() + c * n;
            for (size_t j = 0; j < m; ++j) {
                const double f = q(j, c);
                if (f == 0.0) continue;
                const double* v = column(j);
                for (size_t r = 0; r < n; ++r) out[r] += f * v[r];
            }
        }
        // The new residual: column `keep` of the rotated basis weighted by h(keep, keep-1), plus the old
        // residual weighted by q(m-1, keep-1).
        const double sigma = beta * q(m - 1, keep - 1);
        const double subdiagonal = h(keep, keep - 1);
        double* residual = updated.data() + keep * n;
        const double* oldResidual = column(m);
        for (size_t r = 0; r < n; ++r) residual[r] = residual[r] * subdiagonal + oldResidual[r] * sigma;
        std::copy(updated.begin(), updated.begin() + static_cast<std::ptrdiff_t>(keep * n), basis.begin());
        for (size_t i = 0; i < m; ++i)
            for (size_t j = keep; j < m; ++j) h(i, j) = 0.0;
        for (size_t i = keep + 1; i < m; ++i)
            for (size_t j = 0; j < m; ++j) h(i, j) = 0.0;
        double* next = column(keep);
        std::copy(residual, residual + n, next);
        // Orthogonalising again removes what rounding left along the kept columns; the coefficients go
        // into h so that the factorisation stays exact.
        const double norm = orthogonalise(next, keep - 1);
        for (size_t i = 0; i < keep; ++i) h(i, keep - 1) += coefficients[i];
        if (norm <= 1e-12 * aNorm) {
            freshColumn(keep - 1);
            h(keep, keep - 1) = 0.0;
        } else {
            for (size_t r = 0; r < n; ++r) next[r] /= norm;
            h(keep, keep - 1) = norm;
        }
        k = keep;
    }
}

SpectralResult SpectralRadius(size_t n, const std::vector<MatrixEntry>& entries,
                              const SpectralOptions& options) {
    SpectralResult result;
    double scale = 0.0;
    for (const MatrixEntry& e : entries) {
        if (!std::isfinite(e.value)) {
            result.radius = std::numeric_limits<double>::quiet_NaN();
            return result;
        }
        scale = std::max(scale, std::fabs(e.value));
    }
    if (n == 0 || scale == 0.0) return result;
    {
        std::vector<double> rowSum(n, 0.0), columnSum(n, 0.0);
        for (const MatrixEntry& e : entries) {
            rowSum[e.row] += std::fabs(e.value);
            columnSum[e.column] += std::fabs(e.value);
        }
        result.upperBound = std::min(*std::max_element(rowSum.begin(), rowSum.end()),
                                     *std::max_element(columnSum.begin(), columnSum.end()));
    }

    uint32_t count = 0;
    const std::vector<uint32_t> component = StrongComponents(n, entries, count);
    std::vector<uint32_t> size(count, 0), local(n);
    for (size_t i = 0; i < n; ++i) local[i] = size[component[i]]++;
    // Entries inside a block, scaled so that the largest is 1 (no overflow in the QR iteration).
    std::vector<std::vector<MatrixEntry>> blockEntries(count);
    std::vector<double> diagonal(n, 0.0);
    for (const MatrixEntry& e : entries) {
        if (e.value == 0.0 || component[e.row] != component[e.column]) continue;
        if (e.row == e.column) diagonal[e.row] += e.value / scale;
        if (size[component[e.row]] > 1)
            blockEntries[component[e.row]].push_back({local[e.row], local[e.column], e.value / scale});
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
        if (order <= options.denseLimit) {
            std::vector<double> dense(order * order, 0.0);
            for (const MatrixEntry& e : blockEntries[c]) dense[e.row * order + e.column] += e.value;
            std::vector<Complex> values;
            if (!DenseEigenvalues(std::move(dense), order, values)) result.converged = false;
            radius = std::max(radius, LargestMagnitude(values));
        } else {
            result.usedArnoldi = true;
            const ArnoldiResult arnoldi = DominantEigenvalueArnoldi(order, blockEntries[c], options);
            if (!arnoldi.converged) result.converged = false;
            radius = std::max(radius, std::abs(arnoldi.eigenvalue));
        }
        blockEntries[c].clear();
        blockEntries[c].shrink_to_fit();
    }
    result.radius = radius * scale;
    return result;
}

}  // namespace rcnet::tools
