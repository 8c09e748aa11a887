// Makes an allocation fail on purpose: the test binary replaces operator new, and a test arms it to throw
// std::bad_alloc on the k-th allocation made by the calling thread.
#pragma once

#include <cstddef>

namespace rcnet::test {

class FailingAlloc {
public:
    // The allocation numbered failAt (0 = the next one) on this thread throws; later ones succeed.
    explicit FailingAlloc(long failAt);
    ~FailingAlloc();
    FailingAlloc(const FailingAlloc&) = delete;
    FailingAlloc& operator=(const FailingAlloc&) = delete;

    // Whether the armed failure has happened.
    bool Fired() const;
};

// Runs fn with the k-th allocation failing, for k = 0, 1, ... until a run makes no failure happen; calls
// check(k, failed) after each run. Returns the number of allocations fn makes when nothing fails.
template <typename Fn, typename Check>
long ForEachAllocationFailure(Fn&& fn, Check&& check) {
    for (long k = 0;; ++k) {
        bool fired;
        {
            FailingAlloc failing(k);
            fn();
            fired = failing.Fired();
        }
        check(k, fired);
        if (!fired) return k;
    }
}

}  // namespace rcnet::test
