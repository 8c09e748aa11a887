// One pool of worker threads per process, shared by every solver, that splits one loop's iterations
// between threads many times in a row with little overhead (the elimination runs one loop per pivot).
// The caller's thread takes a share too. Results never depend on the number of threads: each iteration
// is done by exactly one thread and iterations share no output.
//
// One loop runs on the pool at a time; a loop started meanwhile by another thread (another network's
// training) or from inside a loop runs on its caller's thread alone. Workers start on the first loop
// that needs them; how they end (with each call, or with the library) is platform/Threads.h's business.
#pragma once

#include <cstddef>
#include <functional>

namespace rcnet {

using LoopBody = std::function<void(size_t, size_t)>;

// How many threads (counting the caller) one user of the pool asks for.
class Parallel {
public:
    // 0: one per processor.
    explicit Parallel(unsigned threads = 0);

    unsigned ThreadCount() const { return m_Threads; }

    // Calls body(begin, end) on disjoint ranges that cover [0, count), at most ThreadCount() of them,
    // and returns when all are done. Below minPerThread iterations per thread the caller does everything
    // alone. The ranges are the same whichever threads run them. body must not throw.
    void Run(size_t count, size_t minPerThread, const LoopBody& body) const;

    // Like Run, but each of the count iterations (at most 65535) is a range of its own, taken by
    // whichever thread is free: for iterations of uneven cost, or threads that may be held up.
    void RunEach(size_t count, size_t minPerThread, const LoopBody& body) const;

    // Starts body on the workers and returns at once, each of the count iterations (at most 65535) a
    // range of its own, taken by whichever thread is free; Finish, on the same thread, runs the
    // iterations left and waits for all. False when nothing was started (one thread, or the pool taken
    // by another loop): the caller runs body itself then. body must live until Finish returns; the
    // pool is taken until then.
    bool Begin(size_t count, const LoopBody& body) const;
    void Finish() const;

private:
    unsigned m_Threads;
};

namespace pool {
// Worker threads running now (not counting callers).
unsigned LiveWorkers();

// Where the platform ends the workers with each call (platform/Threads.h: Windows), stops and joins
// them; every export's frame calls it before returning. Elsewhere nothing.
void EndOfCall() noexcept;

// Stops and joins the workers now, on any platform, unless a loop is running; later loops start new ones.
void ReleaseWorkers() noexcept;
}  // namespace pool

}  // namespace rcnet
