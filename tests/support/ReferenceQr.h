// The stable readout's plain twin: src/Solver/QrSolver.cpp's algorithm in straightforward loops, one
// reflector at a time, column by column, each sum in row order. The library's kernels must give its
// bits at every instruction-set level.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "src/Types.h"

namespace rcnet::test {

class ReferenceQr {
public:
    ReferenceQr(size_t values, bool threshold, size_t targets, size_t chunk)
        : m_Values(values),
          m_Features(values + (threshold ? 1 : 0)),
          m_Width(m_Features + targets),
          m_Chunk(chunk),
          m_Threshold(threshold),
          m_R(m_Features, Vector(m_Width, 0.0)) {}

    void AddRow(const double* values, const double* targets) {
        Vector row(values, values + m_Values);
        if (m_Threshold) row.push_back(1.0);
        row.insert(row.end(), targets, targets + (m_Width - m_Features));
        m_Pending.push_back(row);
        if (m_Pending.size() == m_Chunk) Fold();
    }

    Matrix Solve(double ridge) {
        Fold();
        const size_t f = m_Features, width = m_Width, targets = width - f;
        Matrix weights(targets, Vector(f, 0.0));
        if (f == 0 || targets == 0) return weights;
        Matrix a = m_R;
        double largest = 0;
        for (size_t j = 0; j < f; ++j) largest = std::max(largest, Squares(a, 0, f, j));
        largest = std::sqrt(largest);
        const size_t extra = ridge > 0 ? m_Values : 0;
        double root = std::sqrt(ridge);
        if (root > 0x1p256) {
            for (Vector& row : a)
                for (double& x : row) x = x * 0x1p-256;
            root = root * 0x1p-256;
            largest = largest * 0x1p-256;
        }
        for (size_t first = 0; first < extra; first += 64) {
            Matrix batch(std::min<size_t>(64, extra - first), Vector(width, 0.0));
            for (size_t q = 0; q < batch.size(); ++q) batch[q][first + q] = root;
            FoldInto(a, batch);
        }

        // Column-pivoted QR: norms recomputed from the reflected rows.
        const double bar = std::numeric_limits<double>::epsilon() * double(f + extra) * largest;
        std::vector<size_t> order(f);
        Vector norms(f);
        for (size_t j = 0; j < f; ++j) {
            order[j] = j;
            norms[j] = Squares(a, 0, f, j);
        }
        size_t rank = 0;
        for (size_t k = 0; k < f; ++k) {
            size_t p = k;
            for (size_t j = k + 1; j < f; ++j)
                if (norms[j] > norms[p]) p = j;
            if (!(std::sqrt(norms[p]) > bar)) break;
            for (size_t i = 0; i < f; ++i) std::swap(a[i][k], a[i][p]);
            std::swap(norms[k], norms[p]);
            std::swap(order[k], order[p]);
            rank = k + 1;
            Reflect(a, k, k + 1, f, width);
            for (size_t j = k + 1; j < f; ++j) norms[j] = Squares(a, k + 1, f, j);
        }

        Vector z(f);
        if (rank == f) {
            for (size_t t = 0; t < targets; ++t) {
                for (size_t j = f; j-- > 0;) {
                    double s = a[j][f + t];
                    for (size_t l = j + 1; l < f; ++l) s = s - a[j][l] * z[l];
                    z[j] = s / a[j][j];
                }
                for (size_t j = 0; j < f; ++j) weights[t][order[j]] = z[j];
            }
            return weights;
        }
        // Minimum norm: the QR of the rank rows' transpose, m = Q [S; 0].
        Matrix m(f, Vector(rank, 0.0));
        for (size_t i = 0; i < rank; ++i)
            for (size_t j = i; j < f; ++j) m[j][i] = a[i][j];
        Vector taus(rank, 0.0);
        Matrix u(rank, Vector(f, 0.0));
        for (size_t k = 0; k < rank; ++k) {
            taus[k] = Reflect(m, k, k + 1, f, rank, &u[k]);
        }
        for (size_t t = 0; t < targets; ++t) {
            for (size_t i = 0; i < rank; ++i) {
                double s = a[i][f + t];
                for (size_t l = 0; l < i; ++l) s = s - m[l][i] * z[l];
                z[i] = s / m[i][i];
            }
            for (size_t i = rank; i < f; ++i) z[i] = 0.0;
            for (size_t k = rank; k-- > 0;) {
                if (taus[k] == 0.0) continue;
                double s = z[k];
                for (size_t i = k + 1; i < f; ++i) s = s + u[k][i] * z[i];
                s = s * taus[k];
                z[k] = z[k] - s;
                for (size_t i = k + 1; i < f; ++i) z[i] = z[i] - u[k][i] * s;
            }
            for (size_t j = 0; j < f; ++j) weights[t][order[j]] = z[j];
        }
        return weights;
    }

private:
    static double Squares(const Matrix& a, size_t first, size_t count, size_t j) {
        double sum = 0.0;
        for (size_t i = first; i < count; ++i) sum = sum + a[i][j] * a[i][j];
        return sum;
    }

