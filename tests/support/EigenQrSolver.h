// The stable readout as it was first written on Eigen: HouseholderQR of the stacked rows, refactored
// chunk by chunk, and CompleteOrthogonalDecomposition for the solve. An independent check of the
// weights (to a tolerance: its bits depend on Eigen's vector paths) and the benchmarks' baseline.
#pragma once

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "src/Types.h"

namespace rcnet::test {

class EigenQrSolver {
public:
    EigenQrSolver(size_t values, bool threshold, size_t targets)
        : m_Values(values), m_Threshold(threshold), m_Targets(targets) {
        m_Width = values + (threshold ? 1 : 0) + targets;
        SetChunkRows(
            std::max<size_t>(64, std::min(2 * m_Width, (size_t{4} << 20) / std::max<size_t>(1, m_Width))));
    }

    void SetChunkRows(size_t rows) {
        Reduce();
        m_Chunk = std::max<size_t>(1, rows);
        Eigen::MatrixXd stack = Eigen::MatrixXd::Zero(Eigen::Index(m_Width + m_Chunk), Eigen::Index(m_Width));
        if (m_Stack.rows() > 0) stack.topRows(Eigen::Index(m_Width)) = m_Stack.topRows(Eigen::Index(m_Width));
        m_Stack.swap(stack);
    }

    void AddRow(const double* values, const double* targets) {
        const Eigen::Index row = Eigen::Index(m_Width + m_Filled);
        Eigen::Index c = 0;
        for (size_t j = 0; j < m_Values; ++j) m_Stack(row, c++) = values[j];
        if (m_Threshold) m_Stack(row, c++) = 1.0;
        for (size_t j = 0; j < m_Targets; ++j) m_Stack(row, c++) = targets[j];
        if (++m_Filled == m_Chunk) Reduce();
    }

    Matrix Solve(double ridge) {
        Reduce();
        const Eigen::Index features = Eigen::Index(m_Values + (m_Threshold ? 1 : 0));
        const Eigen::Index targets = Eigen::Index(m_Targets), values = Eigen::Index(m_Values);
        Matrix weights(m_Targets, Vector(size_t(features), 0.0));
        if (features == 0 || targets == 0) return weights;
        const Eigen::Index extra = ridge > 0 ? values : 0;
        Eigen::MatrixXd a = Eigen::MatrixXd::Zero(features + extra, features);
        Eigen::MatrixXd b = Eigen::MatrixXd::Zero(features + extra, targets);
        a.topRows(features) = m_Stack.topLeftCorner(features, features);
        b.topRows(features) = m_Stack.block(0, features, features, targets);
        for (Eigen::Index j = 0; j < extra; ++j) a(features + j, j) = std::sqrt(ridge);
        const Eigen::MatrixXd w = Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd>(a).solve(b);
        for (Eigen::Index t = 0; t < targets; ++t)
            for (Eigen::Index j = 0; j < features; ++j) weights[size_t(t)][size_t(j)] = w(j, t);
        return weights;
    }

private:
    void Reduce() {
        if (m_Filled > 0 && m_Width > 0) {
            const Eigen::Index width = Eigen::Index(m_Width);
            Eigen::Ref<Eigen::MatrixXd> rows = m_Stack.topRows(width + Eigen::Index(m_Filled));
            Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(rows);
            m_Stack.topRows(width).triangularView<Eigen::StrictlyLower>().setZero();
        }
        m_Filled = 0;
    }

    size_t m_Values;
    bool m_Threshold;
    size_t m_Targets, m_Width = 0, m_Chunk = 0, m_Filled = 0;
    Eigen::MatrixXd m_Stack;
};

}  // namespace rcnet::test
