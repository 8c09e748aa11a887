// The stable readout's streamed QR against its plain twin (tests/support/ReferenceQr.h), bit for bit at
// every instruction-set level, and its least-squares properties.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "src/Solver/QrSolver.h"
#include "src/kernels/QrKernels.h"
#include "tests/support/EigenQrSolver.h"
#include "tests/support/Levels.h"
#include "tests/support/ReferenceQr.h"
#include "tests/support/SameBits.h"

namespace {

using namespace rcnet;
using rcnet::test::ForEachLevel;
using rcnet::test::SameBits;

// Rows of values, kinds of columns mixed in, and targets a noisy linear function of the values.
struct Rows {
    size_t values = 0, targets = 0;
    std::vector<Vector> x, y;
};

enum class Columns { Random, Duplicated, Zero, Combined };

Rows MakeRows(size_t count, size_t values, size_t targets, Columns kind, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    Rows r;
    r.values = values;
    r.targets = targets;
    for (size_t i = 0; i < count; ++i) {
        Vector x(values);
        for (double& v : x) v = u(rng);
        if (values >= 3) {
            if (kind == Columns::Duplicated) x[values - 1] = x[0];
            if (kind == Columns::Zero) x[1] = 0.0;
            if (kind == Columns::Combined) x[values - 1] = 2 * x[0] - 0.5 * x[1];
        }
        Vector y(targets);
        for (size_t t = 0; t < targets; ++t) {
            double sum = 0.25 * double(t) + 1e-3 * u(rng);
            for (size_t j = 0; j < values; ++j) sum += x[j] * (0.5 + double(j % 5) - double(t));
            y[t] = sum;
        }
        r.x.push_back(x);
        r.y.push_back(y);
    }
    return r;
}

template <typename Qr>
Matrix Fit(Qr& qr, const Rows& r, double ridge) {
    for (size_t i = 0; i < r.x.size(); ++i) qr.AddRow(r.x[i].data(), r.y[i].data());
    return qr.Solve(ridge);
}

Matrix Stable(const Rows& r, bool threshold, double ridge, size_t chunk = 0, unsigned threads = 0) {
    QrSolver qr(r.values, threshold, r.targets);
    if (chunk) qr.SetChunkRows(chunk);
    qr.SetThreadCount(threads);
    return Fit(qr, r, ridge);
}

Matrix Plain(const Rows& r, bool threshold, double ridge, size_t chunk) {
    test::ReferenceQr qr(r.values, threshold, r.targets, chunk);
    return Fit(qr, r, ridge);
}

size_t DefaultChunk(const Rows& r, bool threshold) {
    return QrSolver(r.values, threshold, r.targets).ChunkRows();
}

// Widths across every vector tile and tail, every kind of column, chunk sizes, ridges up to the
// largest double.
TEST(StableQr, GivesThePlainTwinsBitsAtEveryLevel) {
    struct Case {
        size_t rows, values, targets;
        Columns kind;
    };
    const Case cases[] = {{30, 1, 1, Columns::Random},      {50, 5, 2, Columns::Random},
                          {90, 17, 1, Columns::Duplicated}, {120, 33, 3, Columns::Zero},
                          {150, 40, 1, Columns::Combined},  {20, 37, 2, Columns::Random},
                          {200, 70, 1, Columns::Random}};
    const double ridges[] = {0.0, 0.3, 1e32, std::numeric_limits<double>::max()};
    unsigned seed = 1;
    for (const Case& c : cases) {
        const Rows r = MakeRows(c.rows, c.values, c.targets, c.kind, seed++);
        for (bool threshold : {true, false}) {
            for (size_t chunk : {size_t{1}, size_t{7}, DefaultChunk(r, threshold)}) {
                for (double ridge : ridges) {
                    const Matrix plain = Plain(r, threshold, ridge, chunk);
                    ForEachLevel([&](cpu::Level) {
                        EXPECT_TRUE(SameBits(Stable(r, threshold, ridge, chunk), plain))
                            << c.values << " values, threshold " << threshold << ", chunk " << chunk
                            << ", ridge " << ridge;
                    });
                }
            }
        }
    }
}

// Wide enough for chunks folded side by side (several flights and a short last chunk) and for the
// solve's shared columns, with and without full rank: every thread count gives the plain twin's bits.
TEST(StableQr, ThreadCountsGiveThePlainTwinsBits) {
    const Rows wide = MakeRows(610, 260, 2, Columns::Random, 11);
    const Rows dependent = MakeRows(300, 230, 1, Columns::Combined, 12);
    for (const Rows* r : {&wide, &dependent}) {
        for (size_t chunk : {size_t{16}, DefaultChunk(*r, true)}) {
            for (double ridge : {0.0, 0.5}) {
                const Matrix plain = Plain(*r, true, ridge, chunk);
                for (unsigned threads : {1u, 2u, 3u})
                    EXPECT_TRUE(SameBits(Stable(*r, true, ridge, chunk, threads), plain))
                        << r->values << " values, chunk " << chunk << ", ridge " << ridge << ", " << threads
                        << " threads";
            }
        }
    }
}

// The kernels alone, with values of every size and columns of every alignment: the plain loops' bits.
TEST(StableQr, KernelsGiveThePlainLoopsBits) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    ForEachLevel([&](cpu::Level) {
        for (size_t count : {size_t{0}, size_t{1}, size_t{5}, size_t{23}}) {
            for (size_t begin : {size_t{0}, size_t{3}}) {
                for (size_t end = begin; end < begin + 70; end += 7) {
                    std::vector<Vector> rows(count, Vector(end + 1));
                    Vector head(end + 1), u0(count + 1), u1(count + 1), t(count + 1), norms(end + 1, -1.0);
                    for (Vector& row : rows)
                        for (double& x : row) x = std::ldexp(u(rng), int(rng() % 20) - 10);
                    for (double& x : head) x = u(rng);
                    for (double& x : u0) x = u(rng);
                    for (double& x : u1) x = u(rng);
                    for (double& x : t) x = u(rng);
                    std::vector<double*> pointers;
                    for (Vector& row : rows) pointers.push_back(row.data());
                    const double tau = 1.0 + u(rng);

                    // The plain loops: the reflection with the new rows' squares.
                    std::vector<Vector> plainRows = rows;
                    Vector plainHead = head, plainT = t, plainNorms = norms;
                    for (size_t j = begin; j < end; ++j) {
                        double s = plainHead[j];
                        for (size_t i = 0; i < count; ++i) s = s + plainRows[i][j] * u0[i];
                        const double tj = s * tau;
                        plainHead[j] = plainHead[j] - tj;
                        double n = 0.0;
                        for (size_t i = 0; i < count; ++i) {
                            plainRows[i][j] = plainRows[i][j] - tj * u0[i];
                            n = n + plainRows[i][j] * plainRows[i][j];
                        }
                        plainNorms[j] = n;
                    }
                    kernels::Reflect({head.data(), pointers.data(), u0.data(), count, tau}, begin, end,
                                     norms.data());
                    for (size_t i = 0; i < count; ++i) EXPECT_TRUE(SameBits(rows[i], plainRows[i]));
                    EXPECT_TRUE(SameBits(head, plainHead));
                    EXPECT_TRUE(SameBits(norms, plainNorms)) << count << " " << begin << " " << end;

                    // A block of three reflectors with heads of their own; the rows updated by the last one
                    // or left.
                    for (bool rowsDone : {false, true}) {
                        std::vector<Vector> heads(3, Vector(end + 1));
                        for (Vector& h : heads)
                            for (double& x : h) x = u(rng);
                        const double taus[3] = {1.0 + u(rng), 1.0 + u(rng), 1.0 + u(rng)};
                        const Vector* us[3] = {&u0, &u1, &t};
                        std::vector<Vector> plainHeads = heads;
                        for (size_t j = begin; j < end; ++j) {
                            for (size_t q = 0; q < 3; ++q) {
                                double s = plainHeads[q][j];
                                for (size_t i = 0; i < count; ++i) s = s + plainRows[i][j] * (*us[q])[i];
                                const double tj = s * taus[q];
                                plainHeads[q][j] = plainHeads[q][j] - tj;
                                if (q == 2 && rowsDone) continue;
                                for (size_t i = 0; i < count; ++i)
                                    plainRows[i][j] = plainRows[i][j] - tj * (*us[q])[i];
                            }
                        }
                        double* headPointers[3] = {heads[0].data(), heads[1].data(), heads[2].data()};
                        const double* uPointers[3] = {u0.data(), u1.data(), t.data()};
                        kernels::Fold({headPointers, uPointers, taus, 3, pointers.data(), count, rowsDone},
                                      begin, end);
                        for (size_t i = 0; i < count; ++i) EXPECT_TRUE(SameBits(rows[i], plainRows[i]));
                        for (size_t q = 0; q < 3; ++q)
                            EXPECT_TRUE(SameBits(heads[q], plainHeads[q]))
                                << count << " " << begin << " " << end;
                    }
                }
            }
        }
    });
}

