#include "src/Solver/QrSolver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "src/Aligned.h"
#include "src/Sizes.h"
#include "src/Solver/WorkerPool.h"
#include "src/kernels/QrKernels.h"

namespace rcnet {

struct QrSolver::Factor {
    size_t features = 0;  // values and the threshold: the columns the factor keeps rows for
    size_t width = 0;     // features and targets
    // features x width, row-major: the triangular factor (zero below the diagonal).
    std::vector<double> r;
    // kSlots chunks of chunk x width: new rows waiting to be folded in, filled in ring order. Each row
    // starts on a 64-byte boundary: the fold's vectors then never straddle two cache lines (a third of
    // its time on W when rows followed each other unpadded).
    AlignedVector<double> pending;
    std::vector<double*> rows;  // each pending row
    std::vector<double> u;      // per slot, the block's reflectors (kBlock x chunk)
    size_t chunk = 0;
    size_t filled = 0;  // rows in slot `fill`
    size_t fill = 0;
    size_t queued = 0;  // full slots before `fill` not yet handed to the fold
    Parallel parallel;

    // The chunks being folded, in order: each waits, block by block, for the one before it to leave
    // the factor rows of the block (a chunk's block touches only those rows of the factor), so every
    // factor entry receives the chunks in order whichever thread folds them.
    size_t flightFirst = 0, flightCount = 0, flightLast = 0;  // slots; the last one's rows
    bool open = false;                                        // a flight is on the pool
    std::unique_ptr<std::atomic<size_t>[]> progress;          // per slot: the columns it has folded
    LoopBody body;

