#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <vector>

#include "src/Solver/Fold.h"
#include "src/Solver/Solver.h"
#include "src/kernels/SolverKernels.h"
#include "tests/support/Levels.h"
#include "tests/support/ReferenceSolvers.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/Sanitizers.h"

namespace {

using namespace rcnet;
using rcnet::test::ForEachLevel;
using rcnet::test::ReferenceNoThresholdSolver;
using rcnet::test::ReferenceSolver;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;

std::vector<SolverPattern> Patterns(std::initializer_list<std::pair<Vector, double>> list) {
    std::vector<SolverPattern> rows;
    for (const auto& [values, target] : list) rows.push_back({values, target});
    return rows;
}

// Solves an augmented matrix given row by row; returns the weights.
template <typename S>
Vector SolveMatrix(int n, const Matrix& rows) {
    RowMatrix matrix(rows.size(), rows.empty() ? 0 : rows[0].size());
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows[i].size(); ++j) matrix.At(i, j) = rows[i][j];
    S solver(n);
    solver.SetMatrix(matrix);
    return solver.Solve();
}

// --- the threshold solver ---------------------------------------------------------------------------

TEST(Solver, WithoutNeuronsTheThresholdIsTheMeanTarget) {
    Solver solver(0);
    solver.AddRows(Patterns({{{}, 1.0}, {{}, 2.0}, {{}, 4.5}}));
    EXPECT_EQ(solver.Solve(), (Vector{7.5 / 3}));
}

TEST(Solver, TwoPointsGiveTheLineThroughThem) {
    Solver solver(1);
    solver.AddRows(Patterns({{{1}, 1}, {{2}, 3}}));
    const Vector w = solver.Solve();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_NEAR(w[0], 2.0, 1e-13);
    EXPECT_NEAR(w[1], -1.0, 1e-13);
}

TEST(Solver, NoPatternsGiveZeros) {
    ReportCapture capture;
    Solver solver(4);
    EXPECT_EQ(solver.Solve(), Vector(5, 0.0));
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(Solver, OnePatternFitsTheFirstWeightAlone) {
    const Vector v{0.5, -0.25, 0.75};
    const double y = 0.3;
    Solver solver(3);
    solver.AddRow({v, y});
    const Vector w = solver.Solve();
    EXPECT_EQ(w, (Vector{(v[0] * y) / (v[0] * v[0]), 0, 0, 0}));
}

// Neuron 2 is silent: its weight is exactly 0, and the rest is the fit without it.
TEST(Solver, SilentNeuronGetsZeroWeight) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    Solver with(4), without(3);
    for (int p = 0; p < 40; ++p) {
        const Vector v{u(rng), u(rng), 0.0, u(rng)};
        const double y = u(rng);
        with.AddRow({v, y});
        without.AddRow({{v[0], v[1], v[3]}, y});
    }
    const Vector w = with.Solve();
    const Vector r = without.Solve();
    EXPECT_EQ(w[2], 0.0);
    EXPECT_EQ((Vector{w[0], w[1], w[3], w[4]}), r);
}

// Neuron 0 is silent: row and column 0 are exchanged with the first non-zero diagonal's, and every
// weight still lands in its own neuron's place.
TEST(Solver, PrePivotKeepsWeightsInPlace) {
    std::mt19937 rng(6);
    std::uniform_real_distribution<double> u(-1, 1);
    Solver with(3), without(2);
    for (int p = 0; p < 30; ++p) {
        const Vector v{0.0, u(rng), u(rng)};
        const double y = 2 * v[1] - 0.5 * v[2] + 0.25;
        with.AddRow({v, y});
        without.AddRow({{v[1], v[2]}, y});
    }
    const Vector w = with.Solve();
    const Vector r = without.Solve();
    EXPECT_EQ(w[0], 0.0);
    EXPECT_NEAR(w[1], 2.0, 1e-12);
    EXPECT_NEAR(w[2], -0.5, 1e-12);
    EXPECT_NEAR(w[3], 0.25, 1e-12);
    EXPECT_EQ((Vector{w[1], w[2], w[3]}), r);
}

