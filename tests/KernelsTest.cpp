#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "src/kernels/Exp.h"
#include "src/kernels/Kernels.h"
#include "src/kernels/SolverKernels.h"
#include "src/kernels/StepKernels.h"
#include "tests/support/Levels.h"
#include "tests/support/SameBits.h"

namespace {

using namespace rcnet;
using rcnet::test::Bits;
using rcnet::test::ForEachLevel;

// Bit for bit, except that any NaN equals any NaN: where two NaNs meet, which one an operation returns
// depends on the order the compiler gave its operands.
bool Same(double a, double b) {
    return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b));
}

// Values that flush, nearly flush, change sign, and every special kind of double.
double Entry(std::mt19937_64& rng, double bound) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    switch (rng() % 16) {
        case 0:
            return bound * unit(rng);  // flushed, or exactly the bound
        case 1:
            return rng() % 2 ? bound : -bound;
        case 2:
            return rng() % 2 ? 0.0 : -0.0;
        case 3:
            return std::numeric_limits<double>::denorm_min();
        case 4:
            return rng() % 2 ? std::numeric_limits<double>::infinity()
                             : -std::numeric_limits<double>::infinity();
        case 5:
            return std::numeric_limits<double>::quiet_NaN();
        default:
            return std::ldexp(unit(rng), static_cast<int>(rng() % 40) - 20);
    }
}

// The plain sweep: each entry x - p * f, then +0 strictly inside (-bound, bound).
bool PlainEliminate(double* row, const double* pivot, double factor, size_t count, double bound) {
    bool zero = true;
    for (size_t i = 0; i < count; ++i) {
        double x = row[i] - pivot[i] * factor;
        if (std::fabs(x) < bound) x = 0.0;
        row[i] = x;
        zero = zero && Bits(x) == 0;
    }
    return zero;
}

TEST(Kernels, EliminateFlushGivesThePlainSweepsBits) {
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(17);
        const double bound = 1e-10;
        for (size_t count = 0; count < 70; ++count) {
            for (int trial = 0; trial < 40; ++trial) {
                const size_t offset = rng() % 8;  // every alignment
                std::vector<double> row(count + offset + 8), pivot(row.size());
                for (double& x : row) x = Entry(rng, bound);
                for (double& x : pivot) x = Entry(rng, bound);
                if (trial % 4 == 0) {
                    // Every result flushed: x - x * 1 is +0 for finite x.
                    std::uniform_real_distribution<double> unit(-1.0, 1.0);
                    for (size_t i = 0; i < count; ++i) row[offset + i] = pivot[offset + i] = unit(rng);
                }
                const double factor = trial % 10 == 9 ? Entry(rng, bound) : trial % 4 == 0 ? 1.0 : 0.5;
                std::vector<double> expected = row;
                const bool zero =
                    PlainEliminate(expected.data() + offset, pivot.data() + offset, factor, count, bound);
                ASSERT_EQ(kernels::Active().eliminateFlush(row.data() + offset, pivot.data() + offset, factor,
                                                           count, bound),
                          zero)
                    << count << " " << trial;
                for (size_t i = 0; i < row.size(); ++i)
                    ASSERT_TRUE(Same(row[i], expected[i])) << count << " " << trial << " " << i;
            }
        }
    });
}

// The plain blocked pass: every entry of [begin, end) receives the pivots in order.
void PlainApplyPivots(double* const* rows, size_t rowCount, const double* factors, size_t stride,
                      const double* const* pivots, size_t count, size_t begin, size_t end, double bound) {
    for (size_t r = 0; r < rowCount; ++r)
        for (size_t c = begin; c < end; ++c)
            for (size_t i = 0; i < count; ++i) {
                const double x = rows[r][c] - pivots[i][c] * factors[r * stride + i];
                rows[r][c] = std::fabs(x) < bound ? 0.0 : x;
            }
}

