// Recursive least squares the textbook way, for comparison with OnlineReadout: the full covariance P,
// updated by P <- (P - k x^T P) / forgetting with k = P x / (forgetting + x^T P x), P x and x^T P each
// computed as written; under forgetting, after each step the regularisation row sqrt(rho) e_k of
// coordinate k = steps mod m, toward the start, without forgetting. Sound over short runs; over long
// ones P drifts from symmetry.
#pragma once

#include <cmath>
#include <cstddef>

#include "src/OnlineReadout.h"
#include "src/Types.h"

namespace rcnet::test {

struct ReferenceOnlineReadout {
    size_t n, m;
    double forgetting;
    Matrix p, w, start;
    Vector x, px, xp, k;
    double quadratic = 0.0;  // the last step's x^T P x, never negative while P is positive definite
    double rho;
    size_t steps = 0;

    ReferenceOnlineReadout(size_t neurons, bool threshold, size_t outputs, double lambda, double delta,
                           const Matrix& start = {})
        : n(neurons),
          m(neurons + (threshold ? 1 : 0)),
          forgetting(lambda),
          p(m, Vector(m, 0.0)),
          w(start.empty() ? Matrix(outputs, Vector(m, 0.0)) : start),
          start(w),
          x(m, 1.0),
          px(m),
          xp(m),
          k(m),
          rho(OnlineReadout::kLastingShare * delta * (1.0 - std::pow(lambda, static_cast<double>(m)))) {
        for (size_t i = 0; i < m; ++i) p[i][i] = 1.0 / delta;
    }

    void Update(const double* state, const double* targets) {
        for (size_t i = 0; i < n; ++i) x[i] = state[i];
        Fold(x, targets, forgetting);
        if (rho == 0.0) return;
        const size_t c = steps++ % m;
        Vector row(m, 0.0), pulled(w.size());
        row[c] = std::sqrt(rho);
        for (size_t o = 0; o < w.size(); ++o) pulled[o] = std::sqrt(rho) * start[o][c];
        Fold(row, pulled.data(), 1.0);
    }

    void Fold(const Vector& x, const double* targets, double forgetting) {
        double d = forgetting;
        for (size_t i = 0; i < m; ++i) {
            px[i] = 0.0, xp[i] = 0.0;
            for (size_t j = 0; j < m; ++j) px[i] += p[i][j] * x[j], xp[i] += x[j] * p[j][i];
        }
        for (size_t i = 0; i < m; ++i) d += x[i] * px[i];
        quadratic = d - forgetting;
        for (size_t i = 0; i < m; ++i) k[i] = px[i] / d;
        for (size_t o = 0; o < w.size(); ++o) {
            double e = targets[o];
            for (size_t i = 0; i < m; ++i) e -= w[o][i] * x[i];
            for (size_t i = 0; i < m; ++i) w[o][i] += e * k[i];
        }
        for (size_t i = 0; i < m; ++i)
            for (size_t j = 0; j < m; ++j) p[i][j] = (p[i][j] - k[i] * xp[j]) / forgetting;
    }
};

}  // namespace rcnet::test