TEST(Solver, WrongLengthPatternsAreSkippedOrReported) {
    ReportCapture capture;
    Solver solver(2);
    solver.AddRows(Patterns({{{1}, 1}, {{1, 2, 3}, 1}}));
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_TRUE(SameBits(solver.GetMatrix().ToRows(), Matrix(3, Vector(4, 0.0))));
    solver.AddRow({{1}, 1});
    EXPECT_EQ(capture.Checks(), Checks{"size == m_PatternSize @ Solver"});
    EXPECT_TRUE(SameBits(solver.GetMatrix().ToRows(), Matrix(3, Vector(4, 0.0))));
}

// Row 1 is already reduced: the forward pass subtracts row 0 times 0 from it, the backward pass row 1
// times 0 from row 0, and both results are flushed.
TEST(Solver, FlushBoundIsStrict) {
    for (double y : {1e-10, -1e-10, std::nextafter(1e-10, 0.0), std::nextafter(-1e-10, 0.0)}) {
        const double kept = std::fabs(y) >= 1e-10 ? y : 0.0;
        EXPECT_EQ(SolveMatrix<Solver>(1, {{1, 0, y}, {0, 1, y}}), (Vector{kept, kept})) << y;
    }
    // A coefficient of 1e-12 left by the forward pass is flushed, so it takes nothing from weight 1.
    EXPECT_EQ(SolveMatrix<Solver>(2, {{1, 0, 0, 0}, {0, 1, 1e-12, 1}, {0, 0, 1, 1}}), (Vector{0, 1, 1}));
}

// The first row whose coefficients are all zero takes a dependent column's unit entry, whatever its
// right-hand side: the weight is that right-hand side.
TEST(Solver, ZeroRowIgnoresTheRightHandSide) {
    EXPECT_EQ(SolveMatrix<Solver>(1, {{1, 0, 5}, {0, 0, 7}}), (Vector{5, 7}));
    EXPECT_EQ(SolveMatrix<NoThresholdSolver>(2, {{1, 0, 5}, {0, 0, 7}}), (Vector{5, 7}));
    EXPECT_EQ(SolveMatrix<NoThresholdSolver>(2, {{0, 0, 3}, {0, 0, 7}}), (Vector{3, 7}))
        << "each its own row";
}

TEST(Solver, NaNCountsAsANonZeroPivot) {
    ReportCapture capture;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Solver solver(2);
    solver.AddRow({{nan, 1.0}, 1.0});
    solver.AddRow({{0.5, 2.0}, 3.0});
    const Vector& w = solver.Solve();
    EXPECT_EQ(w.size(), 3u);
    EXPECT_TRUE(std::isnan(w[0]));
    EXPECT_TRUE(capture.Lines().empty()) << "a NaN pivot is not a zero coefficient";
}

// --- the solver without threshold -------------------------------------------------------------------

TEST(NoThresholdSolver, WithoutNeuronsTheWeightsAreEmpty) {
    NoThresholdSolver solver(0);
    solver.AddRows(Patterns({{{}, 1.0}}));
    EXPECT_TRUE(solver.Solve().empty());
}

TEST(NoThresholdSolver, TwoPointsGiveSevenFifths) {
    NoThresholdSolver solver(1);
    solver.AddRows(Patterns({{{1}, 1}, {{2}, 3}}));
    EXPECT_EQ(solver.Solve(), (Vector{1.4}));
}

TEST(NoThresholdSolver, NoPatternsGiveZeros) {
    NoThresholdSolver solver(3);
    EXPECT_EQ(solver.Solve(), Vector(3, 0.0));
}

TEST(NoThresholdSolver, OnePatternFitsTheFirstWeightAlone) {
    const Vector v{-0.5, 0.25, 0.125};
    const double y = -0.7;
    NoThresholdSolver solver(3);
    solver.AddRow({v, y});
    EXPECT_EQ(solver.Solve(), (Vector{(v[0] * y) / (v[0] * v[0]), 0, 0}));
}

TEST(NoThresholdSolver, SilentNeuronZeroNeedsNoPrePivot) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1, 1);
    NoThresholdSolver with(3), without(2);
    for (int p = 0; p < 30; ++p) {
        const Vector v{0.0, u(rng), u(rng)};
        const double y = u(rng);
        with.AddRow({v, y});
        without.AddRow({{v[1], v[2]}, y});
    }
    const Vector w = with.Solve();
    EXPECT_EQ(w[0], 0.0);
    EXPECT_EQ((Vector{w[1], w[2]}), without.Solve());
}

