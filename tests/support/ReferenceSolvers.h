// Both readout solvers written the plain way, step by step as the library describes them: a list of
// rows, one pattern at a time, one entry at a time, rows exchanged by value, no threads. The library's
// solvers must give the same bits.
#pragma once

#include <numeric>
#include <utility>
#include <vector>

#include "src/Types.h"

namespace rcnet::test {

struct ReferenceSolver {
    int n;
    Matrix m;
    Vector weights;
    std::vector<bool> zeroRows;

    explicit ReferenceSolver(int size)
        : n(size), m(size + 1, Vector(size + 2, 0.0)), weights(size + 1, 0.0) {}

    void AddRow(const Vector& v, double y) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) m[j][k] += v[k] * v[j];
            m[j][n] += v[j];
            m[j][n + 1] += v[j] * y;
        }
        for (int j = 0; j < n; ++j) m[n][j] += v[j];
        m[n][n] += 1.0;
        m[n][n + 1] += y;
    }

    static double Flush(double x) { return x > -1e-10 && x < 1e-10 ? 0.0 : x; }

    void EliminateRow(size_t p, size_t r, double f) {
        const size_t c = m[p].size();
        bool allZero = true;
        for (size_t i = 0; i + 1 < c; ++i) {
            m[r][i] = Flush(m[r][i] - m[p][i] * f);
            if (allZero && m[r][i] != 0) allZero = false;
        }
        zeroRows[r] = allZero;
        m[r][c - 1] = Flush(m[r][c - 1] - m[p][c - 1] * f);
    }

    const Vector& Solve() {
        const size_t count = m.size();
        zeroRows.assign(count, false);
        std::vector<size_t> order(count);
        std::iota(order.begin(), order.end(), size_t{0});
        if (m[0][0] == 0) {
            size_t i = 1;
            while (i < count && m[i][i] == 0) ++i;
            if (i >= count) return weights;
            std::swap(m[0], m[i]);
            std::swap(order[0], order[i]);
            for (Vector& row : m) std::swap(row[0], row[i]);
        }
        for (size_t col = 0; col < count; ++col) {
            size_t j = col;
            while (j < count && m[j][col] == 0) ++j;
            if (j == count) {
                size_t e = 0;
                while (e < count && !zeroRows[e]) ++e;
                if (e == count) return weights;
                m[e][col] = 1.0;
                zeroRows[e] = false;
                j = e;
            }
            const double coef = m[j][col];
            for (double& x : m[j]) x = x / coef;
            if (j != col) {
                std::swap(m[j], m[col]);
                const bool flag = zeroRows[j];
                zeroRows[j] = zeroRows[col];
                zeroRows[col] = flag;
            }
            for (size_t k = col + 1; k < count; ++k) EliminateRow(col, k, m[k][col]);
        }
        for (size_t j = count - 1; j >= 1; --j)
            for (size_t k = j; k-- > 0;) EliminateRow(j, k, m[k][j]);
        for (size_t k = 0; k < count; ++k) weights[order[k]] = m[k][count];
        return weights;
    }
};

struct ReferenceNoThresholdSolver {
    int n;
    Matrix m;
    Vector weights;

    explicit ReferenceNoThresholdSolver(int size)
        : n(size), m(size, Vector(size + 1, 0.0)), weights(size, 0.0) {}

    void AddRow(const Vector& v, double y) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) m[j][k] += v[k] * v[j];
            m[j][n] += v[j] * y;
        }
    }

    void EliminateRow(size_t p, size_t r, double f) {
        for (size_t i = 0; i < m[p].size(); ++i) {
            const double x = m[r][i] - m[p][i] * f;
            m[r][i] = x > -1e-15 && x < 1e-15 ? 0.0 : x;
        }
    }

    size_t FindZeroRow() const {
        for (size_t i = 0; i < m.size(); ++i) {
            bool allZero = true;
            for (size_t k = 0; k + 1 < m[0].size(); ++k) allZero = allZero && m[i][k] == 0;
            if (allZero) return i;
        }
        return m.size();
    }

    const Vector& Solve() {
        const size_t count = m.size();
        if (count == 0) return weights;
        for (size_t col = 0; col < count; ++col) {
            size_t j = col;
            while (j < count && m[j][col] == 0) ++j;
            if (j == count) {
                const size_t e = FindZeroRow();
                if (e >= count) return weights;
                m[e][col] = 1.0;
                j = e;
            }
            const double coef = m[j][col];
            for (double& x : m[j]) x = x / coef;
            if (j != col) std::swap(m[j], m[col]);
            for (size_t k = col + 1; k < count; ++k) EliminateRow(col, k, m[k][col]);
        }
        for (size_t j = count - 1; j >= 1; --j)
            for (size_t k = j; k-- > 0;) EliminateRow(j, k, m[k][j]);
        Vector result(count, 0.0);
        for (size_t k = 0; k < count; ++k) result[k] = m[k][count];
        weights = result;
        return weights;
    }
};

}  // namespace rcnet::test
