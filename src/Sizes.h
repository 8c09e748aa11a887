// Sizes made from counts. On a 32-bit target the product of two counts a host can reach (65,536 neurons
// squared, say) wraps past size_t, and a wrapped size allocates a small array that is then written far
// past its end. Every array size and offset computed from counts goes through these: a size that does not
// fit size_t is out of memory (std::bad_alloc, which the export frame reports), never a smaller array.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

namespace rcnet {

constexpr size_t kSizeMax = std::numeric_limits<size_t>::max();

// a + b, or std::bad_alloc when it does not fit size_t.
inline size_t SizeSum(size_t a, size_t b) {
    if (a > kSizeMax - b) throw std::bad_alloc();
    return a + b;
}

// a * b, or std::bad_alloc when it does not fit size_t.
inline size_t SizeProduct(size_t a, size_t b) {
    if (b != 0 && a > kSizeMax / b) throw std::bad_alloc();
    return a * b;
}

// m (m + 1) / 2, the entries of a triangle of side m, or std::bad_alloc. Checking m (m + 1) whole also
// covers every column offset j (2m + 1 - j) / 2 computed inside such a triangle.
inline size_t TriangleSize(size_t m) {
    return SizeProduct(m, SizeSum(m, 1)) / 2;
}

}  // namespace rcnet
