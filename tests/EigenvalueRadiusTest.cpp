// The spectral radius against matrices whose eigenvalues are known, the Arnoldi path against the dense
// path on random reservoir-like matrices, and the radii the inspection interface gives for networks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "src/EigenvalueRadius.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "tests/support/DenseLinks.h"
#include "tests/support/ReportCapture.h"

namespace {

using namespace rcnet;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kQuick = true;  // ten times slower arithmetic: smaller cases
#else
constexpr bool kQuick = false;
#endif

std::vector<MatrixEntry> FromDense(const std::vector<std::vector<double>>& rows) {
    std::vector<MatrixEntry> entries;
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows[i].size(); ++j)
            if (rows[i][j] != 0.0) entries.push_back({uint32_t(i), uint32_t(j), rows[i][j]});
    return entries;
}

// Reservoir-like: `links` distinct random positions with weights in [-1, 1].
std::vector<MatrixEntry> RandomSparse(size_t n, size_t links, uint32_t seed) {
    uint64_t state = seed;
    const auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    };
    std::set<std::pair<uint32_t, uint32_t>> used;
    std::vector<MatrixEntry> entries;
    while (entries.size() < links) {
        const uint32_t row = uint32_t(next() % n), column = uint32_t(next() % n);
        if (!used.emplace(row, column).second) continue;
        entries.push_back({row, column, double(next() % 65536) / 32767.5 - 1.0});
    }
    return entries;
}

double Radius(size_t n, const std::vector<MatrixEntry>& entries) {
    return SpectralRadius(n, entries).radius;
}

TEST(SpectralRadius, KnownSpectra) {
    // Triangular: the diagonal.
    EXPECT_NEAR(Radius(3, FromDense({{0.5, 7, -3}, {0, -2, 4}, {0, 0, 1}})), 2.0, 1e-14);
    // A rotation scaled by 3: eigenvalues +-3i.
    EXPECT_NEAR(Radius(2, FromDense({{0, -3}, {3, 0}})), 3.0, 1e-14);
    // A cycle of 7 with weight 2: 2 times the 7th roots of unity, all of one size.
    std::vector<MatrixEntry> cycle;
    for (uint32_t i = 0; i < 7; ++i) cycle.push_back({(i + 1) % 7, i, 2.0});
    EXPECT_NEAR(Radius(7, cycle), 2.0, 1e-13);
    // Nilpotent, empty, self links alone.
    EXPECT_EQ(Radius(3, FromDense({{0, 1, 1}, {0, 0, 1}, {0, 0, 0}})), 0.0);
    EXPECT_EQ(Radius(5, {}), 0.0);
    EXPECT_EQ(Radius(3, {{0, 0, 0.5}, {2, 2, -1.5}}), 1.5);
    // Entries of one place add up: 0.75 + 0.5 on the diagonal.
    EXPECT_EQ(Radius(1, {{0, 0, 0.75}, {0, 0, 0.5}}), 1.25);
    // Badly scaled (balancing): a similarity diag(1e-8, 1) of [[1, -1], [1, 1]], eigenvalues 1 +- i.
    EXPECT_NEAR(Radius(2, FromDense({{1, -1e8}, {1e-8, 1}})), std::sqrt(2.0), 1e-14);
    // Subnormal entries (a path of three, both ways): sqrt(2) times the entry, not NaN.
    const double tiny = 1e-310;
    EXPECT_NEAR(Radius(3, FromDense({{0, tiny, 0}, {tiny, 0, tiny}, {0, tiny, 0}})), std::sqrt(2.0) * tiny,
                1e-12 * tiny);
    // Not finite.
    EXPECT_TRUE(std::isnan(Radius(2, {{0, 1, NAN}, {1, 0, 1}})));
    EXPECT_TRUE(std::isnan(Radius(2, {{0, 1, INFINITY}, {1, 0, 1}})));
}