    // The reflector that zeroes column k of rows [first, count) of a under a[k][k], applied to columns
    // (k, width) of row k and those rows. Returns tau (0: nothing to zero); u gets the rows' entries.
    static double Reflect(Matrix& a, size_t k, size_t first, size_t count, size_t width,
                          Vector* u = nullptr) {
        double sigma = 0.0;
        for (size_t i = first; i < count; ++i) sigma = sigma + a[i][k] * a[i][k];
        if (sigma == 0.0) return 0.0;
        const double x = a[k][k];
        const double norm = std::sqrt(x * x + sigma);
        const double beta = x >= 0.0 ? -norm : norm;
        Vector v(count, 0.0);
        for (size_t i = first; i < count; ++i) {
            v[i] = a[i][k] / (x - beta);
            a[i][k] = 0.0;
        }
        a[k][k] = beta;
        const double tau = (beta - x) / beta;
        for (size_t j = k + 1; j < width; ++j) {
            double s = a[k][j];
            for (size_t i = first; i < count; ++i) s = s + a[i][j] * v[i];
            const double t = s * tau;
            a[k][j] = a[k][j] - t;
            for (size_t i = first; i < count; ++i) a[i][j] = a[i][j] - t * v[i];
        }
        if (u) *u = v;
        return tau;
    }

    // Each column k: row k of the factor on top of the rows, reflected.
    void FoldInto(Matrix& r, Matrix& rows) const {
        for (size_t k = 0; k < m_Features; ++k) {
            Matrix stack;
            stack.reserve(rows.size() + 1);
            stack.push_back(r[k]);
            stack.insert(stack.end(), rows.begin(), rows.end());
            ReflectRows(stack, k);
            r[k] = stack[0];
            for (size_t i = 0; i < rows.size(); ++i) rows[i] = stack[i + 1];
        }
    }

    // Reflect with the head in row 0 of the stack and the pivot in column k.
    void ReflectRows(Matrix& s, size_t k) const {
        double sigma = 0.0;
        for (size_t i = 1; i < s.size(); ++i) sigma = sigma + s[i][k] * s[i][k];
        if (sigma == 0.0) return;
        const double x = s[0][k];
        const double norm = std::sqrt(x * x + sigma);
        const double beta = x >= 0.0 ? -norm : norm;
        Vector v(s.size(), 0.0);
        for (size_t i = 1; i < s.size(); ++i) {
            v[i] = s[i][k] / (x - beta);
            s[i][k] = 0.0;
        }
        s[0][k] = beta;
        const double tau = (beta - x) / beta;
        for (size_t j = k + 1; j < m_Width; ++j) {
            double sum = s[0][j];
            for (size_t i = 1; i < s.size(); ++i) sum = sum + s[i][j] * v[i];
            const double t = sum * tau;
            s[0][j] = s[0][j] - t;
            for (size_t i = 1; i < s.size(); ++i) s[i][j] = s[i][j] - t * v[i];
        }
    }

    void Fold() {
        if (!m_Pending.empty()) FoldInto(m_R, m_Pending);
        m_Pending.clear();
    }

    size_t m_Values, m_Features, m_Width, m_Chunk;
    bool m_Threshold;
    Matrix m_R;
    Matrix m_Pending;
};

}  // namespace rcnet::test