// The chunk size moves the weights in the last bits only.
TEST(StableQr, ChunkSizesGiveCloseWeights) {
    const Rows r = MakeRows(400, 30, 2, Columns::Random, 9);
    for (double ridge : {0.0, 1e-3}) {
        const Matrix whole = Stable(r, true, ridge);
        for (size_t chunk : {size_t{1}, size_t{7}}) {
            const Matrix w = Stable(r, true, ridge, chunk);
            for (size_t t = 0; t < w.size(); ++t)
                for (size_t j = 0; j < w[t].size(); ++j)
                    EXPECT_NEAR(w[t][j], whole[t][j], 1e-10 * (1 + std::fabs(whole[t][j]))) << chunk;
        }
    }
}

// Without a ridge: the residual is orthogonal to every column (X^T r = 0); with one, X^T r = ridge w on
// the value columns and 0 on the threshold's.
TEST(StableQr, ResidualIsOrthogonalToTheColumns) {
    const Rows r = MakeRows(300, 20, 1, Columns::Random, 4);
    for (double ridge : {0.0, 0.7, 50.0}) {
        const Vector w = Stable(r, true, ridge)[0];
        Vector products(21, 0.0);
        double scale = 0;
        for (size_t i = 0; i < r.x.size(); ++i) {
            double fit = w[20];
            for (size_t j = 0; j < 20; ++j) fit += w[j] * r.x[i][j];
            const double residual = r.y[i][0] - fit;
            for (size_t j = 0; j < 20; ++j) products[j] += r.x[i][j] * residual;
            products[20] += residual;
            scale = std::max(scale, std::fabs(r.y[i][0]));
        }
        for (size_t j = 0; j < 20; ++j)
            EXPECT_NEAR(products[j], ridge * w[j], 1e-10 * scale * 300)
                << "ridge " << ridge << " column " << j;
        EXPECT_NEAR(products[20], 0.0, 1e-10 * scale * 300) << "ridge " << ridge;
    }
}