TEST(NoThresholdSolver, FlushBoundIsStrictAndIncludesTheRightHandSide) {
    EXPECT_EQ(SolveMatrix<NoThresholdSolver>(2, {{1, 0, 1e-12}, {0, 1, 1e-12}}), (Vector{1e-12, 1e-12}))
        << "Solver would flush these";
    EXPECT_EQ(SolveMatrix<NoThresholdSolver>(2, {{1, 0, 1e-16}, {0, 1, -1e-16}}), (Vector{0, 0}));
    for (double y : {1e-15, -1e-15})
        EXPECT_EQ(SolveMatrix<NoThresholdSolver>(2, {{1, 0, y}, {0, 1, y}}), (Vector{y, y}));
    EXPECT_EQ(SolveMatrix<NoThresholdSolver>(3, {{1, 0, 0, 0}, {0, 1, 1e-12, 1}, {0, 0, 1, 1}}),
              (Vector{0, 1 - 1e-12, 1}))
        << "a coefficient of 1e-12 stays";
}

TEST(NoThresholdSolver, WrongLengthPatternsAreSkippedOrReported) {
    ReportCapture capture;
    NoThresholdSolver solver(2);
    solver.AddRows(Patterns({{{1, 2, 3}, 1}}));
    EXPECT_TRUE(capture.Lines().empty());
    solver.AddRow({{1}, 1});
    EXPECT_EQ(capture.Checks(), Checks{"size == m_PatternSize @ NoThresholdSolver"});
    EXPECT_EQ(solver.GetMatrix().ToRows(), Matrix(2, Vector(3, 0.0)));
}

// --- the fast paths against the plain ones ----------------------------------------------------------

TEST(RowKernels, EliminateFlushMatchesTheStrictInterval) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Vector row{1e-10, -1e-10, 9.9e-11, -9.9e-11, -0.0, nan, 2.0};
    const Vector pivot(row.size(), 0.0);
    EXPECT_FALSE(kernels::EliminateFlush(row.data(), pivot.data(), 1.0, row.size(), 1e-10));
    EXPECT_EQ(row[0], 1e-10);
    EXPECT_EQ(row[1], -1e-10);
    EXPECT_EQ(row[2], 0.0);
    EXPECT_EQ(row[3], 0.0);
    EXPECT_FALSE(std::signbit(row[4])) << "-0 becomes +0";
    EXPECT_TRUE(std::isnan(row[5]));
    Vector small{5e-11, -0.0, 0.0};
    EXPECT_TRUE(kernels::EliminateFlush(small.data(), pivot.data(), 1.0, small.size(), 1e-10));
    Vector withNaN{0.0, nan};
    EXPECT_FALSE(kernels::EliminateFlush(withNaN.data(), pivot.data(), 1.0, 2, 1e-10)) << "NaN is not zero";
}

// An infinite factor meets a pivot row and a row that both start with zeros: the plain sweep makes those
// zeros NaN (0 - 0 * inf), so nothing may be skipped.
TEST(Elimination, NonFiniteFactorsGetTheWholeRow) {
    const double inf = std::numeric_limits<double>::infinity();
    const Matrix rows{{1, 2, 3, 4}, {1, 3, 5, 7}, {2, inf, 1, 1}};
    RowMatrix matrix(3, 4);
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 4; ++j) matrix.At(i, j) = rows[i][j];
    NoThresholdSolver fast(3);
    fast.SetMatrix(matrix);
    ReferenceNoThresholdSolver reference(3);
    reference.m = rows;
    EXPECT_TRUE(SameBits(fast.Solve(), reference.Solve()));
    EXPECT_TRUE(SameBits(fast.GetMatrix().ToRows(), reference.m));
    EXPECT_TRUE(std::isnan(reference.m[2][0])) << "the case this test is about";
}

struct Problem {
    int n;
    std::vector<SolverPattern> rows;
};

