// Storage whose first element starts on a 64-byte boundary (a cache line): vectors loaded from it at
// offsets that are multiples of their width never straddle two lines. The C libraries give 16 bytes
// at most (8 in 32-bit Windows), and large blocks start just past a page's header.
//
// Large blocks are kept for the next request of the same size instead of going back to the system at
// once: a training asks for the same few blocks at every call, and where the C library hands each
// large block back to the system (wine's heap), every call faulted their pages in again (about 2,600
// page faults, 20 ms of system time a LearnNet on W). At most kKeptBytes are kept, all freed when the
// library is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "src/Sizes.h"

namespace rcnet {

// Doubles from one row to the next so that every row of a block starts on a cache line.
inline size_t CacheLineStride(size_t doubles) {
    return SizeSum(doubles, 7) / 8 * 8;
}

namespace aligned {
// A block of `bytes` (a multiple of 64), 64-byte aligned; throws std::bad_alloc.
void* Allocate(size_t bytes);
void Free(void* block, size_t bytes) noexcept;
// Blocks of at least this many bytes are kept, and at most this many bytes in all.
constexpr size_t kKeptFrom = size_t{1} << 20;
constexpr size_t kKeptBytes = size_t{64} << 20;
// Bytes kept now (tests).
size_t KeptBytes() noexcept;
}  // namespace aligned

template <typename T>
struct CacheLineAllocator {
    using value_type = T;

    CacheLineAllocator() = default;
    template <typename U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}

    T* allocate(size_t n) { return static_cast<T*>(aligned::Allocate(Bytes(n))); }
    void deallocate(T* p, size_t n) noexcept { aligned::Free(p, Bytes(n)); }

    template <typename U>
    bool operator==(const CacheLineAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const CacheLineAllocator<U>&) const {
        return false;
    }

private:
    static size_t Bytes(size_t n) {
        if (n > (SIZE_MAX - 63) / sizeof(T)) throw std::bad_alloc();
        return (n * sizeof(T) + 63) / 64 * 64;
    }
};

template <typename T>
using AlignedVector = std::vector<T, CacheLineAllocator<T>>;

}  // namespace rcnet
