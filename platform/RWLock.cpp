#include "platform/RWLock.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace rcnet::platform {
namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK must fit the storage reserved for it");
PSRWLOCK Srw(void** storage) {
    return reinterpret_cast<PSRWLOCK>(storage);
}
}  // namespace

void RWLock::lock() noexcept {
    AcquireSRWLockExclusive(Srw(&m_Srw));
}
void RWLock::unlock() noexcept {
    ReleaseSRWLockExclusive(Srw(&m_Srw));
}
void RWLock::lock_shared() noexcept {
    AcquireSRWLockShared(Srw(&m_Srw));
}
void RWLock::unlock_shared() noexcept {
    ReleaseSRWLockShared(Srw(&m_Srw));
}

}  // namespace rcnet::platform

#else

namespace rcnet::platform {

// std::shared_mutex only throws for resource exhaustion or deadlock, neither of which the registry's
// strictly nested use can produce.
void RWLock::lock() noexcept {
    m_Mutex.lock();
}
void RWLock::unlock() noexcept {
    m_Mutex.unlock();
}
void RWLock::lock_shared() noexcept {
    m_Mutex.lock_shared();
}
void RWLock::unlock_shared() noexcept {
    m_Mutex.unlock_shared();
}

}  // namespace rcnet::platform

#endif
