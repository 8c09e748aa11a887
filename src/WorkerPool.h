// A few threads that split one loop's iterations between them, many times in a row with little
// overhead: the elimination runs one such loop per pivot. The caller's thread takes a share too.
// Results never depend on the number of threads: each iteration is done by exactly one thread and
// iterations share no output.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace rcnet {

class WorkerPool {
public:
    // threads counts the caller; 0 means one per processor. Workers start on the first parallel Run.
    explicit WorkerPool(unsigned threads = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned ThreadCount() const { return m_Threads; }

    // Calls body(begin, end) on disjoint ranges that cover [0, count), and returns when all are done.
    // Below minPerThread iterations per thread the caller does everything alone.
    void Run(size_t count, size_t minPerThread, const std::function<void(size_t, size_t)>& body);

private:
    void Start();
    void Work(unsigned worker);
    void RunShare(unsigned part, unsigned parts);

    unsigned m_Threads;
    std::vector<std::thread> m_Workers;
    std::atomic<uint64_t> m_Generation{0};
    std::atomic<unsigned> m_Pending{0};
    std::atomic<bool> m_Stop{false};
    // The job of the current generation; written before the generation is published.
    const std::function<void(size_t, size_t)>* m_Body = nullptr;
    size_t m_Count = 0;
    unsigned m_Parts = 1;
};

}  // namespace rcnet
