#include "src/WorkerPool.h"

#include <algorithm>

namespace rcnet {

WorkerPool::WorkerPool(unsigned threads)
    : m_Threads(threads ? threads : std::max(1u, std::thread::hardware_concurrency())) {}

WorkerPool::~WorkerPool() {
    m_Stop.store(true, std::memory_order_release);
    m_Generation.fetch_add(1, std::memory_order_acq_rel);
    for (std::thread& worker : m_Workers) worker.join();
}

void WorkerPool::Start() {
    for (unsigned w = 1; w < m_Threads; ++w) {
        try {
            m_Workers.emplace_back(&WorkerPool::Work, this, w);
        } catch (...) {
            break;  // fewer threads than asked for: the work still gets done
        }
    }
    m_Threads = static_cast<unsigned>(m_Workers.size()) + 1;
}

void WorkerPool::RunShare(unsigned part, unsigned parts) {
    const size_t begin = m_Count * part / parts;
    const size_t end = m_Count * (part + 1) / parts;
    if (begin < end) (*m_Body)(begin, end);
}

void WorkerPool::Work(unsigned worker) {
    uint64_t seen = 0;
    for (;;) {
        uint64_t generation;
        // Spin briefly, then yield: pivots follow each other within microseconds.
        for (int spins = 0; (generation = m_Generation.load(std::memory_order_acquire)) == seen; ++spins) {
            if (spins > 64) std::this_thread::yield();
        }
        seen = generation;
        if (m_Stop.load(std::memory_order_acquire)) return;
        if (worker < m_Parts) RunShare(worker, m_Parts);
        m_Pending.fetch_sub(1, std::memory_order_acq_rel);
    }
}

void WorkerPool::Run(size_t count, size_t minPerThread, const std::function<void(size_t, size_t)>& body) {
    if (count == 0) return;
    const size_t useful = std::max<size_t>(1, count / std::max<size_t>(1, minPerThread));
    if (m_Threads <= 1 || useful <= 1) {
        body(0, count);
        return;
    }
    if (m_Workers.empty()) Start();
    if (m_Workers.empty()) {
        body(0, count);
        return;
    }
    m_Body = &body;
    m_Count = count;
    m_Parts = static_cast<unsigned>(std::min<size_t>(m_Threads, useful));
    m_Pending.store(static_cast<unsigned>(m_Workers.size()), std::memory_order_relaxed);
    m_Generation.fetch_add(1, std::memory_order_acq_rel);
    RunShare(0, m_Parts);
    for (int spins = 0; m_Pending.load(std::memory_order_acquire) != 0; ++spins) {
        if (spins > 64) std::this_thread::yield();
    }
}

}  // namespace rcnet