// Rank-deficient columns: any null-space vector added to the weights fits as well and is longer; the
// weights are orthogonal to it. A duplicated column shares its weight evenly; a zero one gets 0.
TEST(StableQr, RankDeficientProblemsGetTheMinimumNormWeights) {
    const size_t values = 9;
    struct Null {
        Columns kind;
        Vector direction;  // a null-space vector of the columns (the threshold's entry last)
    };
    Vector duplicated(values + 1, 0.0), zero(values + 1, 0.0), combined(values + 1, 0.0);
    duplicated[0] = 1;
    duplicated[values - 1] = -1;
    zero[1] = 1;
    combined[0] = 2;
    combined[1] = -0.5;
    combined[values - 1] = -1;
    for (const Null& n : {Null{Columns::Duplicated, duplicated}, Null{Columns::Zero, zero},
                          Null{Columns::Combined, combined}}) {
        const Rows r = MakeRows(120, values, 1, n.kind, 21);
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{0}}) {
            const Vector w = Stable(r, true, 0.0, chunk)[0];
            double along = 0, length = 0, longer = 0;
            for (size_t j = 0; j <= values; ++j) {
                along += w[j] * n.direction[j];
                length += w[j] * w[j];
                longer += (w[j] + 0.1 * n.direction[j]) * (w[j] + 0.1 * n.direction[j]);
            }
            EXPECT_NEAR(along, 0.0, 1e-10) << chunk;
            EXPECT_GT(longer, length);
            // The fit itself: the targets' own weights are 0.5 + j % 5, and 0.25 * 0 for the threshold.
            for (size_t i = 0; i < r.x.size(); ++i) {
                double fit = w[values], plus = w[values];
                for (size_t j = 0; j < values; ++j) {
                    fit += w[j] * r.x[i][j];
                    plus += (w[j] + 0.1 * n.direction[j]) * r.x[i][j];
                }
                EXPECT_NEAR(fit, r.y[i][0], 1e-2);
                EXPECT_NEAR(plus, fit, 1e-12);
            }
            if (n.kind == Columns::Zero) {
                EXPECT_EQ(w[1], 0.0);
            }
            if (n.kind == Columns::Duplicated) {
                EXPECT_NEAR(w[0], w[values - 1], 1e-12);
            }
        }
    }
}

// The Eigen version it replaced, as an independent check of the whole solve, ridge and rank
// deficiency included.
TEST(StableQr, AgreesWithTheEigenVersion) {
    for (Columns kind : {Columns::Random, Columns::Duplicated, Columns::Zero, Columns::Combined}) {
        const Rows r = MakeRows(250, 24, 2, kind, 33);
        for (double ridge : {0.0, 1e-4, 2.0}) {
            test::EigenQrSolver eigen(r.values, true, r.targets);
            const Matrix expected = Fit(eigen, r, ridge), w = Stable(r, true, ridge);
            for (size_t t = 0; t < w.size(); ++t)
                for (size_t j = 0; j < w[t].size(); ++j)
                    EXPECT_NEAR(w[t][j], expected[t][j], 1e-9 * (1 + std::fabs(expected[t][j])))
                        << int(kind) << " ridge " << ridge << " weight " << j;
        }
    }
}

// However large the ridge, the threshold keeps the targets' mean (the value weights go to 0); scaling
// every row and target by a power of two scales nothing in the weights but the threshold.
TEST(StableQr, NoRidgeDropsTheThreshold) {
    const Rows r = MakeRows(200, 12, 1, Columns::Random, 5);
    double mean = 0;
    for (const Vector& y : r.y) mean += y[0];
    mean /= double(r.y.size());
    for (double ridge : {1e16, 1e32, 1e100, 1e300, std::numeric_limits<double>::max()}) {
        const Vector w = Stable(r, true, ridge)[0];
        EXPECT_NEAR(w[12], mean, 1e-9 * std::fabs(mean)) << ridge;
        for (size_t j = 0; j < 12; ++j) EXPECT_LT(std::fabs(w[j]), 1e4 / ridge * 1e3) << ridge;
    }
}

}  // namespace
