#include "platform/Threads.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace rcnet::platform {
namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "the lock and condition must fit the storage reserved for them");

struct Start {
    void (*main)(void*);
    void* arg;
    HMODULE library;  // null in a program that has the library linked in
};

DWORD WINAPI ThreadMain(LPVOID param) {
    const Start start = *static_cast<Start*>(param);
    HeapFree(GetProcessHeap(), 0, param);
    start.main(start.arg);
    // Returning would run on in this module's code, which the call below may unload.
    if (start.library) FreeLibraryAndExitThread(start.library, 0);
    return 0;
}

// The threads started and not yet joined: at most the pool's 64 at a time.
constexpr unsigned kMaxThreads = 64;
SRWLOCK g_ThreadsLock = SRWLOCK_INIT;
HANDLE g_Threads[kMaxThreads];
unsigned g_ThreadCount = 0;
}  // namespace

bool StartThread(void (*main)(void*), void* arg) noexcept {
    AcquireSRWLockExclusive(&g_ThreadsLock);
    const bool room = g_ThreadCount < kMaxThreads;
    ReleaseSRWLockExclusive(&g_ThreadsLock);
    if (!room) return false;
    auto* start = static_cast<Start*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Start)));
    if (!start) return false;
    *start = Start{main, arg, nullptr};
    // The reference is taken here, before the host can get control back and unload the DLL.
    HMODULE self = nullptr;
    const auto address = reinterpret_cast<LPCWSTR>(&ThreadMain);
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, address,
            &self) &&
        self != GetModuleHandleW(nullptr)) {
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, address, &start->library)) {
            HeapFree(GetProcessHeap(), 0, start);
            return false;
        }
    }
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, start, 0, nullptr);
    if (!thread) {
        if (start->library) FreeLibrary(start->library);
        HeapFree(GetProcessHeap(), 0, start);
        return false;
    }
    AcquireSRWLockExclusive(&g_ThreadsLock);
    g_Threads[g_ThreadCount++] = thread;
    ReleaseSRWLockExclusive(&g_ThreadsLock);
    return true;
}

void JoinThreads() noexcept {
    HANDLE threads[kMaxThreads];
    AcquireSRWLockExclusive(&g_ThreadsLock);
    const unsigned count = g_ThreadCount;
    for (unsigned i = 0; i < count; ++i) threads[i] = g_Threads[i];
    g_ThreadCount = 0;
    ReleaseSRWLockExclusive(&g_ThreadsLock);
    // Signalled once a thread has ended, after FreeLibraryAndExitThread dropped its reference.
    for (unsigned i = 0; i < count; ++i) {
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
    }
}

uint32_t Wakeup::Count() noexcept {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    const uint32_t count = m_Count;
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    return count;
}

void Wakeup::WakeAll() noexcept {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    ++m_Count;
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&m_Condition));
}

bool Wakeup::Sleep(uint32_t seen, unsigned ms) noexcept {
    const ULONGLONG deadline = GetTickCount64() + ms;
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    bool moved = m_Count != seen;
    while (!moved) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&m_Condition),
                                  reinterpret_cast<PSRWLOCK>(&m_Srw), static_cast<DWORD>(deadline - now), 0);
        moved = m_Count != seen;
    }
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_Srw));
    return moved;
}

}  // namespace rcnet::platform

#else

#include <pthread.h>

#include <chrono>
#include <new>
#include <thread>
#include <vector>

namespace rcnet::platform {
namespace {
std::mutex g_ThreadsLock;
// Never destroyed (JoinThreads may run from static destructors in any order), and not on the heap, so
// that nothing is left behind once the library is unloaded.
std::vector<std::thread>& Threads() {
    alignas(std::vector<std::thread>) static unsigned char storage[sizeof(std::vector<std::thread>)];
    static auto* const threads = new (storage) std::vector<std::thread>;
    return *threads;
}
}  // namespace

bool StartThread(void (*main)(void*), void* arg) noexcept {
    try {
        std::lock_guard<std::mutex> hold(g_ThreadsLock);
        Threads().reserve(Threads().size() + 1);
        Threads().emplace_back([main, arg] {
            // Named, so that a check can tell the library's threads from others (a sanitizer's, say).
            pthread_setname_np(pthread_self(), kWorkerName);
            main(arg);
        });
        return true;
    } catch (...) {
        return false;
    }
}

void JoinThreads() noexcept {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> hold(g_ThreadsLock);
        threads.swap(Threads());
    }
    for (std::thread& thread : threads) thread.join();
}

uint32_t Wakeup::Count() noexcept {
    std::lock_guard<std::mutex> hold(m_Mutex);
    return m_Count;
}

void Wakeup::WakeAll() noexcept {
    {
        std::lock_guard<std::mutex> hold(m_Mutex);
        ++m_Count;
    }
    m_Condition.notify_all();
}

bool Wakeup::Sleep(uint32_t seen, unsigned ms) noexcept {
    std::unique_lock<std::mutex> hold(m_Mutex);
    return m_Condition.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m_Count != seen; });
}

}  // namespace rcnet::platform

#endif
