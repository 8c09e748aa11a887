// The spectral radius against matrices whose eigenvalues are known, and the Arnoldi path against the
// dense QR path on random reservoir-like matrices.
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/EigenvalueRadius.h"

using namespace rcnet::tools;

namespace {

int g_Failures = 0;

void Expect(bool ok, const char* what, double got, double expected) {
    if (ok) return;
    ++g_Failures;
    std::printf("FAIL %s: got %.17g, expected %.17g\n", what, got, expected);
}

void ExpectNear(const char* what, double got, double expected, double tolerance = 1e-10) {
    Expect(std::fabs(got - expected) <= tolerance * std::max(1.0, std::fabs(expected)), what, got, expected);
}

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

void KnownMatrices() {
    // Triangular: the diagonal.
    ExpectNear("triangular", SpectralRadius(3, FromDense({{0.5, 7, -3}, {0, -2, 4}, {0, 0, 1}})).radius, 2.0);
    // A rotation scaled by 3: eigenvalues +-3i.
    ExpectNear("rotation", SpectralRadius(2, FromDense({{0, -3}, {3, 0}})).radius, 3.0);
    // A cycle of 7 with weight 2: 2 times the 7th roots of unity, all of the same size.
    {
        std::vector<MatrixEntry> cycle;
        for (uint32_t i = 0; i < 7; ++i) cycle.push_back({(i + 1) % 7, i, 2.0});
        ExpectNear("cycle", SpectralRadius(7, cycle).radius, 2.0);
    }
    // Companion matrix of (x - 1)(x - 2)(x - 3)(x + 4) = x^4 - 2x^3 - 13x^2 + 38x - 24.
    {
        const std::vector<std::vector<double>> companion = {
            {2, 13, -38, 24}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
        ExpectNear("companion", SpectralRadius(4, FromDense(companion)).radius, 4.0, 1e-9);
        std::vector<double> dense;
        for (const auto& row : companion) dense.insert(dense.end(), row.begin(), row.end());
        std::vector<std::complex<double>> values;
        Expect(DenseEigenvalues(dense, 4, values), "companion converges", 0, 0);
        double product = 1.0, sum = 0.0;
        for (const auto& v : values) product *= v.real(), sum += v.real();
        ExpectNear("companion eigenvalue product", product, -24.0, 1e-9);
        ExpectNear("companion eigenvalue sum", sum, 2.0, 1e-9);
    }
    // Nilpotent (strictly upper triangular) and empty.
    ExpectNear("nilpotent", SpectralRadius(3, FromDense({{0, 1, 1}, {0, 0, 1}, {0, 0, 0}})).radius, 0.0);
    ExpectNear("no entries", SpectralRadius(5, {}).radius, 0.0);
    // Self links alone.
    ExpectNear("self links", SpectralRadius(3, {{0, 0, 0.5}, {2, 2, -1.5}}).radius, 1.5);
    // Two blocks joined one way: the block triangular form keeps both blocks' eigenvalues.
    {
        std::vector<MatrixEntry> entries = {{0, 1, 1.0},
                                            {1, 0, 1.0},  // eigenvalues +-1
                                            {2, 3, 4.0},
                                            {3, 2, 1.0},     // eigenvalues +-2
                                            {2, 0, 100.0}};  // one-way link: no effect
        const SpectralResult result = SpectralRadius(4, entries);
        ExpectNear("two blocks", result.radius, 2.0);
        Expect(result.blocks == 2 && result.largestBlock == 2, "block count", double(result.blocks), 2);
    }
    // Badly scaled (balancing): diag(1e-8, 1, 1e8) similarity of a rotation-plus-shift.
    ExpectNear("badly scaled", SpectralRadius(2, FromDense({{1, -1e8}, {1e-8, 1}})).radius, std::sqrt(2.0));
    // Not finite.
    Expect(std::isnan(SpectralRadius(2, {{0, 1, NAN}, {1, 0, 1}}).radius), "nan weight", 0, 0);
}

// Arnoldi (forced by a small dense limit) must find the same radius as the dense QR. No time limit:
// the result must not depend on the machine's speed.
void ArnoldiAgainstDense(bool quick) {
    const std::vector<size_t> sizes = quick ? std::vector<size_t>{120} : std::vector<size_t>{120, 300};
    const size_t perNeuron[] = {3, 10, 40};
    for (size_t n : sizes) {
        for (size_t links : perNeuron) {
            for (uint32_t seed = 1; seed <= 2; ++seed) {
                const std::vector<MatrixEntry> entries =
                    RandomSparse(n, n * links, seed * 7919 + uint32_t(n));
                SpectralOptions dense, arnoldi;
                dense.denseLimit = 100000;
                arnoldi.denseLimit = 10;
                arnoldi.maxSeconds = 1e9;
                const SpectralResult a = SpectralRadius(n, entries, dense);
                const SpectralResult b = SpectralRadius(n, entries, arnoldi);
                char what[96];
                std::snprintf(what, sizeof what, "arnoldi n=%zu links=%zu seed=%u", n, n * links, seed);
                Expect(a.converged && !a.usedArnoldi, what, 0, 0);
                Expect(b.converged && b.usedArnoldi, what, 0, 0);
                ExpectNear(what, b.radius, a.radius, 1e-8);
            }
        }
    }
}

// A reservoir of a few thousand neurons (Arnoldi) finishes quickly.
void Large(bool quick) {
    const size_t n = quick ? 1000 : 2000;
    SpectralOptions options;
    options.maxSeconds = 1e9;
    const auto start = std::chrono::steady_clock::now();
    const SpectralResult result = SpectralRadius(n, RandomSparse(n, 10 * n, 5), options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Expect(result.converged && result.usedArnoldi, "large converges", 0, 0);
    // The circular law: about sqrt(10 * 1/3) for 10 links per neuron with weights evenly in [-1, 1].
    Expect(result.radius > 1.6 && result.radius < 2.1, "large radius", result.radius, std::sqrt(10.0 / 3.0));
    std::printf("n = %zu, %zu links: radius %.6g in %.2f s\n", n, 10 * n, result.radius, seconds);
}

}  // namespace

// --quick: fewer and smaller cases, for the sanitizer builds.
int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    KnownMatrices();
    ArnoldiAgainstDense(quick);
    Large(quick);
    std::printf("%s\n", g_Failures ? "FAILED" : "passed");
    return g_Failures ? 1 : 0;
}
