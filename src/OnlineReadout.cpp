#include "src/OnlineReadout.h"

#include <cmath>
#include <utility>

#include "src/Report.h"
#include "src/Sizes.h"
#include "src/kernels/Dot.h"

namespace rcnet {
namespace {

constexpr char kReportSource[] = "OnlineReadout";

bool AllFinite(const double* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

bool AllFinite(const Vector& values) {
    return AllFinite(values.data(), values.size());
}

// The same bits on every target (see src/kernels/Dot.h).
double Dot(const double* a, const double* b, size_t count) {
    return kernels::FixedOrderDot(a, b, count);
}

// sqrt(a^2 + b^2) without overflow for a factor grown large under forgetting; sqrt and division are
// correctly rounded everywhere, unlike hypot.
double Radius(double a, double b) {
    double big = std::fabs(a), small = std::fabs(b);
    if (big < small) std::swap(big, small);
    const double q = small / big;
    return big * std::sqrt(1.0 + q * q);
}

// base^exponent by squaring: plain products in an order fixed by the exponent, where pow's last bit
// differs between C libraries.
double Power(double base, size_t exponent) {
    double result = 1.0;
    for (; exponent > 0; exponent /= 2, base *= base)
        if (exponent % 2) result *= base;
    return result;
}

bool ValidForgetting(double forgetting) {
    return forgetting > 0.0 && forgetting <= 1.0;
}
bool ValidRegularization(double regularization) {
    return regularization > 0.0 && std::isfinite(regularization) && std::isfinite(1.0 / regularization);
}

}  // namespace

OnlineReadout::OnlineReadout(size_t neurons, bool threshold, size_t outputs, double forgetting,
                             double regularization)
    : m_Neurons(neurons),
      m_Threshold(threshold),
      m_Size(SizeSum(neurons, threshold ? 1 : 0)),
      m_Forgetting(RC_CHECK(ValidForgetting(forgetting)) ? forgetting : 1.0),
      m_Regularization(RC_CHECK(ValidRegularization(regularization)) ? regularization : 1.0),
      m_Inflation(1.0 / std::sqrt(m_Forgetting)),
      m_Refresh(std::sqrt(kLastingShare * m_Regularization * (1.0 - Power(m_Forgetting, m_Size)))),
      m_Weights(outputs, Vector(m_Size, 0.0)),
      m_Factor(TriangleSize(m_Size), 0.0),
      m_Regressor(m_Size, 1.0),
      m_Errors(outputs, 0.0),
      m_Top(m_Size, 0.0),
      m_Cos(m_Size, 1.0),
      m_Sin(m_Size, 0.0),
      m_Gain(m_Size, 0.0) {
    Start({});
}

bool OnlineReadout::Start(const Matrix& weights) {
    if (!weights.empty()) {
        RC_REQUIRE_AS(RCNET_REPORT_SIZE, weights.size() == m_Weights.size(), false);
        for (const Vector& row : weights) {
            RC_REQUIRE_AS(RCNET_REPORT_SIZE, row.size() == m_Size, false);
            RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, AllFinite(row), false);
        }
        m_Weights = weights;
    } else {
        for (Vector& row : m_Weights) row.assign(m_Size, 0.0);
    }
    m_Start = m_Weights;
    // P = I / regularization, so L = I / sqrt(regularization).
    const double diagonal = 1.0 / std::sqrt(m_Regularization);
    m_Factor.assign(m_Factor.size(), 0.0);
    for (size_t j = 0; j < m_Size; ++j) m_Factor[Column(j)] = diagonal;
    m_Steps = 0;
    return true;
}

bool OnlineReadout::Update(const double* state, const double* targets) {
    const size_t m = m_Size, outputs = m_Weights.size();
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, AllFinite(state, m_Neurons), false);
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, AllFinite(targets, outputs), false);
    double* x = m_Regressor.data();
    for (size_t i = 0; i < m_Neurons; ++i) x[i] = state[i];  // x[n] stays 1 under a threshold

    // A priori errors, before anything changes.
    for (size_t o = 0; o < outputs; ++o) m_Errors[o] = targets[o] - Dot(m_Weights[o].data(), x, m);
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, AllFinite(m_Errors), false);

    // The array's top row, x^T L / sqrt(forgetting): column j of L against x's rows j..m-1.
    double* top = m_Top.data();
    for (size_t j = 0; j < m; ++j) top[j] = Dot(&m_Factor[Column(j)], x + j, m - j) * m_Inflation;
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, AllFinite(m_Top), false);

    if (!Rotate(m, m_Inflation)) return false;
    const bool changed = ApplyGain();
    const size_t k = m > 0 ? m_Steps % m : 0;  // without coordinates rho is 0
    ++m_Steps;
    if (m_Refresh > 0.0 && !Refresh(k)) return false;
    return changed;
}

