#include "src/Solver/Fold.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "src/Aligned.h"
#include "src/Sizes.h"
#include "src/kernels/Kernels.h"
#include "src/kernels/SolverKernels.h"

namespace rcnet {
namespace {

// The products are computed in register tiles (src/kernels/SolverKernels.h) while a chunk of patterns streams
// through; each chunk's values are first packed into panels of the tile's width.
constexpr size_t kChunk = 256;              // patterns per pass at most
constexpr size_t kGroupBytes = 384 * 1024;  // column panels a thread takes at a time: about a third of L2

using kernels::FoldPass;

// Values packed per batch at most (2 MiB, about one chunk of W): a batch is packed by all threads and
// folded while it is still in the caches; larger calls go in several batches.
constexpr size_t kBatchValues = size_t{1} << 18;

// Below this many products per batch one thread is quicker than waking another.
constexpr size_t kThreadedProducts = 64 * 64 * 256;

// Copies one panel's part of a pattern (at most a panel's width, a few dozen values) inline: a library
// call per panel and pattern costs more than the copy where memcpy is not the C library's own (the DLL
// under wine).
inline void CopyPanelValues(double* out, const double* in, size_t count) {
    size_t k = 0;
    for (; k + 4 <= count; k += 4) __builtin_memcpy(out + k, in + k, 4 * sizeof(double));
    if (count & 2) {
        __builtin_memcpy(out + k, in + k, 2 * sizeof(double));
        k += 2;
    }
    if (count & 1) out[k] = in[k];
}

}  // namespace

struct Folder::Flight {
    AlignedVector<double> storage;  // the packed batch
    bool open = false;              // a batch is on the pool
    const Parallel* parallel = nullptr;

    // The batch being folded.
    const kernels::Kernels* level = nullptr;  // the instruction-set level's kernels, for the whole batch
    FoldPass pass{};
    size_t chunks = 0, chunk = 0, patterns = 0, chunkValues = 0;
    std::vector<Unit> units;
    std::vector<double*> rows;
    LoopBody body;

