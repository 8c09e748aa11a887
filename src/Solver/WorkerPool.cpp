#include "src/Solver/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <thread>

#include "platform/Threads.h"

namespace rcnet {
namespace {

constexpr unsigned kMaxThreads = 64;
// After a loop, workers keep polling this long before they sleep: pivots follow each other within
// microseconds.
constexpr auto kSpin = std::chrono::microseconds(100);
// Sleepers look at the job word again after this long, whether woken or not.
constexpr unsigned kIdleMilliseconds = 250;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The job word: generation (32 bits), parts (16), next unclaimed part (16). Claims are made by
// compare-and-swap on the whole word, so a thread that saw an older job can never claim a part of a
// newer one.
constexpr uint32_t Generation(uint64_t word) {
    return static_cast<uint32_t>(word >> 32);
}
constexpr unsigned PartCount(uint64_t word) {
    return static_cast<unsigned>(word >> 16) & 0xffff;
}
constexpr unsigned Next(uint64_t word) {
    return static_cast<unsigned>(word) & 0xffff;
}
constexpr uint64_t Word(uint32_t generation, unsigned parts, unsigned next) {
    return (uint64_t{generation} << 32) | (uint64_t{parts} << 16) | next;
}

class Pool {
public:
    // Never destroyed (threads may still use it while static objects are destroyed), and not on the
    // heap, so that nothing is left behind once the library is unloaded.
    static Pool& Get() {
        alignas(Pool) static unsigned char storage[sizeof(Pool)];
        static Pool* const pool = new (storage) Pool;
        return *pool;
    }

    void Run(size_t count, unsigned parts, const LoopBody& body);
    // Run's two halves: publish the job for up to `threads` threads (false when the pool is taken or
    // there is one part or thread), then take the parts left and wait. Only the thread that began a
    // job finishes it.
    bool Begin(size_t count, unsigned parts, unsigned threads, const LoopBody& body);
    void Finish();
    void Shutdown();
    // Stops and joins the workers unless a loop is running (its caller's call releases them then).
    void Release();
    unsigned Live() const { return m_Live.load(std::memory_order_acquire); }

private:
    static void WorkerMain(void* self) { static_cast<Pool*>(self)->Work(); }
    void Work();
    // Runs unclaimed parts of job `generation` until none is left.
    void Claim(uint32_t generation);
    // Waits for a job newer than seen; false when the worker should leave.
    bool WaitForJob(uint32_t seen, uint32_t& generation);
    void StartWorkers(unsigned wanted);

    // The current job: written by the thread holding m_Busy before the job word is published, and
    // unchanged until every part is done.
    const LoopBody* m_Body = nullptr;
    size_t m_Count = 0;
    unsigned m_PartCount = 0;
    uint32_t m_Generation = 0;
    std::atomic<uint64_t> m_Job{0};
    std::atomic<unsigned> m_Done{0};