bool OnlineReadout::Refresh(size_t k) {
    // x = sqrt(rho) e_k: its top row is row k of L, zero after column k; its errors need no sums.
    double* top = m_Top.data();
    for (size_t j = 0; j <= k; ++j) top[j] = m_Factor[Column(j) + (k - j)] * m_Refresh;
    for (size_t j = k + 1; j < m_Size; ++j) top[j] = 0.0;
    for (size_t o = 0; o < m_Weights.size(); ++o) m_Errors[o] = (m_Start[o][k] - m_Weights[o][k]) * m_Refresh;
    // P stays below I / (kLastingShare regularization forgetting^m): neither should overflow; both check.
    return Rotate(k + 1, 1.0) && ApplyGain();
}

bool OnlineReadout::Rotate(size_t columns, double inflation) {
    const size_t m = m_Size;
    const double* top = m_Top.data();
    // The rotations that fold the top row into its first entry, last column first, so that each column
    // meets a first column with nothing above its diagonal and L stays triangular. They depend on the top
    // row alone: the step can still be refused here with nothing changed.
    double corner = 1.0;
    for (size_t j = columns; j-- > 0;) {
        if (top[j] == 0.0) {
            m_Cos[j] = 1.0, m_Sin[j] = 0.0;
            continue;
        }
        const double r = Radius(corner, top[j]);
        m_Cos[j] = corner / r;
        m_Sin[j] = top[j] / r;
        corner = r;
    }
    RC_REQUIRE_AS(RCNET_REPORT_NUMERIC, std::isfinite(corner), false);
    for (size_t j = columns; j < m; ++j) m_Cos[j] = 1.0, m_Sin[j] = 0.0;

    // The same rotations on the lower rows: [0 | L / sqrt(forgetting)] becomes [k sqrt(g) | L'].
    double* u = m_Gain.data();
    for (size_t i = 0; i < m; ++i) u[i] = 0.0;
    for (size_t j = m; j-- > 0;) {
        double* column = &m_Factor[Column(j)];
        const size_t length = m - j;
        double* uj = u + j;
        const double c = m_Cos[j], s = m_Sin[j];
        if (s == 0.0) {
            if (inflation != 1.0)
                for (size_t i = 0; i < length; ++i) column[i] *= inflation;
            continue;
        }
        for (size_t i = 0; i < length; ++i) {
            const double l = column[i] * inflation;
            column[i] = c * l - s * uj[i];
            uj[i] = s * l + c * uj[i];
        }
    }
    // The gain P_new x = P x / (forgetting + x^T P x): the first column over the corner.
    for (size_t i = 0; i < m; ++i) u[i] /= corner;
    return true;
}

bool OnlineReadout::ApplyGain() {
    const size_t m = m_Size;
    const double* u = m_Gain.data();
    bool changed = true;
    for (size_t o = 0; o < m_Weights.size(); ++o) {
        double* w = m_Weights[o].data();
        const double e = m_Errors[o];
        bool finite = true;
        for (size_t i = 0; i < m; ++i) finite = finite && std::isfinite(w[i] + e * u[i]);
        if (!RC_CHECK_AS(RCNET_REPORT_NUMERIC, finite)) {
            changed = false;
            continue;
        }
        for (size_t i = 0; i < m; ++i) w[i] += e * u[i];
    }
    return changed;
}

Matrix OnlineReadout::Covariance() const {
    const size_t m = m_Size;
    Matrix p(m, Vector(m, 0.0));
    // P_ik = sum over j <= min(i, k) of L_ij L_kj, j ascending.
    for (size_t i = 0; i < m; ++i)
        for (size_t k = 0; k <= i; ++k) {
            double sum = 0.0;
            for (size_t j = 0; j <= k; ++j) {
                const double* column = &m_Factor[Column(j)];
                sum += column[i - j] * column[k - j];
            }
            p[i][k] = p[k][i] = sum;
        }
    return p;
}

}  // namespace rcnet
