// The process-wide registry: host-chosen ids to networks. Lookups hand out counted references, so a
// network unregistered during another thread's call lives until that call drops its reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/RWLock.h"
#include "src/Net.h"

namespace rcnet {

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

    // An empty reference (after a report) when id is not registered.
    std::shared_ptr<Net> GetNet(int32_t id) const;

    size_t Count() const;

    NetManager(const NetManager&) = delete;
    NetManager& operator=(const NetManager&) = delete;

private:
    NetManager() = default;
    static void Teardown() noexcept;

    std::map<int32_t, std::shared_ptr<Net>> m_Nets;
    mutable platform::RWLock m_Lock;
};

}  // namespace rcnet
