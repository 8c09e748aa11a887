#include "src/Solver/QrSolver.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace rcnet {

struct QrSolver::Factor {
    // Rows [0, width): the triangular factor (zero below the diagonal); rows [width, width + filled): new
    // rows waiting to be folded in. Column-major, as the decomposition works column by column.
    Eigen::MatrixXd stack;
    size_t width = 0;
    size_t chunk = 0;
    size_t filled = 0;
};

namespace {
// Rows per chunk: twice the width keeps refactoring the triangle a small share of the work, and the
// chunk under 32 MiB bounds the memory for wide reservoirs.
size_t DefaultChunkRows(size_t width) {
    const size_t byMemory = (size_t{4} << 20) / std::max<size_t>(1, width);
    return std::max<size_t>(64, std::min(2 * width, byMemory));
}
}  // namespace

QrSolver::QrSolver(size_t values, bool threshold, size_t targets)
    : m_Values(values), m_Threshold(threshold), m_Targets(targets), m_Factor(std::make_unique<Factor>()) {
    m_Factor->width = values + (threshold ? 1 : 0) + targets;
    SetChunkRows(DefaultChunkRows(m_Factor->width));
}

QrSolver::~QrSolver() = default;

void QrSolver::SetChunkRows(size_t rows) {
    Factor& f = *m_Factor;
    Reduce();
    f.chunk = std::max<size_t>(1, rows);
    Eigen::MatrixXd stack = Eigen::MatrixXd::Zero(f.width + f.chunk, f.width);
    if (f.stack.rows() > 0) stack.topRows(f.width) = f.stack.topRows(f.width);
    f.stack.swap(stack);
}

void QrSolver::AddRow(const double* values, const double* targets) {
    Factor& f = *m_Factor;
    const Eigen::Index row = static_cast<Eigen::Index>(f.width + f.filled);
    Eigen::Index c = 0;
    for (size_t j = 0; j < m_Values; ++j) f.stack(row, c++) = values[j];
    if (m_Threshold) f.stack(row, c++) = 1.0;
    for (size_t j = 0; j < m_Targets; ++j) f.stack(row, c++) = targets[j];
    if (++f.filled == f.chunk) Reduce();
}

void QrSolver::Reduce() {
    Factor& f = *m_Factor;
    if (f.filled == 0 || f.width == 0) {
        f.filled = 0;
        return;
    }
    const Eigen::Index width = static_cast<Eigen::Index>(f.width);
    Eigen::Ref<Eigen::MatrixXd> rows = f.stack.topRows(width + static_cast<Eigen::Index>(f.filled));
    // In place: R lands in the upper triangle, the reflectors below it.
    Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(rows);
    f.stack.topRows(width).triangularView<Eigen::StrictlyLower>().setZero();
    f.filled = 0;
}

Matrix QrSolver::Solve(double ridge) {
    Reduce();
    const Factor& f = *m_Factor;
    const Eigen::Index features = static_cast<Eigen::Index>(m_Values + (m_Threshold ? 1 : 0));
    const Eigen::Index targets = static_cast<Eigen::Index>(m_Targets);
    const Eigen::Index values = static_cast<Eigen::Index>(m_Values);
    Matrix weights(m_Targets, Vector(static_cast<size_t>(features), 0.0));
    if (features == 0 || targets == 0) return weights;

    // The ridge as extra rows sqrt(ridge) * I under the value columns, with zero targets.
    const Eigen::Index extra = ridge > 0 ? values : 0;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(features + extra, features);
    Eigen::MatrixXd b = Eigen::MatrixXd::Zero(features + extra, targets);
    a.topRows(features) = f.stack.topLeftCorner(features, features);
    b.topRows(features) = f.stack.block(0, features, features, targets);
    const double root = std::sqrt(ridge);
    for (Eigen::Index j = 0; j < extra; ++j) a(features + j, j) = root;

    const Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd> cod(a);
    const Eigen::MatrixXd w = cod.solve(b);
    for (Eigen::Index t = 0; t < targets; ++t)
        for (Eigen::Index j = 0; j < features; ++j)
            weights[static_cast<size_t>(t)][static_cast<size_t>(j)] = w(j, t);
    return weights;
}

}  // namespace rcnet
