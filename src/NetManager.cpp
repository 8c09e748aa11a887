#include "src/NetManager.h"

#include <atomic>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <utility>

#include "src/Report.h"

namespace rcnet {
namespace {
constexpr char kReportSource[] = "NetManager";

std::atomic<bool> s_Created{false};

// The registry lives in static storage and is never destroyed: teardown only empties it, so a call that
// arrives after the exit list ran (a host thread still running at process end) finds an empty registry
// instead of a destroyed one.
alignas(NetManager) unsigned char s_Storage[sizeof(NetManager)];
}  // namespace

NetManager& NetManager::Instance() {
    // The teardown rides on a function-local static's destructor rather than a bare atexit(): the C++
    // runtime ties it to this module, so it also runs when a host unloads the library (dlclose,
    // FreeLibrary) and never after the code is gone.
    struct TeardownAtExit {
        ~TeardownAtExit() { NetManager::Teardown(); }
    };
    static NetManager* const instance = [] {
        NetManager* registry = new (s_Storage) NetManager();
        s_Created.store(true, std::memory_order_release);
        return registry;
    }();
    static TeardownAtExit teardown;
    return *instance;
}

bool NetManager::IsCreated() noexcept {
    return s_Created.load(std::memory_order_acquire);
}

void NetManager::Teardown() noexcept {
    NetManager& registry = *std::launder(reinterpret_cast<NetManager*>(s_Storage));
    std::map<int32_t, std::shared_ptr<NetEntry>> nets;
    {
        std::unique_lock<platform::RWLock> guard(registry.m_Lock);
        nets = std::move(registry.m_Nets);
        registry.m_Nets.clear();
    }
    // Networks that no running call holds die here, outside the lock.
}

bool NetManager::RegisterNet(int32_t id, uint32_t inSize, uint32_t outSize, bool useThreshold) {
    // The check and the insertion share one exclusive section, so two threads registering the same id
    // at once cannot both be told they succeeded.
    std::unique_lock<platform::RWLock> guard(m_Lock);
    auto it = m_Nets.find(id);
    RC_REQUIRE_AS(RCNET_REPORT_ID_TAKEN, it == m_Nets.end(), false);
    // make_shared or the insertion may throw bad_alloc: the map is then unchanged and the guard
    // releases the lock.
    m_Nets.emplace_hint(it, id, std::make_shared<NetEntry>(inSize, outSize, useThreshold));
    return true;
}

size_t NetManager::UnregisterNet(int32_t id) noexcept {
    std::shared_ptr<NetEntry> removed;
    {
        std::unique_lock<platform::RWLock> guard(m_Lock);
        auto it = m_Nets.find(id);
        if (it == m_Nets.end()) return 0;
        removed = std::move(it->second);
        m_Nets.erase(it);
    }
    // Destroying a large network takes a while; lookups of other ids need not wait for it.
    return 1;
}

std::shared_ptr<NetEntry> NetManager::Find(int32_t id) const {
    std::shared_lock<platform::RWLock> guard(m_Lock);
    auto it = m_Nets.find(id);
    RC_REQUIRE_AS(RCNET_REPORT_UNKNOWN_ID, it != m_Nets.end(), nullptr);
    return it->second;
}

std::shared_ptr<Net> NetManager::GetNet(int32_t id) const {
    std::shared_ptr<NetEntry> entry = Find(id);
    if (!entry) return nullptr;
    Net* net = &entry->net;
    return std::shared_ptr<Net>(std::move(entry), net);
}

size_t NetManager::Count() const {
    std::shared_lock<platform::RWLock> guard(m_Lock);
    return m_Nets.size();
}

}  // namespace rcnet
