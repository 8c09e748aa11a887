// The neurons' activation functions over whole arrays, for the reservoir step. With AVX2 or AVX-512
// the exponential runs lane by lane through exactly Exp()'s operations (its fused multiply-adds are the
// processor's, rounded once like the scalar ones), and every lane outside Exp()'s main range (tiny,
// huge, infinite or NaN arguments) is recomputed by the scalar function: the results are
// ActivationValue's bits for every input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rcnet {

// out[j] = ActivationValue(types[j], in[j]) for j < count; out may be in.
void ActivateAll(const int32_t* types, const double* in, double* out, size_t count);

}  // namespace rcnet