    void FoldSlots(size_t begin, size_t end);
    // Hands the queued slots to the fold, the last one holding `last` rows; the caller goes on meanwhile.
    void Launch(size_t last);
    // Returns once the flight is folded.
    void Land();
};

namespace {

// Rows per chunk: a tile of 16 columns of them fits the first-level cache while a block of reflectors
// passes over it, and all of them the second-level cache. The work per row is the same whatever the
// chunk.
size_t DefaultChunkRows(size_t width) {
    return std::clamp<size_t>((size_t{1} << 16) / std::max<size_t>(1, width), 16, 160);
}

// Makes the reflector that zeroes rows[i][k] under head[k], sigma the sum of their squares in row order:
// head[k] becomes beta, u the rows' entries over x - beta (the entries are zeroed). Returns tau; 0 when
// there is nothing to zero.
double Reflector(double* head, double* const* rows, size_t count, size_t k, double sigma, double* u) {
    if (sigma == 0.0) return 0.0;
    const double x = head[k];
    const double norm = std::sqrt(x * x + sigma);
    const double beta = x >= 0.0 ? -norm : norm;
    const double denominator = x - beta;
    for (size_t i = 0; i < count; ++i) {
        u[i] = rows[i][k] / denominator;
        rows[i][k] = 0.0;
    }
    head[k] = beta;
    return (beta - x) / beta;
}

double MakeReflector(double* head, double* const* rows, size_t count, size_t k, double* u) {
    double sigma = 0.0;
    for (size_t i = 0; i < count; ++i) sigma = sigma + rows[i][k] * rows[i][k];
    return Reflector(head, rows, count, k, sigma, u);
}

// Folds rows (width columns each) under the triangular r (features x width): afterwards r is the
// triangular factor of both. Reflector k mixes r's row k with the rows only (r is zero below its
// diagonal). The columns go in blocks of kBlock: each reflector of a block is made from its column and
// applied at once to the block's columns after it; the columns after the block then take the block's
// reflectors together (kernels::Fold), in order, column by column, as if one after the other. The
// rows are left with the residual of the target columns, which no weight needs.
constexpr size_t kBlock = 8;

// before(k1) runs before the block of columns up to k1 touches the factor, after(k1) once it is done.
template <typename Before, typename After>
void FoldRows(double* r, size_t features, size_t width, double* const* rows, size_t count, double* u,
              Before&& before, After&& after) {
    const double* us[kBlock];
    double* heads[kBlock];
    double taus[kBlock];
    for (size_t k0 = 0; k0 < features; k0 += kBlock) {
        const size_t k1 = std::min(features, k0 + kBlock);
        before(k1);
        size_t n = 0;
        for (size_t k = k0; k < k1; ++k) {
            double* head = r + k * width;
            double* v = u + n * count;
            const double tau = MakeReflector(head, rows, count, k, v);
            if (tau == 0.0) continue;
            kernels::Reflect({head, rows, v, count, tau}, k + 1, k1, nullptr);
            heads[n] = head;
            us[n] = v;
            taus[n] = tau;
            ++n;
        }
        if (n > 0) kernels::Fold({heads, us, taus, n, rows, count, k1 == features}, k1, width);
        after(k1);
    }
}

void FoldRows(double* r, size_t features, size_t width, double* const* rows, size_t count) {
    std::vector<double> u(SizeProduct(kBlock, count));
    FoldRows(
        r, features, width, rows, count, u.data(), [](size_t) {}, [](size_t) {});
}

// Chunks in flight at once, and slots for them and for the rows gathered meanwhile.
constexpr size_t kFlight = 4;
constexpr size_t kSlots = 2 * kFlight;
// Narrower factors fold too quickly for a second thread to pay.
constexpr size_t kThreadedWidth = 32;

void WaitFor(const std::atomic<size_t>& progress, size_t columns) {
    for (unsigned spins = 0; progress.load(std::memory_order_acquire) < columns; ++spins) {
#if defined(__x86_64__) || defined(__i386__)
        if (spins < 4096) {
            __builtin_ia32_pause();
            continue;
        }
#endif
        std::this_thread::yield();
    }
}

// The reflection applied to columns [begin, end), one contiguous range of columns per thread (each
// column's values are the same whoever computes them). Ranges rather than runs taken in turn: from one
// step to the next a thread mostly gets nearly the same columns, which are then still in its own cache
// (solve on W: 240 -> 146 ms on two threads).
void ReflectShared(const kernels::Reflection& r, size_t begin, size_t end, double* norms,
                   const Parallel& parallel) {
    constexpr size_t kRun = 64;                           // columns per thread at least
    constexpr size_t kThreadedEntries = size_t{1} << 15;  // below, waking a thread costs more than it saves
    const size_t columns = end > begin ? end - begin : 0;
    if (parallel.ThreadCount() < 2 || columns * r.count < kThreadedEntries) {
        kernels::Reflect(r, begin, end, norms);
        return;
    }
    parallel.Run(columns, kRun,
                 [&](size_t first, size_t last) { kernels::Reflect(r, begin + first, begin + last, norms); });
}

// Sum of the squares of column j over rows [first, count), row order.
double ColumnSquares(const double* a, size_t width, size_t first, size_t count, size_t j) {
    double sum = 0.0;
    for (size_t i = first; i < count; ++i) sum = sum + a[i * width + j] * a[i * width + j];
    return sum;
}

}  // namespace

void QrSolver::Factor::FoldSlots(size_t begin, size_t end) {
    for (size_t c = begin; c < end; ++c) {
        const size_t slot = (flightFirst + c) % kSlots;
        const size_t count = c + 1 == flightCount ? flightLast : chunk;
        const std::atomic<size_t>* ahead = c > 0 ? &progress[(slot + kSlots - 1) % kSlots] : nullptr;
        std::atomic<size_t>& mine = progress[slot];
        FoldRows(
            r.data(), features, width, rows.data() + slot * chunk, count, u.data() + slot * kBlock * chunk,
            [ahead](size_t k1) {
                if (ahead) WaitFor(*ahead, k1);
            },
            [&mine](size_t k1) { mine.store(k1, std::memory_order_release); });
    }
}

void QrSolver::Factor::Launch(size_t last) {
    Land();
    const size_t count = queued;
    queued = 0;
    if (count == 0 || features == 0) return;
    flightFirst = (fill + kSlots - count) % kSlots;
    flightCount = count;
    flightLast = last;
    for (size_t c = 0; c < count; ++c)
        progress[(flightFirst + c) % kSlots].store(0, std::memory_order_relaxed);
    open = parallel.ThreadCount() > 1 && width >= kThreadedWidth && parallel.Begin(count, body);
    if (!open) FoldSlots(0, count);
}

void QrSolver::Factor::Land() {
    if (!open) return;
    parallel.Finish();
    open = false;
}

QrSolver::QrSolver(size_t values, bool threshold, size_t targets)
    : m_Values(values), m_Threshold(threshold), m_Targets(targets), m_Factor(std::make_unique<Factor>()) {
    Factor& f = *m_Factor;
    f.features = SizeSum(values, threshold ? 1 : 0);
    f.width = SizeSum(f.features, targets);
    f.r.assign(SizeProduct(f.features, f.width), 0.0);
    f.progress = std::make_unique<std::atomic<size_t>[]>(kSlots);
    f.body = [factor = &f](size_t begin, size_t end) { factor->FoldSlots(begin, end); };
    SetChunkRows(DefaultChunkRows(f.width));
}

QrSolver::~QrSolver() {
    m_Factor->Land();  // nothing may still fold into the factor
}

void QrSolver::SetChunkRows(size_t rows) {
    Factor& f = *m_Factor;
    Reduce();
    f.chunk = std::max<size_t>(1, rows);
    const size_t stride = CacheLineStride(f.width);
    f.pending.assign(SizeProduct(SizeProduct(kSlots, f.chunk), stride), 0.0);
    double* base = f.pending.data();
    f.rows.resize(SizeProduct(kSlots, f.chunk));
    for (size_t i = 0; i < f.rows.size(); ++i) f.rows[i] = base + i * stride;
    f.u.assign(SizeProduct(SizeProduct(kSlots, kBlock), f.chunk), 0.0);
}

size_t QrSolver::ChunkRows() const {
    return m_Factor->chunk;
}

void QrSolver::SetThreadCount(unsigned threads) {
    Reduce();
    m_Factor->parallel = Parallel(threads);
}

void QrSolver::AddRow(const double* values, const double* targets) {
    Factor& f = *m_Factor;
    double* row = f.rows[f.fill * f.chunk + f.filled];
    size_t c = 0;
    for (size_t j = 0; j < m_Values; ++j) row[c++] = values[j];
    if (m_Threshold) row[c++] = 1.0;
    for (size_t j = 0; j < m_Targets; ++j) row[c++] = targets[j];
    if (++f.filled < f.chunk) return;
    f.filled = 0;
    f.fill = (f.fill + 1) % kSlots;
    // The caller fills the other half of the slots while the workers fold these.
    if (++f.queued == kFlight) f.Launch(f.chunk);
}

void QrSolver::Reduce() {
    Factor& f = *m_Factor;
    const size_t last = f.filled;
    if (last > 0) {
        f.filled = 0;
        f.fill = (f.fill + 1) % kSlots;
        ++f.queued;
    }
    f.Launch(last > 0 ? last : f.chunk);
    f.Land();
}

// Solve works on a = [R11 R12] (features x width), with the ridge folded in as rows sqrt(ridge) e_j of
// the value columns, by a column-pivoted QR: each step takes the column with the largest remaining norm
// (the lowest index among equals), recomputed from the reflected rows, not downdated. The rank is the
// number of steps before the largest remaining norm is at most eps * (features + ridge rows) * the
// largest column norm of R11: without a ridge the rule of a rank-revealing QR whose first diagonal
// entry is that norm; the ridge rows do not raise the bar, or a large ridge would count the threshold
// column, which no ridge row touches, as dependent and drop it. Below full rank the rank rows [T11 T12]
// go through a second QR, of their transpose, for the minimum-norm solution.
Matrix QrSolver::Solve(double ridge) {
    Reduce();
    const Factor& f = *m_Factor;
    const size_t features = f.features, width = f.width, targets = m_Targets;
    Matrix weights(targets, Vector(features, 0.0));
    if (features == 0 || targets == 0) return weights;

    std::vector<double> a(f.r);
    double largest = 0.0;
    for (size_t j = 0; j < features; ++j)
        largest = std::max(largest, ColumnSquares(a.data(), width, 0, features, j));
    largest = std::sqrt(largest);

    const size_t extra = ridge > 0 ? m_Values : 0;
    double root = std::sqrt(ridge);
    if (root > 0x1p256) {
        // Squares of the ridge rows' entries could overflow: scale the whole problem, which changes no
        // weight, by a power of two, which is exact.
        for (double& x : a) x = x * 0x1p-256;
        root = root * 0x1p-256;
        largest = largest * 0x1p-256;
    }
    // The ridge rows, a few at a time: row j is zero before its column j, so the columns before a
    // batch have nothing to reflect in it.
    constexpr size_t kBatch = 64;
    std::vector<double> batch(SizeProduct(kBatch, width));
    std::vector<double*> rows(std::max(kBatch, features));
    for (size_t first = 0; first < extra; first += kBatch) {
        const size_t count = std::min(kBatch, extra - first);
        std::fill(batch.begin(), batch.end(), 0.0);
        for (size_t q = 0; q < count; ++q) {
            batch[q * width + first + q] = root;
            rows[q] = batch.data() + q * width;
        }
        FoldRows(a.data(), features, width, rows.data(), count);
    }

    // The column-pivoted QR.
    const double bar =
        std::numeric_limits<double>::epsilon() * static_cast<double>(features + extra) * largest;
    std::vector<double> norms(width, 0.0), u(features);
    std::vector<size_t> order(features);
    for (size_t j = 0; j < features; ++j) {
        norms[j] = ColumnSquares(a.data(), width, 0, features, j);
        order[j] = j;
    }
    size_t rank = 0;
    for (size_t k = 0; k < features; ++k) {
        size_t p = k;
        for (size_t j = k + 1; j < features; ++j)
            if (norms[j] > norms[p]) p = j;
        if (!(std::sqrt(norms[p]) > bar)) break;
        if (p != k) {
            for (size_t i = 0; i < features; ++i) std::swap(a[i * width + k], a[i * width + p]);
            std::swap(norms[k], norms[p]);
            std::swap(order[k], order[p]);
        }
        rank = k + 1;
        double* head = a.data() + k * width;
        const size_t below = features - k - 1;
        for (size_t i = 0; i < below; ++i) rows[i] = head + (i + 1) * width;
        const double tau = MakeReflector(head, rows.data(), below, k, u.data());
        if (tau != 0.0) {
            ReflectShared({head, rows.data(), u.data(), below, tau}, k + 1, width, norms.data(), f.parallel);
        } else {
            for (size_t j = k + 1; j < width; ++j)
                norms[j] = ColumnSquares(a.data(), width, k + 1, features, j);
        }
    }

    std::vector<double> z(features);
    if (rank == features) {
        for (size_t t = 0; t < targets; ++t) {
            for (size_t j = features; j-- > 0;) {
                const double* row = a.data() + j * width;
                double s = row[features + t];
                for (size_t l = j + 1; l < features; ++l) s = s - row[l] * z[l];
                z[j] = s / row[j];
            }
            for (size_t j = 0; j < features; ++j) weights[t][order[j]] = z[j];
        }
        return weights;
    }

    // [T11 T12] = S^T Q^T from the QR of its transpose (features x rank, row-major); the minimum-norm
    // solution of T z = c is Q [y; 0] with S^T y = c.
    std::vector<double> m(SizeProduct(features, rank)), taus(rank, 0.0);
    for (size_t i = 0; i < rank; ++i)
        for (size_t j = i; j < features; ++j) m[j * rank + i] = a[i * width + j];
    std::vector<double> reflectors(m.size(), 0.0);  // u of reflector k in column k, rows below k
    for (size_t k = 0; k < rank; ++k) {
        double* head = m.data() + k * rank;
        const size_t below = features - k - 1;
        for (size_t i = 0; i < below; ++i) rows[i] = head + (i + 1) * rank;
        taus[k] = MakeReflector(head, rows.data(), below, k, u.data());
        for (size_t i = 0; i < below; ++i) reflectors[(k + 1 + i) * rank + k] = taus[k] != 0.0 ? u[i] : 0.0;
        if (taus[k] != 0.0)
            kernels::Reflect({head, rows.data(), u.data(), below, taus[k]}, k + 1, rank, nullptr);
    }
    for (size_t t = 0; t < targets; ++t) {
        for (size_t i = 0; i < rank; ++i) {
            double s = a[i * width + features + t];
            for (size_t l = 0; l < i; ++l) s = s - m[l * rank + i] * z[l];
            z[i] = s / m[i * rank + i];
        }
        std::fill(z.begin() + static_cast<std::ptrdiff_t>(rank), z.end(), 0.0);
        for (size_t k = rank; k-- > 0;) {
            if (taus[k] == 0.0) continue;
            double s = z[k];
            for (size_t i = k + 1; i < features; ++i) s = s + reflectors[i * rank + k] * z[i];
            s = s * taus[k];
            z[k] = z[k] - s;
            for (size_t i = k + 1; i < features; ++i) z[i] = z[i] - reflectors[i * rank + k] * s;
        }
        for (size_t j = 0; j < features; ++j) weights[t][order[j]] = z[j];
    }
    return weights;
}

}  // namespace rcnet