TEST(Kernels, ApplyPivotsGivesThePlainPassBits) {
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(23);
        const double bound = 1e-12;
        for (int trial = 0; trial < 600; ++trial) {
            const size_t rowCount = 1 + rng() % 9, count = rng() % 34, stride = 33;
            const size_t begin = rng() % 12, end = begin + (trial % 3 == 0 ? rng() % 80 : rng() % 20);
            const size_t width = end + 9;
            std::vector<std::vector<double>> fast(rowCount, std::vector<double>(width)), pivotRows(count);
            for (auto& row : fast)
                for (double& x : row)
                    x = trial % 5 == 0 ? Entry(rng, bound) : std::ldexp(Entry(rng, bound), -30);
            for (auto& row : pivotRows) {
                row.resize(width);
                for (double& x : row) x = Entry(rng, bound);
            }
            std::vector<double> factors(rowCount * stride);
            for (double& f : factors)
                f = trial % 7 == 0 ? Entry(rng, bound) : std::ldexp(Entry(rng, bound), -20);
            auto plain = fast;
            std::vector<double*> fastRows, plainRows;
            for (size_t r = 0; r < rowCount; ++r) {
                fastRows.push_back(fast[r].data());
                plainRows.push_back(plain[r].data());
            }
            std::vector<const double*> pivots;
            for (const auto& row : pivotRows) pivots.push_back(row.data());
            PlainApplyPivots(plainRows.data(), rowCount, factors.data(), stride, pivots.data(), count, begin,
                             end, bound);
            kernels::ApplyPivots(fastRows.data(), rowCount, factors.data(), stride, pivots.data(), count,
                                 begin, end, bound);
            for (size_t r = 0; r < rowCount; ++r)
                for (size_t c = 0; c < width; ++c)
                    ASSERT_TRUE(Same(fast[r][c], plain[r][c])) << trial << " row " << r << " column " << c;
        }
    });
}

// Every value's bits (NaN payloads and -0 included), and nothing past the end.
TEST(Kernels, CopyMovesEachValueAndNoMore) {
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(8);
        for (size_t count = 0; count <= 70; ++count) {
            std::vector<double> in(count), out(count + 1, 7.0);
            for (double& x : in) x = Entry(rng, 1e-3);
            kernels::Active().copy(out.data(), in.data(), count);
            for (size_t i = 0; i < count; ++i) ASSERT_EQ(Bits(out[i]), Bits(in[i])) << count << " " << i;
            ASSERT_EQ(out[count], 7.0) << count;
        }
    });
}

TEST(Kernels, SumInputsAddsRowAfterRowFromPlusZero) {
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(5);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        for (size_t rowCount = 0; rowCount < 12; ++rowCount) {
            for (size_t columns = 0; columns < 40; ++columns) {
                std::vector<std::vector<double>> matrix(rowCount, std::vector<double>(columns));
                std::vector<const double*> rows;
                for (auto& row : matrix) {
                    for (double& x : row) x = rng() % 9 == 0 ? -0.0 : unit(rng) * 1e3;
                    rows.push_back(row.data());
                }
                std::vector<double> inputs(rowCount);
                for (double& x : inputs) x = rng() % 7 == 0 ? 0.0 : unit(rng);
                std::vector<double> fast(columns + 1, 7.0), plain(columns + 1, 7.0);
                for (size_t j = 0; j < columns; ++j) {
                    double sum = 0.0;
                    for (size_t i = 0; i < rowCount; ++i) sum = matrix[i][j] * inputs[i] + sum;
                    plain[j] = sum;
                }
                kernels::Active().sumInputs(rows.data(), inputs.data(), rowCount, fast.data(), columns);
                for (size_t j = 0; j <= columns; ++j)
                    ASSERT_EQ(Bits(fast[j]), Bits(plain[j])) << rowCount << " x " << columns << " at " << j;
            }
        }
    });
}