    // Units of work, each against every chunk in order.
    void FoldUnits(size_t begin, size_t end) const {
        for (size_t u = begin; u < end; ++u) {
            for (size_t k = 0; k < chunks; ++k) {
                FoldPass part = pass;
                part.panels = pass.panels + k * chunkValues;
                part.patterns = std::min(chunk, patterns - k * chunk);
                part.rowBegin = units[u].rowBegin;
                part.rowCount = std::min(pass.rowCount, units[u].rowEnd);
                level->fold(part, units[u].g0, units[u].g1);
            }
        }
    }
};

std::vector<Folder::Unit> Folder::Units(size_t rowCount, size_t panels, size_t nb, size_t group,
                                        unsigned threads) {
    // Tiles per row block of nb rows in the group [g0, g1): the block's own panel on (the triangle).
    const auto tiles = [](size_t block, size_t g0, size_t g1) { return g1 - std::max(g0, block); };
    const size_t blocks = (rowCount + nb - 1) / nb;
    size_t total = 0;
    for (size_t g0 = 0; g0 < panels; g0 += group)
        for (size_t b = 0; b < std::min(blocks, g0 + group); ++b)
            total += tiles(b, g0, std::min(panels, g0 + group));
    // About eight units a thread: what one thread still holds when the other runs out is small.
    const size_t target = std::max<size_t>(1, total / (8 * std::max(1u, threads)));
    std::vector<Unit> units;
    for (size_t g0 = 0; g0 < panels; g0 += group) {
        const size_t g1 = std::min(panels, g0 + group), end = std::min(blocks, g1);
        size_t first = 0, work = 0;
        for (size_t b = 0; b < end; ++b) {
            work += tiles(b, g0, g1);
            if (work >= target || b + 1 == end) {
                units.push_back({g0, g1, first * nb, (b + 1) * nb, work});
                first = b + 1;
                work = 0;
            }
        }
    }
    // The largest first, so that the threads finish together.
    std::stable_sort(units.begin(), units.end(),
                     [](const Unit& a, const Unit& b) { return a.work > b.work; });
    return units;
}

Folder::Folder() : m_Flight(std::make_unique<Flight>()) {
    m_Flight->body = [flight = m_Flight.get()](size_t begin, size_t end) { flight->FoldUnits(begin, end); };
}

Folder::~Folder() {
    Finish();
}

void Folder::Finish() {
    if (!m_Flight->open) return;
    m_Flight->parallel->Finish();
    m_Flight->open = false;
}

size_t Folder::BatchPatterns(size_t width) {
    const size_t nb = kernels::Active().foldPanel;
    return std::max<size_t>(1, kBatchValues / ((std::max<size_t>(width, 1) + nb - 1) / nb * nb));
}

void Folder::Add(RowMatrix& matrix, const std::vector<PatternView>& patterns, size_t n, bool threshold,
                 const Parallel& parallel) {
    const size_t width = matrix.Columns(), rowCount = matrix.Rows();
    if (patterns.empty() || rowCount == 0 || width != n + (threshold ? 2 : 1) || rowCount + 1 != width)
        return;
    Flight& f = *m_Flight;
    const kernels::Kernels& level = kernels::Active();
    const size_t nb = level.foldPanel;
    const size_t panels = (width + nb - 1) / nb;
    // Even batches, as for the chunks.
    const size_t most = BatchPatterns(width);
    const size_t batches = (patterns.size() + most - 1) / most;
    const size_t batch = (patterns.size() + batches - 1) / batches;
    for (size_t first = 0; first < patterns.size(); first += batch) {
        const size_t count = std::min(batch, patterns.size() - first);
        // Even chunks: a short last chunk would cost a whole pass over the matrix for a few patterns.
        const size_t chunks = (count + kChunk - 1) / kChunk;
        const size_t chunk = (count + chunks - 1) / chunks;
        // Chunk k's panel q holds, for each pattern of the chunk, u's entries q*nb .. q*nb + nb - 1
        // (zero past the end); each panel starts on a 64-byte boundary.
        const size_t panelStride = (chunk * nb + 7) / 8 * 8;
        const size_t chunkValues = panels * panelStride;
        // The batch before must be in the matrix before this one goes (its units may change threads),
        // and its panels are packed over.
        Finish();
        const size_t storage = SizeProduct(chunks, chunkValues);
        if (f.storage.size() < storage) f.storage.resize(storage);
        double* base = f.storage.data();
        // Packing costs one copy per value against about n products per value: worth threads only for
        // long rows.
        parallel.Run(count, std::max<size_t>(1, 16384 / width), [&](size_t begin, size_t end) {
            for (size_t p = begin; p < end; ++p) {
                const PatternView& pattern = patterns[first + p];
                double* chunkBase = base + p / chunk * chunkValues;
                const size_t offset = p % chunk * nb;
                const double* v = pattern.values;
                for (size_t q = 0; q < panels; ++q) {
                    double* out = chunkBase + q * panelStride + offset;
                    const size_t k0 = q * nb, stop = std::min(nb, n > k0 ? n - k0 : 0);
                    CopyPanelValues(out, v + k0, stop);
                    for (size_t k = stop; k < nb; ++k) out[k] = 0.0;
                }
                chunkBase[n / nb * panelStride + offset + n % nb] = threshold ? 1.0 : pattern.target;
                if (threshold) chunkBase[(n + 1) / nb * panelStride + offset + (n + 1) % nb] = pattern.target;
            }
        });

        f.level = &level;
        f.rows.resize(rowCount);
        for (size_t j = 0; j < rowCount; ++j) f.rows[j] = matrix.Row(j);
        f.pass = FoldPass{f.rows.data(), rowCount, width, base, 0, panelStride};
        f.chunks = chunks;
        f.chunk = chunk;
        f.patterns = count;
        f.chunkValues = chunkValues;
        // Column groups whose panels fill about a third of the second-level cache, cut into ranges of
        // rows: they are the units the threads take, each entry in exactly one.
        const size_t group = std::max<size_t>(1, kGroupBytes / (chunk * nb * sizeof(double)));
        const bool threaded = parallel.ThreadCount() > 1 && panels > group &&
                              uint64_t{width} * width * count >= kThreadedProducts;
        f.parallel = &parallel;
        if (threaded) f.units = Units(rowCount, panels, nb, group, parallel.ThreadCount());
        f.open = threaded && parallel.Begin(f.units.size(), f.body);
        if (!f.open) {
            // One thread: chunk after chunk, every panel against each row block while its values are in
            // the first-level cache (quicker alone than group by group).
            for (size_t k = 0; k < f.chunks; ++k) {
                FoldPass part = f.pass;
                part.panels = f.pass.panels + k * f.chunkValues;
                part.patterns = std::min(f.chunk, f.patterns - k * f.chunk);
                f.level->fold(part, 0, panels);
            }
        }
    }
}

void MirrorUpper(RowMatrix& matrix, const Parallel& parallel) {
    // In square blocks, so that the column reads stay within a few cache lines per row.
    constexpr size_t kSide = 32;
    const size_t rows = matrix.Rows();
    const size_t blocks = (rows + kSide - 1) / kSide;
    // Rows of blocks share out unevenly (the triangle), but this is a small part of the work.
    parallel.Run(blocks, std::max<size_t>(1, 4096 / (rows + 1)), [&](size_t begin, size_t end) {
        for (size_t jb = begin; jb < end; ++jb) {
            const size_t j0 = jb * kSide, j1 = std::min(rows, j0 + kSide);
            for (size_t k0 = 0; k0 < j1; k0 += kSide) {
                for (size_t j = j0; j < j1; ++j) {
                    double* row = matrix.Row(j);
                    const size_t k1 = std::min(j, k0 + kSide);
                    for (size_t k = k0; k < k1; ++k) row[k] = matrix.Row(k)[j];
                }
            }
        }
    });
}

void FoldedMatrix::Resize(size_t rows, size_t columns) {
    m_Folder.Finish();
    m_LowerStale = false;
    m_Matrix.Resize(rows, columns);
}

void FoldedMatrix::Fold(const std::vector<SolverPattern>& rows, size_t n, bool threshold) {
    std::vector<PatternView> fitting;
    fitting.reserve(rows.size());
    for (const SolverPattern& row : rows) {
        if (row.values.size() == n) fitting.push_back({row.values.data(), row.target});
    }
    Fold(fitting, n, threshold);
}

void FoldedMatrix::Fold(const std::vector<PatternView>& rows, size_t n, bool threshold) {
    if (rows.empty()) return;
    m_Folder.Add(m_Matrix, rows, n, threshold, m_Parallel);
    m_LowerStale = true;
}

RowMatrix& FoldedMatrix::Synced() const {
    m_Folder.Finish();
    if (m_LowerStale) {
        MirrorUpper(m_Matrix, m_Parallel);
        m_LowerStale = false;
    }
    return m_Matrix;
}

void FoldedMatrix::AddToDiagonal(size_t count, double ridge) {
    if (ridge == 0) return;
    Synced().AddToDiagonal(count, ridge);
}

void FoldedMatrix::Replace(const RowMatrix& matrix) {
    m_Folder.Finish();  // nothing may still fold into the matrix being replaced
    m_Matrix = matrix;
    m_LowerStale = false;
}

void FoldedMatrix::SetLastColumn(const Vector& column) {
    Synced().SetLastColumn(column);
}

void FoldedMatrix::SetThreadCount(unsigned threads) {
    m_Folder.Finish();
    m_Parallel = Parallel(threads);
}

}  // namespace rcnet
