// The solver benchmarks' input: count patterns of n values and a target, all evenly in [-1, 1], the same
// on every run and target.
#pragma once

#include <random>
#include <vector>

#include "src/Solver/SolverPattern.h"

namespace rcnet::bench {

inline std::vector<SolverPattern> RandomPatterns(int n, int count) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<SolverPattern> rows(count);
    for (SolverPattern& row : rows) {
        row.values.resize(n);
        for (double& v : row.values) v = u(rng);
        row.target = u(rng);
    }
    return rows;
}

}  // namespace rcnet::bench