    std::atomic<bool> m_Busy{false};
    std::atomic<bool> m_Stop{false};
    std::atomic<unsigned> m_Live{0};
    std::atomic<unsigned> m_Sleepers{0};
    platform::Wakeup m_Wakeup;
};

void Pool::Claim(uint32_t generation) {
    for (;;) {
        uint64_t word = m_Job.load(std::memory_order_acquire);
        if (Generation(word) != generation || Next(word) >= PartCount(word)) return;
        if (!m_Job.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel)) continue;
        const uint64_t parts = PartCount(word), part = Next(word);
        const size_t begin = static_cast<size_t>(m_Count * part / parts);
        const size_t end = static_cast<size_t>(m_Count * (part + 1) / parts);
        if (begin < end) (*m_Body)(begin, end);
        m_Done.fetch_add(1, std::memory_order_acq_rel);
    }
}

bool Pool::WaitForJob(uint32_t seen, uint32_t& generation) {
    const auto spinEnd = std::chrono::steady_clock::now() + kSpin;
    for (unsigned spins = 0;; ++spins) {
        generation = Generation(m_Job.load(std::memory_order_acquire));
        if (m_Stop.load(std::memory_order_acquire)) return false;
        if (generation != seen) return true;
        Pause();
        if (spins % 64 == 63 && std::chrono::steady_clock::now() > spinEnd) break;
    }
    for (;;) {
        // Counted as a sleeper before the last look at the job word: a publisher either sees the count
        // and wakes us, or we see its job.
        m_Sleepers.fetch_add(1, std::memory_order_seq_cst);
        const uint32_t token = m_Wakeup.Count();
        generation = Generation(m_Job.load(std::memory_order_seq_cst));
        if (generation == seen && !m_Stop.load(std::memory_order_seq_cst))
            m_Wakeup.Sleep(token, kIdleMilliseconds);
        m_Sleepers.fetch_sub(1, std::memory_order_seq_cst);
        generation = Generation(m_Job.load(std::memory_order_acquire));
        if (m_Stop.load(std::memory_order_acquire)) return false;
        if (generation != seen) return true;
    }
}

void Pool::Work() {
    uint32_t seen = 0, generation = 0;
    while (WaitForJob(seen, generation)) {
        seen = generation;
        Claim(generation);
    }
    m_Live.fetch_sub(1, std::memory_order_acq_rel);
}

void Pool::StartWorkers(unsigned wanted) {
    // Only the thread holding m_Busy starts workers.
    while (m_Live.load(std::memory_order_acquire) < wanted) {
        m_Live.fetch_add(1, std::memory_order_acq_rel);
        if (!platform::StartThread(&Pool::WorkerMain, this)) {
            m_Live.fetch_sub(1, std::memory_order_acq_rel);
            return;  // fewer threads than asked for: the caller claims the parts left over
        }
    }
}

bool Pool::Begin(size_t count, unsigned parts, unsigned threads, const LoopBody& body) {
    bool idle = false;
    if (parts <= 1 || threads <= 1 || m_Stop.load(std::memory_order_acquire) ||
        !m_Busy.compare_exchange_strong(idle, true, std::memory_order_acquire))
        return false;
    StartWorkers(std::min(parts, threads) - 1);
    m_Body = &body;
    m_Count = count;
    m_PartCount = parts;
    m_Done.store(0, std::memory_order_relaxed);
    m_Generation = Generation(m_Job.load(std::memory_order_relaxed)) + 1;
    m_Job.store(Word(m_Generation, parts, 0), std::memory_order_seq_cst);
    if (m_Sleepers.load(std::memory_order_seq_cst) > 0) m_Wakeup.WakeAll();
    return true;
}

void Pool::Finish() {
    Claim(m_Generation);
    // Every part is claimed now; wait for the workers' ones to finish.
    for (unsigned spins = 0; m_Done.load(std::memory_order_acquire) != m_PartCount; ++spins) {
        if (spins < 100000) {
            Pause();
        } else {
            std::this_thread::yield();
        }
    }
    m_Busy.store(false, std::memory_order_release);
}

void Pool::Run(size_t count, unsigned parts, const LoopBody& body) {
    if (!Begin(count, parts, parts, body)) {
        body(0, count);
        return;
    }
    Finish();
}

void Pool::Shutdown() {
    m_Stop.store(true, std::memory_order_seq_cst);
    m_Wakeup.WakeAll();
    platform::JoinThreads();
}

void Pool::Release() {
    bool idle = false;
    if (Live() == 0 || !m_Busy.compare_exchange_strong(idle, true, std::memory_order_acquire)) return;
    m_Stop.store(true, std::memory_order_seq_cst);
    m_Wakeup.WakeAll();
    platform::JoinThreads();
    m_Stop.store(false, std::memory_order_seq_cst);
    m_Busy.store(false, std::memory_order_release);
}

// Where threads live on between calls, they are stopped and joined when the library's static objects go
// (dlclose or exit), so none is left running the library's code after it is unmapped.
struct StopWorkersAtUnload {
    ~StopWorkersAtUnload() {
        if (!platform::kThreadsEndWithCall) Pool::Get().Shutdown();
    }
} g_StopWorkersAtUnload;

}  // namespace

Parallel::Parallel(unsigned threads)
    : m_Threads(
          std::min(kMaxThreads, threads ? threads : std::max(1u, std::thread::hardware_concurrency()))) {}

void Parallel::Run(size_t count, size_t minPerThread, const LoopBody& body) const {
    if (count == 0) return;
    const size_t useful = std::max<size_t>(1, count / std::max<size_t>(1, minPerThread));
    const unsigned parts = static_cast<unsigned>(std::min<size_t>(m_Threads, useful));
    if (parts <= 1) {
        body(0, count);
        return;
    }
    Pool::Get().Run(count, parts, body);
}

void Parallel::RunEach(size_t count, size_t minPerThread, const LoopBody& body) const {
    if (count == 0) return;
    const size_t useful = std::max<size_t>(1, count / std::max<size_t>(1, minPerThread));
    if (std::min<size_t>(m_Threads, useful) <= 1 || !Begin(count, body)) {
        body(0, count);
        return;
    }
    Finish();
}

bool Parallel::Begin(size_t count, const LoopBody& body) const {
    return count <= 0xffff && Pool::Get().Begin(count, static_cast<unsigned>(count), m_Threads, body);
}

void Parallel::Finish() const {
    Pool::Get().Finish();
}

namespace pool {
unsigned LiveWorkers() {
    return Pool::Get().Live();
}

void EndOfCall() noexcept {
    if (platform::kThreadsEndWithCall) Pool::Get().Release();
}

void ReleaseWorkers() noexcept {
    Pool::Get().Release();
}
}  // namespace pool

}  // namespace rcnet