TEST(Kernels, SumSliceSumsEachLaneInTermOrder) {
    constexpr size_t kLanes = kernels::kSliceLanes;
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(8);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::vector<double> carried(60);
        for (double& x : carried) x = rng() % 11 == 0 ? -0.0 : unit(rng) * 50;
        for (size_t terms = 0; terms < 25; ++terms) {
            std::vector<double> weight(terms * kLanes);
            std::vector<uint32_t> source(terms * kLanes);
            for (double& w : weight) w = rng() % 13 == 0 ? 0.0 : unit(rng);
            for (uint32_t& s : source) s = static_cast<uint32_t>(rng() % carried.size());
            double fast[kLanes], plain[kLanes];
            for (size_t l = 0; l < kLanes; ++l) {
                double sum = 0.0;
                for (size_t i = 0; i < terms; ++i)
                    sum = weight[i * kLanes + l] * carried[source[i * kLanes + l]] + sum;
                plain[l] = sum;
            }
            kernels::Active().sumSlice(weight.data(), source.data(), terms, carried.data(), fast);
            for (size_t l = 0; l < kLanes; ++l) ASSERT_EQ(Bits(fast[l]), Bits(plain[l])) << terms << " " << l;
        }
    });
}

// Each level's exponential, the processor's fused multiply-add or the portable one, has the portable bits.
TEST(Kernels, EveryLevelsExponentialIsThePortableOne) {
    ForEachLevel([](cpu::Level) {
        std::mt19937_64 rng(31);
        std::uniform_real_distribution<double> wide(-746.0, 710.0), active(-21.0, 21.0);
        for (int i = 0; i < 300000; ++i) {
            const double x = i % 2 ? wide(rng) : active(rng);
            ASSERT_EQ(Bits(Exp(x)), Bits(ExpPortable(x))) << x;
        }
    });
}

// One table per level, chosen by cpu::Limit, never above what the processor has.
TEST(Kernels, TheLimitChoosesTheTable) {
    std::set<const kernels::Kernels*> tables;
    ForEachLevel([&](cpu::Level level) {
        EXPECT_EQ(cpu::Active(), level);
        const kernels::Kernels& table = kernels::Active();
        tables.insert(&table);
        EXPECT_GE(table.foldPanel, 4u);
    });
    EXPECT_EQ(tables.size(), static_cast<size_t>(cpu::Detected()) + 1);
    const cpu::Level previous = cpu::Limit(cpu::Level::Avx512);
    EXPECT_EQ(cpu::Active(), cpu::Detected()) << "a cap above the processor's level changes nothing";
    cpu::Limit(previous);
}

// The one-lane pack is the plain loop, and the fold's tile shapes follow the registers; a panel holds
// whole tiles and a tile's rows (the packing reads both from one panel).
TEST(Kernels, PackShapes) {
    EXPECT_EQ(kernels::Scalar<>::kLanes, 1u);
    EXPECT_EQ(kernels::Sse2::kLanes, 2u);
    using Base = kernels::FoldShape<kernels::Sse2>;
    EXPECT_EQ(Base::kPanel % Base::kRows, 0u);
    EXPECT_EQ(Base::kPanel % Base::kColumns, 0u);
    EXPECT_LE(Base::kRows * Base::kVectors + Base::kVectors + 1, kernels::Sse2::kRegisters);
#if defined(__x86_64__) || defined(__i386__)
    using Wide = kernels::FoldShape<kernels::Avx512>;
    EXPECT_EQ(Wide::kPanel % Wide::kRows, 0u);
    EXPECT_EQ(Wide::kPanel % Wide::kColumns, 0u);
    EXPECT_LE(Wide::kRows * Wide::kVectors + Wide::kVectors + 1, kernels::Avx512::kRegisters);
    EXPECT_EQ(kernels::Avx512::kRegisters, sizeof(void*) == 8 ? 32u : 8u);
#endif
}

}  // namespace
