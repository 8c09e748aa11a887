// The four activation functions as stateless policy classes, written over any value type so that the
// step's vector lanes (src/kernels/StepKernels.h) run the same formulas, and the activation of a type
// number. Apart from src/Neurons.h: only the units that compute activations see the vector code.
#pragma once

#include <cmath>
#include <cstdint>

#include "src/Neurons.h"
#include "src/kernels/Exp.h"

RCNET_VECTOR_CODE_BEGIN

namespace rcnet {

// The two sigmoids' value: F's formula of the exponential, saturated outside [-F::kBound, F::kBound].
template <typename F>
double SaturatedValue(double x) {
    if (x > F::kBound) return F::kAbove;
    if (x < -F::kBound) return F::kBelow;
    return F::OfExp(Exp(x));
}

// 1 - 1 / (e^x + 1), saturated outside [-20, 20].
struct SigmoidFunction {
    static constexpr double kBound = 20, kBelow = 0, kAbove = 1;  // Value below -kBound, above kBound
    template <typename T>
    RCNET_INLINE static T OfExp(const T& e) {
        return 1.0 - 1.0 / (e + 1.0);
    }
    static double Value(double x) { return SaturatedValue<SigmoidFunction>(x); }
    static double Derivative(double x) {
        if (x > 20 || x < -20) return 0;
        const double d = Exp(x) + 1;
        return (d - 1) / (d * d);
    }
};

// (e^x - 1) / (e^x + 1), saturated outside [-20, 20].
struct BiSigmoidFunction {
    static constexpr double kBound = 20, kBelow = -1, kAbove = 1;
    template <typename T>
    RCNET_INLINE static T OfExp(const T& e) {
        return (e - 1.0) / (e + 1.0);
    }
    static double Value(double x) { return SaturatedValue<BiSigmoidFunction>(x); }
    static double Derivative(double x) {
        if (x > 20 || x < -20) return 0;
        const double d = Exp(x) + 1;
        return 2 * (d - 1) / (d * d);
    }
};

// An odd, unbounded function that grows like the square root of |x|. P: a pack of src/kernels/Vec.h.
struct RSDNFunction {
    template <typename P>
    RCNET_INLINE static typename P::V ValueOf(const typename P::V& x) {
        const typename P::V a = 5.0 * x;
        return a / (5.0 * P::Sqrt(P::Abs(a)) + 5.0);
    }
    static double Value(double x) { return ValueOf<kernels::Scalar<>>(x); }
    static double Derivative(double x) {
        const double s = std::sqrt(std::fabs(5 * x));
        return (s + 2) / (2 * (s + 1) * (s + 1));
    }
};

struct LinearFunction {
    static double Value(double x) { return x; }
    static double Derivative(double) { return 1; }
};

// The activation of a type number without a virtual call; the step's hot loop uses it. Any type other
// than 0..3 never reaches here (the factory refuses it).
inline double ActivationValue(int32_t type, double x) {
    switch (type) {
        case ETYPE_SIGMOID:
            return SigmoidFunction::Value(x);
        case ETYPE_BISIGMOID:
            return BiSigmoidFunction::Value(x);
        case ETYPE_RSDN:
            return RSDNFunction::Value(x);
        default:
            return LinearFunction::Value(x);
    }
}

template <typename F, int32_t N>
class FunctionalNeuron final : public NeuronBase {
public:
    explicit FunctionalNeuron(uint32_t id) : NeuronBase(id) {}
    ~FunctionalNeuron() = default;
    int32_t GetType() const override { return N; }
    double Value(double x) const override { return F::Value(x); }
    double Derivative(double x) const override { return F::Derivative(x); }
};

}  // namespace rcnet

RCNET_VECTOR_CODE_END
