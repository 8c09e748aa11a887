// The vector kernels of every instruction-set level, one table each, and the table of the level in use.
// Each entry is one kernel template (StepKernels.h, SolverKernels.h, Exp.h) instantiated for the level's
// pack of src/kernels/Vec.h; every entry gives the same
// bits as the plain loop it replaces, at every level. The level is the processor's (CPUID), or lower
// after cpu::Limit, which is how tests and benchmarks run each table on one machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/kernels/Cpu.h"

namespace rcnet::kernels {

struct FoldPass;
struct Reflection;
struct FoldBlock;

struct Kernels {
    // The fold over one pass's column panels [g0, g1), packed foldPanel values wide.
    size_t foldPanel;
    void (*fold)(const FoldPass& pass, size_t g0, size_t g1);
    // out[i] = in[i] for i < count (no overlap).
    void (*copy)(double* out, const double* in, size_t count);
    // The step's sums: one slice of the plan's terms; the input matrix's columns.
    void (*sumSlice)(const double* weight, const uint32_t* source, size_t terms, const double* carried,
                     double* sums);
    void (*sumInputs)(const double* const* rows, const double* inputs, size_t rowCount, double* sums,
                      size_t columns);
    // The activations over an array; the scalar exponential (Exp()).
    void (*activate)(const int32_t* types, const double* in, double* out, size_t count);
    double (*exp)(double x);
    // The elimination's row sweep and its blocked pass.
    bool (*eliminateFlush)(double* row, const double* pivot, double factor, size_t count, double bound);
    void (*applyPivots)(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                        const double* const* pivots, size_t count, size_t begin, size_t end, double bound);
    // The stable readout's Householder reflection over a run of columns, and its fold's block
    // (QrKernels.h).
    void (*reflect)(const Reflection& r, size_t begin, size_t end, double* norms);
    void (*foldBlock)(const FoldBlock& b, size_t begin, size_t end);
};

// The table of cpu::Active()'s level.
const Kernels& Active();

}  // namespace rcnet::kernels
