// The registry's reader/writer lock: shared for lookups, exclusive for insertion and removal. On Windows
// an SRW lock (no initialisation or teardown to get wrong), elsewhere std::shared_mutex. The lower-case
// members let std::unique_lock and std::shared_lock drive it.
#pragma once

#ifndef _WIN32
#include <shared_mutex>
#endif

namespace rcnet::platform {

class RWLock {
public:
    RWLock() = default;
    RWLock(const RWLock&) = delete;
    RWLock& operator=(const RWLock&) = delete;

    void lock() noexcept;
    void unlock() noexcept;
    void lock_shared() noexcept;
    void unlock_shared() noexcept;

private:
#ifdef _WIN32
    void* m_Srw = nullptr;  // an SRWLOCK: one pointer wide, SRWLOCK_INIT is all zeros
#else
    std::shared_mutex m_Mutex;
#endif
};

}  // namespace rcnet::platform
