#include "src/Solver/Fold.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "src/kernels/Cpu.h"

namespace rcnet {
namespace {

// The product matrix is computed in MR x NB tiles held in registers while a chunk of patterns streams
// through, as a matrix-multiply kernel does. Each chunk's values are first packed into panels of NB
// columns, pattern after pattern, so the kernel reads them contiguously; a tile's MR rows are read from
// the same panels (MR divides NB). Every entry still receives its products one pattern at a time in list
// order, starting from the value it had, with a separate multiply and add: the same bits as folding
// pattern by pattern, whatever the vector width.
constexpr size_t kChunk = 256;              // patterns per pass at most
constexpr size_t kGroupBytes = 384 * 1024;  // column panels a thread takes at a time: about a third of L2

// One chunk's packed panels and where its products go.
struct Pass {
    double* const* rows;  // the matrix's rows in row order (Solve may have exchanged them)
    size_t rowCount;      // rows that receive products
    size_t n;             // columns
    const double* panels;
    size_t patterns;     // in this chunk
    size_t panelStride;  // doubles from one panel to the next
};

template <size_t NB>
inline const double* Panel(const Pass& pass, size_t column) {
    return pass.panels + column / NB * pass.panelStride + column % NB;
}

// c[r][k0 + k] += a_p[r] * b_p[k] for the chunk's patterns p in order; a and b advance NB values per
// pattern. Always inlined, so that each caller built for a wider instruction set gets its own vector code.
template <typename V, size_t MR, size_t NV>
__attribute__((always_inline)) inline void Kernel(double* const* c, size_t k0, const double* a,
                                                  const double* b, size_t patterns) {
    constexpr size_t W = sizeof(V) / sizeof(double);
    constexpr size_t NB = NV * W;
    V acc[MR][NV];
#pragma GCC unroll 8
    for (size_t r = 0; r < MR; ++r)
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) std::memcpy(&acc[r][v], c[r] + k0 + v * W, sizeof(V));
#if !defined(__x86_64__)
// Two patterns per turn: in 32-bit code the loop control is a fair share of the few instructions.
#pragma GCC unroll 2
#endif
    for (size_t p = 0; p < patterns; ++p, a += NB, b += NB) {
        V bv[NV];
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) std::memcpy(&bv[v], b + v * W, sizeof(V));
#pragma GCC unroll 8
        for (size_t r = 0; r < MR; ++r) {
            const double ar = a[r];  // broadcast by the vector-scalar product
#pragma GCC unroll 4
            for (size_t v = 0; v < NV; ++v) acc[r][v] = acc[r][v] + bv[v] * ar;
        }
    }
#pragma GCC unroll 8
    for (size_t r = 0; r < MR; ++r)
#pragma GCC unroll 4
        for (size_t v = 0; v < NV; ++v) std::memcpy(c[r] + k0 + v * W, &acc[r][v], sizeof(V));
}

// The tiles of every row block against column panels [g0, g1): one group, whose panels stay in the
// second-level cache while the row blocks pass. Only the upper triangle (k >= j) is written; tiles that
// reach below it or past n go through a copy.
template <typename V, size_t MR, size_t NV>
__attribute__((always_inline)) inline void FoldGroup(const Pass& pass, size_t g0, size_t g1) {
    constexpr size_t NB = NV * (sizeof(V) / sizeof(double));
    const size_t n = pass.n, rowCount = pass.rowCount;
    for (size_t j0 = 0; j0 < rowCount && j0 < g1 * NB; j0 += MR) {
        const double* a = Panel<NB>(pass, j0);
        for (size_t q = std::max(g0, j0 / NB); q < g1; ++q) {
            const size_t k0 = q * NB;
            const double* b = pass.panels + q * pass.panelStride;
            double* const* c = pass.rows + j0;
            if (k0 + 1 >= j0 + MR && k0 + NB <= n && j0 + MR <= rowCount) {
                Kernel<V, MR, NV>(c, k0, a, b, pass.patterns);
                continue;
            }
            const size_t rows = std::min(MR, rowCount - j0), columns = std::min(NB, n - k0);
            double tile[MR][NB] = {};
            double* tileRows[MR];
            for (size_t r = 0; r < MR; ++r) tileRows[r] = tile[r];
            for (size_t r = 0; r < rows; ++r)
                for (size_t k = 0; k < columns; ++k) tile[r][k] = c[r][k0 + k];
            Kernel<V, MR, NV>(tileRows, 0, a, b, pass.patterns);
            for (size_t r = 0; r < rows; ++r)
                for (size_t k = j0 + r > k0 ? j0 + r - k0 : 0; k < columns; ++k) c[r][k0 + k] = tile[r][k];
        }
    }
}

