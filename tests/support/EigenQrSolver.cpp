#include "tests/support/EigenQrSolver.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace rcnet::test {

struct EigenQrSolver::Stack {
    Eigen::MatrixXd rows;
};

EigenQrSolver::EigenQrSolver(size_t values, bool threshold, size_t targets)
    : m_Values(values), m_Threshold(threshold), m_Targets(targets), m_Stack(std::make_unique<Stack>()) {
    m_Width = values + (threshold ? 1 : 0) + targets;
    SetChunkRows(
        std::max<size_t>(64, std::min(2 * m_Width, (size_t{4} << 20) / std::max<size_t>(1, m_Width))));
}

EigenQrSolver::~EigenQrSolver() = default;

void EigenQrSolver::SetChunkRows(size_t rows) {
    Reduce();
    m_Chunk = std::max<size_t>(1, rows);
    Eigen::MatrixXd& old = m_Stack->rows;
    Eigen::MatrixXd stack = Eigen::MatrixXd::Zero(Eigen::Index(m_Width + m_Chunk), Eigen::Index(m_Width));
    if (old.rows() > 0) stack.topRows(Eigen::Index(m_Width)) = old.topRows(Eigen::Index(m_Width));
    old.swap(stack);
}

void EigenQrSolver::AddRow(const double* values, const double* targets) {
    Eigen::MatrixXd& stack = m_Stack->rows;
    const Eigen::Index row = Eigen::Index(m_Width + m_Filled);
    Eigen::Index c = 0;
    for (size_t j = 0; j < m_Values; ++j) stack(row, c++) = values[j];
    if (m_Threshold) stack(row, c++) = 1.0;
    for (size_t j = 0; j < m_Targets; ++j) stack(row, c++) = targets[j];
    if (++m_Filled == m_Chunk) Reduce();
}

Matrix EigenQrSolver::Solve(double ridge) {
    Reduce();
    const Eigen::MatrixXd& stack = m_Stack->rows;
    const Eigen::Index features = Eigen::Index(m_Values + (m_Threshold ? 1 : 0));
    const Eigen::Index targets = Eigen::Index(m_Targets), values = Eigen::Index(m_Values);
    Matrix weights(m_Targets, Vector(size_t(features), 0.0));
    if (features == 0 || targets == 0) return weights;
    const Eigen::Index extra = ridge > 0 ? values : 0;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(features + extra, features);
    Eigen::MatrixXd b = Eigen::MatrixXd::Zero(features + extra, targets);
    a.topRows(features) = stack.topLeftCorner(features, features);
    b.topRows(features) = stack.block(0, features, features, targets);
    for (Eigen::Index j = 0; j < extra; ++j) a(features + j, j) = std::sqrt(ridge);
    const Eigen::MatrixXd w = Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd>(a).solve(b);
    for (Eigen::Index t = 0; t < targets; ++t)
        for (Eigen::Index j = 0; j < features; ++j) weights[size_t(t)][size_t(j)] = w(j, t);
    return weights;
}

void EigenQrSolver::Reduce() {
    if (m_Filled > 0 && m_Width > 0) {
        Eigen::MatrixXd& stack = m_Stack->rows;
        const Eigen::Index width = Eigen::Index(m_Width);
        Eigen::Ref<Eigen::MatrixXd> rows = stack.topRows(width + Eigen::Index(m_Filled));
        Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(rows);
        stack.topRows(width).triangularView<Eigen::StrictlyLower>().setZero();
    }
    m_Filled = 0;
}

Matrix DirectLeastSquares(const Matrix& a, const Matrix& b) {
    const Eigen::Index rows = Eigen::Index(a.size());
    const Eigen::Index columns = rows ? Eigen::Index(a[0].size()) : 0;
    const Eigen::Index targets = rows ? Eigen::Index(b[0].size()) : 0;
    Eigen::MatrixXd ea(rows, columns), eb(rows, targets);
    for (Eigen::Index i = 0; i < rows; ++i) {
        for (Eigen::Index j = 0; j < columns; ++j) ea(i, j) = a[size_t(i)][size_t(j)];
        for (Eigen::Index t = 0; t < targets; ++t) eb(i, t) = b[size_t(i)][size_t(t)];
    }
    const Eigen::MatrixXd w = ea.colPivHouseholderQr().solve(eb);
    Matrix weights(static_cast<size_t>(targets), Vector(static_cast<size_t>(columns)));
    for (Eigen::Index t = 0; t < targets; ++t)
        for (Eigen::Index j = 0; j < columns; ++j) weights[size_t(t)][size_t(j)] = w(j, t);
    return weights;
}

}  // namespace rcnet::test