// Random states with the structures that exercise every branch: silent neurons (zero columns),
// copies and multiples of other neurons (dependent columns), tiny values near the flush bounds, a
// wrong-length row, and now and then a NaN.
Problem RandomProblem(std::mt19937_64& rng, int n, int patterns, bool withNaN, bool withHuge = false) {
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<int> kind(n);
    for (int& k : kind) k = static_cast<int>(rng() % 8);
    Problem problem{n, {}};
    for (int p = 0; p < patterns; ++p) {
        Vector v(n);
        for (int j = 0; j < n; ++j) {
            switch (kind[j]) {
                case 0:
                    v[j] = 0.0;
                    break;
                case 1:
                    v[j] = j > 0 ? v[j - 1] : u(rng);
                    break;
                case 2:
                    v[j] = j > 1 ? 0.5 * v[j - 2] - v[j - 1] : u(rng);
                    break;
                case 3:
                    v[j] = u(rng) * 1e-6;
                    break;
                default:
                    v[j] = u(rng);
            }
        }
        if (withNaN && p == patterns / 2 && n > 0) v[rng() % n] = std::numeric_limits<double>::quiet_NaN();
        if (withHuge && p % 5 == 1 && n > 2) {  // products overflow to infinity: infinite factors
            const size_t j = rng() % (n - 1);
            v[j] = v[j + 1] = 1e160;
        }
        problem.rows.push_back({v, u(rng)});
        if (p == 3) problem.rows.push_back({Vector(n + 1, 1.0), 1.0});
    }
    return problem;
}

template <typename Fast, typename Reference>
void ExpectSameAsReference(const Problem& problem, unsigned threads, const char* what) {
    Fast fast(problem.n);
    fast.SetThreadCount(threads);
    fast.AddRows(problem.rows);
    Reference reference(problem.n);
    for (const SolverPattern& row : problem.rows)
        if (row.values.size() == size_t(problem.n)) reference.AddRow(row.values, row.target);
    ASSERT_TRUE(SameBits(fast.GetMatrix().ToRows(), reference.m)) << what << " fold, n=" << problem.n;
    const Vector& got = fast.Solve();
    const Vector& expected = reference.Solve();
    ASSERT_TRUE(SameBits(got, expected)) << what << " solve, n=" << problem.n << " threads=" << threads;
    ASSERT_TRUE(SameBits(fast.GetMatrix().ToRows(), reference.m))
        << what << " reduced matrix, n=" << problem.n;
}

TEST(SolverFastPaths, BitIdenticalToThePlainSteps) {
    ReportCapture quiet;
    std::mt19937_64 rng(2026);
    // 250 and 300 fold on the threads (chunks of 253 and 202 patterns leave more column panels than one
    // group holds: units of row ranges); under the sanitizers 250 once, 300 not at all.
    for (int n : {1, 2, 7, 33, 64, 129, 250, 300}) {
        if (n == 300 && test::kUnderSanitizer) continue;
        for (int variant = 0; variant < 5; ++variant) {
            if (n == 250 && test::kUnderSanitizer && variant != 1) continue;
            const int patterns = variant == 0 ? n / 2 + 1 : 2 * n + 5;
            const Problem problem = RandomProblem(rng, n, patterns, variant == 3, variant == 4);
            for (unsigned threads : {1u, 2u, 3u}) {
                ExpectSameAsReference<Solver, ReferenceSolver>(problem, threads, "Solver");
                ExpectSameAsReference<NoThresholdSolver, ReferenceNoThresholdSolver>(problem, threads,
                                                                                     "NoThresholdSolver");
            }
        }
    }
}

// The threads' units cover each (row block, column panel) pair of the upper triangle once, start on
// panel boundaries, come largest first, and are small enough that no thread is left holding much.
TEST(SolverFastPaths, FoldUnitsCoverTheTriangleOnceLargestFirst) {
    struct Case {
        size_t rows, panels, nb, group;
        unsigned threads;
    };
    for (const Case& c : {Case{1001, 42, 24, 8, 2}, Case{1001, 126, 8, 24, 2}, Case{300, 13, 24, 8, 3},
                          Case{49, 7, 8, 2, 2}, Case{2001, 84, 24, 4, 2}}) {
        const std::vector<Folder::Unit> units = Folder::Units(c.rows, c.panels, c.nb, c.group, c.threads);
        const size_t blocks = (c.rows + c.nb - 1) / c.nb;
        std::vector<int> seen(blocks * c.panels, 0);
        size_t total = 0;
        for (const Folder::Unit& u : units) {
            ASSERT_TRUE(u.rowBegin % c.nb == 0 && u.rowBegin < u.rowEnd);
            size_t work = 0;
            for (size_t b = u.rowBegin / c.nb; b < std::min(blocks, u.rowEnd / c.nb); ++b)
                for (size_t q = std::max(u.g0, b); q < u.g1; ++q, ++work) ++seen[b * c.panels + q];
            EXPECT_EQ(work, u.work);
            total += work;
        }
        for (size_t b = 0; b < blocks; ++b)
            for (size_t q = 0; q < c.panels; ++q)
                ASSERT_EQ(seen[b * c.panels + q], q >= b ? 1 : 0) << b << " " << q;
        for (size_t i = 1; i < units.size(); ++i) EXPECT_GE(units[i - 1].work, units[i].work);
        EXPECT_LE(units.back().work, total / (8 * c.threads) + 1) << c.rows;
    }
}

