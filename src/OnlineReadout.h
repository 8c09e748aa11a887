// A readout trained while the network runs: recursive least squares with a forgetting factor, every
// output at once.
//
// With the regressor x = (state, 1) under a threshold term and x = state without one (length m), after t
// accepted steps the weights W (one row of m per output) minimise
//     sum_i forgetting^(t-i) |y_i - W x_i|^2 + regularization * forgetting^t * |W - W0|^2,
// W0 the weights given to Start. The outputs share the regressor, so they share one covariance
// P = (sum_i forgetting^(t-i) x_i x_i^T + regularization * forgetting^t I)^-1 and one gain per step.
//
// P is kept as a lower triangular factor L (P = L L^T) and updated by Givens rotations of the array
//     [ 1   x^T L / sqrt(forgetting) ]      [ 1/sqrt(g)   0  ]
//     [ 0   L / sqrt(forgetting)     ]  ->  [ k/sqrt(g)   L' ]
// (inverse QR-RLS): orthogonal transformations only, so P stays symmetric and positive definite however
// long the run and however little the states vary, where the plain update P <- (P - k x^T P) / forgetting
// drifts. A step costs O(m^2) for the factor and O(m) per output.
//
// Regularisation that does not fade away. Under forgetting, directions the states leave out would lose
// their regularisation at the forgetting's pace and P would grow without bound there (a constant state,
// zero inputs): the gain in those directions, and with it the weights, run away until the factor
// overflows and every later step is refused. So after each accepted step one coordinate k (the steps
// taken, modulo m) takes a row sqrt(rho) e_k with targets sqrt(rho) W0[., k], not forgotten at that step,
// rho = kLastingShare regularization (1 - forgetting^m): in the long run every coordinate keeps between
// kLastingShare regularization forgetting^m and kLastingShare regularization, P stays below
// I / (kLastingShare regularization forgetting^m), and the cost gains the term
//     sum_s forgetting^(t-s) rho |W[., k_s] - W0[., k_s]|^2.
// The share is small because the pull toward W0 slows tracking in weakly excited directions (a share of
// 1 made a tracking run 60 times worse; 1e-6 costs it 6 %). The row touches only the factor's first
// k + 1 columns, about a third of a step's work. Without forgetting rho is 0 and nothing is added: the
// regularisation never fades then.
//
// Sums run in a fixed order (no threads), so the same calls give the same bits on every run and target.
#pragma once

#include <cstddef>

#include "src/Types.h"

namespace rcnet {

class OnlineReadout {
public:
    // The share of the starting regularisation that forgetting never takes away.
    static constexpr double kLastingShare = 1e-6;

    // forgetting in (0, 1], regularization > 0 (both finite); other values are reported and replaced by
    // 1. Starts at zero weights.
    OnlineReadout(size_t neurons, bool threshold, size_t outputs, double forgetting, double regularization);

    // Restarts from W0 = weights (outputs rows of m values; zero rows if empty): no steps, P = I /
    // regularization, and the weights the regularisation pulls toward. Another shape or a value that is
    // not finite is reported and changes nothing.
    bool Start(const Matrix& weights);

    // One step: neurons state values and outputs targets. A step with a value that is not finite, or
    // whose error or gain would overflow, is reported and skipped: weights, covariance and Steps() stay
    // as they were; it returns false. (Should only an output's change of weights overflow, with targets
    // near the largest double, the covariance takes the step, that output's weights stay, it is reported
    // and false returned.)
    bool Update(const double* state, const double* targets);

    // outputs rows of m values: the neurons' weights in state order, then the threshold if any.
    const Matrix& Weights() const { return m_Weights; }
    // Steps taken since the last Start.
    size_t Steps() const { return m_Steps; }

    size_t Neurons() const { return m_Neurons; }
    bool Threshold() const { return m_Threshold; }
    size_t Outputs() const { return m_Weights.size(); }
    // The regressor's length m.
    size_t Size() const { return m_Size; }

    // P = L L^T, m x m (built on request: O(m^3)).
    Matrix Covariance() const;

private:
    // Column j of L (rows j..m-1) starts here in m_Factor.
    size_t Column(size_t j) const { return j * (2 * m_Size + 1 - j) / 2; }
    // Folds the array's top row m_Top (zero past its first `columns` entries) into L, inflating every
    // column by `inflation`, and leaves the gain in m_Gain. False, changing nothing, when the rotations
    // would overflow.
    bool Rotate(size_t columns, double inflation);
    // w_o += m_Errors[o] m_Gain for every output whose new weights are finite; false when some are not.
    bool ApplyGain();
    // The regularisation row of coordinate k.
    bool Refresh(size_t k);

    size_t m_Neurons;
    bool m_Threshold;
    size_t m_Size;
    double m_Forgetting;
    double m_Regularization;
    double m_Inflation;  // 1 / sqrt(forgetting)
    double m_Refresh;    // sqrt(rho)
    Matrix m_Weights;
    Matrix m_Start;   // W0
    Vector m_Factor;  // L's lower triangle, column by column
    size_t m_Steps = 0;

    // Per step, kept to avoid allocations.
    Vector m_Regressor;
    Vector m_Errors;
    Vector m_Top;  // x^T L / sqrt(forgetting)
    Vector m_Cos, m_Sin;
    Vector m_Gain;
};

}  // namespace rcnet
