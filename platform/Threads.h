// The worker pool's threads: how the platform starts them, lets them sleep until woken, and makes sure
// none is still running library code once the library is unloaded.
//
// Linux: the threads are joined when the library's static objects are destroyed (dlclose or exit).
// Windows: a DLL cannot wait for threads while it is being unloaded (the loader lock is held, and the
// threads need it to leave), so each thread holds a reference to the DLL, keeping it loaded, and drops
// it with FreeLibraryAndExitThread after a while with nothing to do; a host's FreeLibrary then unloads
// the DLL when the last idle thread leaves.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace rcnet::platform {

// Whether idle threads should leave after a while (they keep the library loaded until they do).
#ifdef _WIN32
constexpr bool kIdleThreadsLeave = true;
#else
constexpr bool kIdleThreadsLeave = false;
#endif

// The name the worker threads carry where the platform names threads (Linux).
constexpr char kWorkerName[] = "rcnet-worker";

// Starts a thread running main(arg); false when none could be started.
bool StartThread(void (*main)(void*), void* arg) noexcept;

// Waits until every thread started has returned from main. Linux only: on Windows threads leave by
// themselves (see above) and this returns at once.
void JoinThreads() noexcept;

// A counter that threads sleep on until it moves.
class Wakeup {
public:
    Wakeup() = default;
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    uint32_t Count() noexcept;
    // Moves the counter and wakes every sleeper.
    void WakeAll() noexcept;
    // Sleeps while the counter still reads seen, at most ms milliseconds; false when the time ran out.
    bool Sleep(uint32_t seen, unsigned ms) noexcept;

private:
    uint32_t m_Count = 0;
#ifdef _WIN32
    void* m_Srw = nullptr;        // SRWLOCK
    void* m_Condition = nullptr;  // CONDITION_VARIABLE
#else
    std::mutex m_Mutex;
    std::condition_variable m_Condition;
#endif
};

}  // namespace rcnet::platform