TEST(SpectralRadius, CompanionMatrix) {
    // (x - 1)(x - 2)(x - 3)(x + 4) = x^4 - 2x^3 - 13x^2 + 38x - 24.
    const std::vector<std::vector<double>> companion = {
        {2, 13, -38, 24}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    EXPECT_NEAR(Radius(4, FromDense(companion)), 4.0, 1e-12);
    std::vector<double> dense;
    for (const auto& row : companion) dense.insert(dense.end(), row.begin(), row.end());
    std::vector<std::complex<double>> values;
    ASSERT_TRUE(DenseEigenvalues(dense, 4, values));
    std::vector<double> real;
    for (const auto& v : values) {
        EXPECT_NEAR(v.imag(), 0.0, 1e-12);
        real.push_back(v.real());
    }
    std::sort(real.begin(), real.end());
    const double expected[] = {-4, 1, 2, 3};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(real[i], expected[i], 1e-12);
}

// Rotation blocks r (cos t, -sin t; sin t, cos t) of several sizes, their rows and columns shuffled and
// joined one way (block triangular): the radius is the largest r, whichever block holds it.
TEST(SpectralRadius, RotationBlocksBehindAPermutation) {
    const double scales[] = {0.5, 3.0, 1.25, 2.999, 0.01};
    const size_t n = 2 * std::size(scales);
    std::vector<uint32_t> place(n);
    for (uint32_t i = 0; i < n; ++i) place[i] = (i * 7 + 3) % n;  // 7 and n = 10 are coprime
    std::vector<MatrixEntry> entries;
    for (size_t b = 0; b < std::size(scales); ++b) {
        const double c = scales[b] * std::cos(0.3 + b), s = scales[b] * std::sin(0.3 + b);
        const uint32_t i = place[2 * b], j = place[2 * b + 1];
        entries.insert(entries.end(), {{i, i, c}, {i, j, -s}, {j, i, s}, {j, j, c}});
        if (b > 0) entries.push_back({place[2 * b - 1], i, 100.0});  // one way: no effect
    }
    const SpectralRadiusResult result = SpectralRadius(n, entries);
    EXPECT_NEAR(result.radius, 3.0, 1e-14);
    EXPECT_EQ(result.blocks, std::size(scales));
    EXPECT_EQ(result.largestBlock, 2u);
    EXPECT_TRUE(result.converged);
}

// Arnoldi (forced by a small dense limit) must find the radius the dense QR finds.
TEST(SpectralRadius, ArnoldiAgreesWithTheDenseMethod) {
    const std::vector<size_t> sizes = kQuick ? std::vector<size_t>{120} : std::vector<size_t>{120, 300, 600};
    for (size_t n : sizes) {
        for (size_t perNeuron : {3, 10, 40}) {
            for (uint32_t seed = 1; seed <= 2; ++seed) {
                const std::vector<MatrixEntry> entries =
                    RandomSparse(n, n * perNeuron, seed * 7919 + uint32_t(n));
                SpectralRadiusOptions dense, arnoldi;
                dense.denseLimit = 100000;
                arnoldi.denseLimit = 10;
                arnoldi.denseFallbackLimit = 0;  // Arnoldi's own result, not the dense fallback's
                const SpectralRadiusResult a = SpectralRadius(n, entries, dense);
                const SpectralRadiusResult b = SpectralRadius(n, entries, arnoldi);
                SCOPED_TRACE("n " + std::to_string(n) + ", " + std::to_string(perNeuron) + " per row, seed " +
                             std::to_string(seed));
                EXPECT_TRUE(a.converged && !a.usedArnoldi);
                EXPECT_TRUE(b.converged && b.usedArnoldi);
                EXPECT_NEAR(b.radius, a.radius, 1e-10 * a.radius);
                EXPECT_LE(a.radius, a.upperBound);
            }
        }
    }
}

// A reservoir of thousands of neurons: Arnoldi converges, and the radius follows the circular law,
// about sqrt(10 / 3) for 10 links per row with weights evenly in [-1, 1].
TEST(SpectralRadius, LargeSparse) {
    const size_t n = kQuick ? 1000 : 4000;
    const std::vector<MatrixEntry> entries = RandomSparse(n, 10 * n, 5);
    const SpectralRadiusResult result = SpectralRadius(n, entries);
    EXPECT_TRUE(result.converged);
    EXPECT_TRUE(result.usedArnoldi);
    EXPECT_EQ(result.largestBlock, n);
    EXPECT_GT(result.radius, 1.6);
    EXPECT_LT(result.radius, 2.1);
    // The same entries, the same bits.
    const SpectralRadiusResult again = SpectralRadius(n, entries);
    EXPECT_EQ(std::memcmp(&again.radius, &result.radius, sizeof(double)), 0);
    EXPECT_EQ(again.restarts, result.restarts);
}

// A block large enough for its sparse products to share rows between threads: the same bits with one
// thread and with three.
TEST(SpectralRadius, ThreadsChangeNoBit) {
    const size_t n = 17000;
    const std::vector<MatrixEntry> entries = RandomSparse(n, 4 * n, 9);
    SpectralRadiusOptions one, three;
    one.threads = 1;
    three.threads = 3;
    const SpectralRadiusResult a = SpectralRadius(n, entries, one), b = SpectralRadius(n, entries, three);
    EXPECT_TRUE(a.converged);
    EXPECT_EQ(std::memcmp(&a.radius, &b.radius, sizeof(double)), 0);
    EXPECT_EQ(a.restarts, b.restarts);
}

TEST(SpectralRadius, DenseResultsRepeatBitForBit) {
    const std::vector<MatrixEntry> entries = RandomSparse(200, 2000, 3);
    const double a = Radius(200, entries), b = Radius(200, entries);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

// Neuron i linked to place (i + 1) mod n, neurons numbered in a scrambled order, weight w(i).
template <typename Weight>
std::vector<MatrixEntry> Ring(uint32_t n, Weight w, uint32_t offset = 0) {
    const auto place = [&](uint64_t i) { return uint32_t(offset + (i * 7919 + 3) % n); };  // 7919 is prime
    std::vector<MatrixEntry> entries;
    for (uint32_t i = 0; i < n; ++i) entries.push_back({place((i + 1) % n), place(i), w(i)});
    return entries;
}

// A ring's eigenvalues are the n-th roots of its weights' product: all on one circle, which restarted
// Arnoldi cannot resolve. The radius must be the geometric mean of the weights' sizes, to the last bits,
// even where the product leaves the range of doubles.
TEST(SpectralRadius, RingsAreExact) {
    for (uint32_t n : {2u, 3u, 600u, 20000u, 100000u}) {
        const SpectralRadiusResult result = SpectralRadius(n, Ring(n, [](uint32_t) { return 0.9; }));
        SCOPED_TRACE(n);
        EXPECT_NEAR(result.radius, 0.9, 1e-15);
        EXPECT_TRUE(result.converged);
        EXPECT_EQ(result.cycles, 1u);
        EXPECT_FALSE(result.usedArnoldi);
    }
    for (double w : {1e-5, 1e5, -3e-7}) {  // products of 1e-500000, 1e500000, ...
        const double r = Radius(100000, Ring(100000, [w](uint32_t) { return w; }));
        EXPECT_NEAR(r / std::fabs(w), 1.0, 1e-13) << w;
    }
    // 1e300 and 1e-300 alternately: the mean is 1 though no power of 2 brings both into range.
    EXPECT_NEAR(Radius(1000, Ring(1000, [](uint32_t i) { return i % 2 ? 1e300 : -1e-300; })), 1.0, 1e-13);

    // Random signed weights, against a mean of logarithms in long double.
    uint64_t state = 17;
    std::vector<double> weights(5001);
    long double logs = 0;
    for (double& w : weights) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        w = (double(state >> 11) / 9007199254740992.0 * 1.9 + 0.1) * (state >> 63 ? 1 : -1);
        logs += std::log(static_cast<long double>(std::fabs(w)));
    }
    const double mean = double(std::exp(logs / weights.size()));
    const auto weight = [&](uint32_t i) { return weights[i]; };
    EXPECT_NEAR(Radius(5001, Ring(5001, weight)), mean, 1e-13 * mean);

    // Disjoint rings, one with a link of weight 0 (no cycle left: radius 0), joined one way by links
    // that change nothing; and a self link.
    std::vector<MatrixEntry> entries = Ring(5001, weight);
    const auto add = [&](std::vector<MatrixEntry> ring) {
        entries.insert(entries.end(), ring.begin(), ring.end());
    };
    add(Ring(
        3, [](uint32_t i) { return i == 0 ? 4.0 : 0.5; }, 5001));  // mean 1
    add(Ring(
        700, [](uint32_t i) { return i == 9 ? 0.0 : 50.0; }, 5004));
    entries.push_back({5001, 17, 100.0});
    entries.push_back({5800, 5800, -0.75});
    const SpectralRadiusResult all = SpectralRadius(5801, entries);
    EXPECT_NEAR(all.radius, std::max(mean, 1.0), 1e-13);
    EXPECT_EQ(all.cycles, 2u);
    EXPECT_EQ(all.blocks, 2u);
}

// Reservoirs drawn by the library itself, of a few hundred to about a thousand neurons, sparse to
// dense: Arnoldi's radius is the dense solve's.
TEST(SpectralRadius, ReservoirsMatchTheDenseSolve) {
    const std::vector<std::pair<uint32_t, uint32_t>> cases =
        kQuick ? std::vector<std::pair<uint32_t, uint32_t>>{{300, 8}}
               : std::vector<std::pair<uint32_t, uint32_t>>{{300, 2}, {300, 8}, {400, 24}, {1000, 8}};
    for (const auto& [n, links] : cases) {
        Reservoire r;
        rcnet::srand(n + links);
        r.AddNeurons(n, ETYPE_BISIGMOID);
        r.AddRandomBackConnections(n * links);
        const SpectralRadiusResult result = r.BackLinkRadius();
        SCOPED_TRACE(std::to_string(n) + " neurons, " + std::to_string(links) + " links each");
        EXPECT_TRUE(result.converged && result.usedArnoldi);
        EXPECT_NEAR(result.radius, test::DenseBackLinkRadius(r), 1e-9 * result.radius);
    }
}

// A ring with a few chords: the eigenvalues still crowd a circle. Arnoldi alone (no dense fallback)
// may give up, but a radius it calls converged must be the dense solve's.
TEST(SpectralRadius, RingWithChordsIsRightOrUnconverged) {
    SpectralRadiusOptions arnoldiOnly;
    arnoldiOnly.denseFallbackLimit = 0;
    const std::vector<std::pair<uint32_t, double>> cases =
        kQuick ? std::vector<std::pair<uint32_t, double>>{{300, 0.1}}
               : std::vector<std::pair<uint32_t, double>>{{300, 0.1}, {600, 0.1}, {900, 0.5}};
    for (const auto& [n, chord] : cases) {
        {
            std::vector<MatrixEntry> entries = Ring(n, [](uint32_t) { return 0.9; });
            std::vector<double> dense(size_t(n) * n, 0.0);
            for (uint32_t c = 0; c < 3; ++c)
                entries.push_back({(c * n / 3 + n / 3 + 1) % n, c * n / 3, chord});
            for (const MatrixEntry& e : entries) dense[size_t(e.row) * n + e.column] += e.value;
            std::vector<std::complex<double>> values;
            ASSERT_TRUE(DenseEigenvalues(dense, n, values));
            double exact = 0;
            for (const auto& v : values) exact = std::max(exact, std::abs(v));
            const SpectralRadiusResult alone = SpectralRadius(n, entries, arnoldiOnly);
            const SpectralRadiusResult result = SpectralRadius(n, entries);
            SCOPED_TRACE(std::to_string(n) + " neurons, chords " + std::to_string(chord));
            if (alone.converged) {
                EXPECT_NEAR(alone.radius, exact, 1e-9 * exact);
            }
            EXPECT_TRUE(result.converged);  // with the fallback
            EXPECT_NEAR(result.radius, exact, 1e-9 * exact);
        }
    }
}

// Through the inspection interface: the back links' radius of a network whose back links form one
// cycle of weight 2 is 2, its forward links' radius that of their own matrix.
TEST(SpectralRadius, NetworkRadiiAreThoseOfTheirLinks) {
    inspect::Network net;
    for (uint32_t id : {10, 20, 30}) net.neurons.push_back({id, 1});
    net.back = {{10, 20, 2.0}, {20, 30, 2.0}, {30, 10, 2.0}};
    net.forward = {{10, 10, 0.5}, {20, 30, -0.25}};
    EXPECT_NEAR(inspect::LinkRadius(net, inspect::LinkKind::Back).value, 2.0, 1e-14);
    EXPECT_EQ(inspect::LinkRadius(net, inspect::LinkKind::Forward).value, 0.5);

    // A built reservoir: the radius the interface gives is that of W[target][source] built here from
    // the network's own snapshot.
    ASSERT_EQ(RegisterUsage(61, 1, 1, 1), 1);
    Randomize(9);
    AddNeuronsToNet(61, 80, 1);
    AddRandomBackConnectionsToNet(61, 640);
    inspect::Network built;
    ASSERT_TRUE(inspect::GetNetwork(61, built));
    std::vector<MatrixEntry> entries;
    const auto place = [&](uint32_t id) {
        for (size_t i = 0; i < built.neurons.size(); ++i)
            if (built.neurons[i].id == id) return uint32_t(i);
        return uint32_t(~0u);
    };
    for (const inspect::Link& link : built.back)
        entries.push_back({place(link.target), place(link.source), link.weight});
    inspect::Radius radius;
    ASSERT_TRUE(inspect::GetLinkRadius(61, inspect::LinkKind::Back, radius));
    EXPECT_EQ(radius.value, Radius(80, entries));
    EXPECT_GT(radius.value, 0.5);
    UnregisterUsage(61);

    test::ReportCapture capture;
    EXPECT_FALSE(inspect::GetLinkRadius(61, inspect::LinkKind::Back, radius));
    EXPECT_EQ(capture.Checks(), std::vector<std::string>{"it != m_Nets.end() @ NetManager"});
}

}  // namespace