// Sizes around every tile and panel width (4, 8, 12, 24 columns; 2, 4, 6, 8 rows) and pattern counts over
// several chunks, on each instruction set's path.
TEST(SolverFastPaths, EveryInstructionSetGivesThePlainBits) {
    ReportCapture quiet;
    std::cout << "[ info     ] processor level: " << cpu::Name(cpu::Detected()) << std::endl;
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(4242);
        for (int n : {3, 6, 8, 11, 12, 13, 22, 23, 24, 25, 31, 47, 49, 97}) {
            for (int variant = 0; variant < 3; ++variant) {
                const int patterns = variant == 0 ? 7 : 300 + 37 * variant;
                const Problem problem = RandomProblem(rng, n, patterns, variant == 2, variant == 1);
                for (unsigned threads : {1u, 2u, 3u}) {
                    ExpectSameAsReference<Solver, ReferenceSolver>(problem, threads, "Solver");
                    ExpectSameAsReference<NoThresholdSolver, ReferenceNoThresholdSolver>(problem, threads,
                                                                                         "NoThresholdSolver");
                }
            }
        }
    });
}

// A fold after a solve works on exchanged rows, and a single-pattern fold after a chunked one needs the
// lower triangle.
TEST(SolverFastPaths, FoldsMixWithSinglePatternsAndExchangedRows) {
    ReportCapture quiet;
    std::mt19937_64 rng(5);
    const Problem problem = RandomProblem(rng, 30, 80, false);
    Solver fast(30);
    ReferenceSolver reference(30);
    for (size_t p = 0; p < problem.rows.size(); ++p) {
        const SolverPattern& row = problem.rows[p];
        if (row.values.size() != 30) continue;
        reference.AddRow(row.values, row.target);
        if (p % 3 == 0) {
            fast.AddRow(row);
        } else {
            fast.AddRows({row});
        }
    }
    ASSERT_TRUE(SameBits(fast.GetMatrix().ToRows(), reference.m));
    ASSERT_TRUE(SameBits(fast.Solve(), reference.Solve()));
    RowMatrix solved = fast.GetMatrix();
    fast.AddRows(problem.rows);
    for (const SolverPattern& row : problem.rows) {
        if (row.values.size() != 30) continue;
        for (size_t j = 0; j < 31; ++j)
            for (size_t k = j; k < 32; ++k) {
                const double u = j < 30 ? row.values[j] : 1.0;
                const double w = k < 30 ? row.values[k] : k == 30 ? 1.0 : row.target;
                solved.At(j, k) = solved.At(j, k) + u * w;
            }
    }
    for (size_t j = 0; j < 31; ++j)
        for (size_t k = j; k < 32; ++k)
            ASSERT_EQ(fast.GetMatrix().At(j, k), solved.At(j, k)) << j << " " << k;
}

// Rows read in place (training's harvest) fold as the same rows held as patterns, whatever the threads.
TEST(SolverFastPaths, RowsReadInPlaceFoldAsPatterns) {
    std::mt19937_64 rng(91);
    const Problem problem = RandomProblem(rng, 130, 700, false);
    std::vector<PatternView> views;
    for (const SolverPattern& row : problem.rows)
        if (row.values.size() == 130) views.push_back({row.values.data(), row.target});
    for (unsigned threads : {1u, 2u}) {
        Solver patterns(130), inPlace(130);
        patterns.SetThreadCount(threads);
        inPlace.SetThreadCount(threads);
        patterns.AddRows(problem.rows);
        inPlace.AddRows(views);
        EXPECT_TRUE(SameBits(patterns.GetMatrix().ToRows(), inPlace.GetMatrix().ToRows())) << threads;
    }
}