typedef double V2 __attribute__((vector_size(16)));
#if defined(__x86_64__) || defined(__i386__)
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));
#endif

// Tile shapes: as many accumulators as the registers hold (16 or 32 in 64-bit code, 8 in 32-bit code),
// with the B values and one product beside them.
#if defined(__x86_64__)
constexpr size_t kBaseRows = 4, kBaseVectors = 2;      // 4 x 4
constexpr size_t kAvx2Rows = 4, kAvx2Vectors = 2;      // 4 x 8
constexpr size_t kAvx512Rows = 8, kAvx512Vectors = 3;  // 8 x 24
#else
constexpr size_t kBaseRows = 2, kBaseVectors = 2;      // 2 x 4
constexpr size_t kAvx2Rows = 4, kAvx2Vectors = 1;      // 4 x 4
constexpr size_t kAvx512Rows = 4, kAvx512Vectors = 1;  // 4 x 8
#endif

struct Shape {
    size_t rows;     // MR
    size_t columns;  // NB
    void (*fold)(const Pass&, size_t, size_t);
};

void FoldBaseline(const Pass& pass, size_t g0, size_t g1) {
    FoldGroup<V2, kBaseRows, kBaseVectors>(pass, g0, g1);
}
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void FoldAvx2(const Pass& pass, size_t g0, size_t g1) {
    FoldGroup<V4, kAvx2Rows, kAvx2Vectors>(pass, g0, g1);
}
__attribute__((target("avx512f"))) void FoldAvx512(const Pass& pass, size_t g0, size_t g1) {
    FoldGroup<V8, kAvx512Rows, kAvx512Vectors>(pass, g0, g1);
}
#endif

Shape PickShape() {
#if defined(__x86_64__) || defined(__i386__)
    switch (cpu::Active()) {
        case cpu::Level::Avx512:
            return {kAvx512Rows, kAvx512Vectors * 8, &FoldAvx512};
        case cpu::Level::Avx2:
            return {kAvx2Rows, kAvx2Vectors * 4, &FoldAvx2};
        default:
            break;
    }
#endif
    return {kBaseRows, kBaseVectors * 2, &FoldBaseline};
}

// Values packed per batch at most (2 MiB, about one chunk of W): a batch is packed by all threads and
// folded while it is still in the caches; larger calls go in several batches.
constexpr size_t kBatchValues = size_t{1} << 18;

// Below this many products per batch one thread is quicker than waking another.
constexpr size_t kThreadedProducts = 64 * 64 * 256;

}  // namespace

struct Folder::Flight {
    std::vector<double> storage;  // the packed batch
    bool open = false;            // a batch is on the pool
    const Parallel* parallel = nullptr;

    // The batch being folded.
    Shape shape{};
    Pass pass{};
    size_t chunks = 0, chunk = 0, patterns = 0, chunkValues = 0;
    size_t panels = 0, group = 0, groups = 0;
    std::vector<double*> rows;
    LoopBody body;

    // Groups of column panels, each against every chunk in order: the last (most rows) first, so that
    // the threads finish together.
    void FoldGroups(size_t begin, size_t end) const {
        for (size_t u = begin; u < end; ++u) {
            const size_t g0 = (groups - 1 - u) * group, g1 = std::min(panels, g0 + group);
            for (size_t k = 0; k < chunks; ++k) {
                Pass part = pass;
                part.panels = pass.panels + k * chunkValues;
                part.patterns = std::min(chunk, patterns - k * chunk);
                shape.fold(part, g0, g1);
            }
        }
    }
};

