// The worker pool's threads: how the platform starts them, lets them sleep until woken, and makes sure
// none is still running library code once the library is unloaded.
//
// Linux: the threads are joined when the library's static objects are destroyed (dlclose or exit).
// Windows: a DLL cannot wait for threads while it is being unloaded (the loader lock is held, and the
// threads need it to leave), and a thread still alive holds the DLL loaded (each takes a reference, so
// that it never runs unmapped code). So the threads end with the call that started them: before an
// export returns, the pool's threads are stopped and joined, and a host's FreeLibrary right after it
// really unloads the DLL.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace rcnet::platform {

// Whether the threads end with each export call (else they live until the library is unloaded).
#ifdef _WIN32
constexpr bool kThreadsEndWithCall = true;
#else
constexpr bool kThreadsEndWithCall = false;
#endif

// The name the worker threads carry where the platform names threads (Linux).
constexpr char kWorkerName[] = "rcnet-worker";

// Starts a thread running main(arg); false when none could be started.
bool StartThread(void (*main)(void*), void* arg) noexcept;

// Waits until every thread started has ended (returned from main and, on Windows, dropped its reference
// to the DLL). Never from a DLL's detach: see above.
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
