#include "tests/support/FailingAlloc.h"

#include <cstdlib>
#include <new>

namespace {
thread_local long t_Countdown = -1;  // -1: disarmed
thread_local bool t_Fired = false;

void* Allocate(std::size_t size) {
    if (t_Countdown >= 0 && t_Countdown-- == 0) {
        t_Fired = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

namespace rcnet::test {
FailingAlloc::FailingAlloc(long failAt) {
    t_Countdown = failAt;
    t_Fired = false;
}
FailingAlloc::~FailingAlloc() {
    t_Countdown = -1;
}
bool FailingAlloc::Fired() const {
    return t_Fired;
}
}  // namespace rcnet::test

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
// The nothrow forms too (std::stable_sort's buffer): the sanitizers' own would pair with the free below.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