Folder::Folder() : m_Flight(std::make_unique<Flight>()) {
    m_Flight->body = [flight = m_Flight.get()](size_t begin, size_t end) { flight->FoldGroups(begin, end); };
}

Folder::~Folder() {
    Finish();
}

void Folder::Finish() {
    if (!m_Flight->open) return;
    m_Flight->parallel->Finish();
    m_Flight->open = false;
}

void Folder::Add(RowMatrix& matrix, const std::vector<const SolverPattern*>& patterns, size_t n,
                 bool threshold, const Parallel& parallel) {
    const size_t width = matrix.Columns(), rowCount = matrix.Rows();
    if (patterns.empty() || rowCount == 0 || width != n + (threshold ? 2 : 1) || rowCount + 1 != width)
        return;
    Flight& f = *m_Flight;
    const Shape shape = PickShape();
    const size_t nb = shape.columns;
    const size_t panels = (width + nb - 1) / nb;
    // Even batches, as for the chunks.
    const size_t most = std::max<size_t>(1, kBatchValues / (panels * nb));
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
        if (f.storage.size() < chunks * chunkValues + 8) f.storage.resize(chunks * chunkValues + 8);
        double* base = f.storage.data();
        while (reinterpret_cast<uintptr_t>(base) % 64) ++base;
        // Packing costs one copy per value against about n products per value: worth threads only for
        // long rows.
        parallel.Run(count, std::max<size_t>(1, 16384 / width), [&](size_t begin, size_t end) {
            for (size_t p = begin; p < end; ++p) {
                const SolverPattern& pattern = *patterns[first + p];
                double* chunkBase = base + p / chunk * chunkValues;
                const size_t offset = p % chunk * nb;
                const double* v = pattern.values.data();
                for (size_t q = 0; q < panels; ++q) {
                    double* out = chunkBase + q * panelStride + offset;
                    const size_t k0 = q * nb, stop = std::min(nb, n > k0 ? n - k0 : 0);
                    if (stop) std::memcpy(out, v + k0, stop * sizeof(double));
                    for (size_t k = stop; k < nb; ++k) out[k] = 0.0;
                }
                chunkBase[n / nb * panelStride + offset + n % nb] = threshold ? 1.0 : pattern.target;
                if (threshold) chunkBase[(n + 1) / nb * panelStride + offset + (n + 1) % nb] = pattern.target;
            }
        });

        f.shape = shape;
        f.rows.resize(rowCount);
        for (size_t j = 0; j < rowCount; ++j) f.rows[j] = matrix.Row(j);
        f.pass = Pass{f.rows.data(), rowCount, width, base, 0, panelStride};
        f.chunks = chunks;
        f.chunk = chunk;
        f.patterns = count;
        f.chunkValues = chunkValues;
        // Column groups whose panels fill about a third of the second-level cache: they are the units
        // the threads take, each entry in exactly one.
        f.panels = panels;
        f.group = std::max<size_t>(1, kGroupBytes / (chunk * nb * sizeof(double)));
        f.groups = (panels + f.group - 1) / f.group;
        const bool threaded =
            parallel.ThreadCount() > 1 && f.groups > 1 && width * width * count >= kThreadedProducts;
        f.parallel = &parallel;
        f.open = threaded && parallel.Begin(f.groups, f.body);
        if (!f.open) {
            // One thread: chunk after chunk, every panel against each row block while its values are in
            // the first-level cache (quicker alone than group by group).
            for (size_t k = 0; k < f.chunks; ++k) {
                Pass part = f.pass;
                part.panels = f.pass.panels + k * f.chunkValues;
                part.patterns = std::min(f.chunk, f.patterns - k * f.chunk);
                f.shape.fold(part, 0, f.panels);
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

}  // namespace rcnet
