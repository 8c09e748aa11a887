// The process-wide registry: host-chosen ids to networks. Lookups hand out counted references, so a
// network unregistered during another thread's call lives until that call drops its reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/RWLock.h"
#include "src/Net.h"

#include <mutex>
#include <utility>

namespace rcnet {

// A registered network and the lock its calls take.
struct NetEntry {
    template <typename... Args>
    explicit NetEntry(Args&&... args) : net(std::forward<Args>(args)...) {}
    platform::RWLock calls;
    Net net;
};

// A network held for one call: alive, and no other call on it runs, until this is destroyed. Empty when
// the id was not registered.
class NetInUse {
public:
    explicit NetInUse(std::shared_ptr<NetEntry> entry) : m_Entry(std::move(entry)) {
        if (m_Entry) m_Guard = std::unique_lock<platform::RWLock>(m_Entry->calls);
    }
    explicit operator bool() const { return m_Entry != nullptr; }
    Net& operator*() const { return m_Entry->net; }
    Net* operator->() const { return &m_Entry->net; }

private:
    std::shared_ptr<NetEntry> m_Entry;  // declared first: the lock is released before the reference
    std::unique_lock<platform::RWLock> m_Guard;
};

class NetManager {
public:
    // The single registry, made on first use (safe against concurrent first calls). Its teardown runs
    // from the C runtime's exit list at unload or process end.
    static NetManager& Instance();

    // Whether Instance() has ever made the registry.
    static bool IsCreated() noexcept;

    // False (after a report) when id is already registered; the registered network is untouched.
    bool RegisterNet(int32_t id, uint32_t inSize, uint32_t outSize, bool useThreshold);

    // Returns the number of entries removed, 0 or 1.
    size_t UnregisterNet(int32_t id) noexcept;

    // An empty reference (after a report) when id is not registered. Takes no lock: for a caller that
    // is the network's only user.
    std::shared_ptr<Net> GetNet(int32_t id) const;
    // The network of id for one call, locked against every other call on it (empty, after a report,
    // when id is not registered): two threads on one id take turns instead of corrupting it.
    NetInUse Use(int32_t id) const { return NetInUse(Find(id)); }

    size_t Count() const;

    NetManager(const NetManager&) = delete;
    NetManager& operator=(const NetManager&) = delete;

private:
    NetManager() = default;
    static void Teardown() noexcept;

    std::shared_ptr<NetEntry> Find(int32_t id) const;

    std::map<int32_t, std::shared_ptr<NetEntry>> m_Nets;
    mutable platform::RWLock m_Lock;
};

}  // namespace rcnet