// Every row starts on a cache line, in copies too: the kernels' vectors then never straddle two.
TEST(SolverFastPaths, MatrixRowsStartOnCacheLines) {
    for (size_t columns : {1, 7, 9, 1002}) {
        const RowMatrix matrix(5, columns);
        const RowMatrix copy = matrix;
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(matrix.Row(i)) % 64, 0u) << columns;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(copy.Row(i)) % 64, 0u) << columns;
        }
    }
}

TEST(SolverFastPaths, FoldingInChunksEqualsFoldingAtOnce) {
    std::mt19937_64 rng(77);
    const Problem problem = RandomProblem(rng, 50, 120, false);
    Solver whole(50), chunked(50);
    whole.AddRows(problem.rows);
    for (size_t begin = 0; begin < problem.rows.size(); begin += 17) {
        const size_t end = std::min(problem.rows.size(), begin + 17);
        chunked.AddRows(std::vector<SolverPattern>(problem.rows.begin() + begin, problem.rows.begin() + end));
    }
    EXPECT_TRUE(SameBits(whole.GetMatrix().ToRows(), chunked.GetMatrix().ToRows()));
}

// --- least squares, checked independently -----------------------------------------------------------

// Solves min |X w - y| by Householder QR in long double, without normal equations.
Vector LeastSquaresQR(std::vector<std::vector<long double>> x, std::vector<long double> y) {
    const size_t rows = x.size(), cols = x[0].size();
    for (size_t c = 0; c < cols; ++c) {
        long double norm = 0;
        for (size_t r = c; r < rows; ++r) norm += x[r][c] * x[r][c];
        norm = std::sqrt(norm);
        const long double alpha = x[c][c] > 0 ? -norm : norm;
        std::vector<long double> v(rows, 0);
        for (size_t r = c; r < rows; ++r) v[r] = x[r][c];
        v[c] -= alpha;
        long double vv = 0;
        for (size_t r = c; r < rows; ++r) vv += v[r] * v[r];
        for (size_t k = c; k < cols; ++k) {
            long double dot = 0;
            for (size_t r = c; r < rows; ++r) dot += v[r] * x[r][k];
            for (size_t r = c; r < rows; ++r) x[r][k] -= 2 * dot / vv * v[r];
        }
        long double dot = 0;
        for (size_t r = c; r < rows; ++r) dot += v[r] * y[r];
        for (size_t r = c; r < rows; ++r) y[r] -= 2 * dot / vv * v[r];
    }
    Vector w(cols);
    for (size_t c = cols; c-- > 0;) {
        long double sum = y[c];
        for (size_t k = c + 1; k < cols; ++k) sum -= x[c][k] * w[k];
        w[c] = static_cast<double>(sum / x[c][c]);
    }
    return w;
}

TEST(SolverLeastSquares, AgreesWithAnOrthogonalFactorisation) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int trial = 0; trial < 5; ++trial) {
        const int n = 8 + trial * 3, patterns = 200;
        Solver with(n);
        NoThresholdSolver without(n);
        std::vector<std::vector<long double>> x, xThreshold;
        std::vector<long double> y;
        for (int p = 0; p < patterns; ++p) {
            Vector v(n);
            for (double& value : v) value = u(rng);
            const double target = u(rng) + 0.3 * v[0];
            with.AddRow({v, target});
            without.AddRow({v, target});
            x.emplace_back(v.begin(), v.end());
            xThreshold.emplace_back(v.begin(), v.end());
            xThreshold.back().push_back(1.0L);
            y.push_back(target);
        }
        const Vector expectedWith = LeastSquaresQR(xThreshold, y);
        const Vector expectedWithout = LeastSquaresQR(x, y);
        const Vector gotWith = with.Solve();
        const Vector gotWithout = without.Solve();
        for (int j = 0; j <= n; ++j) EXPECT_NEAR(gotWith[j], expectedWith[j], 1e-12) << trial << " " << j;
        for (int j = 0; j < n; ++j)
            EXPECT_NEAR(gotWithout[j], expectedWithout[j], 1e-12) << trial << " " << j;
    }
}

}  // namespace
