// Storage whose first element starts on a 64-byte boundary (a cache line): vectors loaded from it at
// offsets that are multiples of their width never straddle two lines. The C libraries give 16 bytes
// at most (8 in 32-bit Windows), and large blocks start just past a page's header.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace rcnet {

template <typename T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{64};

    CacheLineAllocator() = default;
    template <typename U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}

    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlignment)); }
    void deallocate(T* p, size_t) noexcept { ::operator delete(p, kAlignment); }

    template <typename U>
    bool operator==(const CacheLineAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const CacheLineAllocator<U>&) const {
        return false;
    }
};

template <typename T>
using AlignedVector = std::vector<T, CacheLineAllocator<T>>;

}  // namespace rcnet
