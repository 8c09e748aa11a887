#include "src/Aligned.h"

#include <mutex>
#include <new>

namespace rcnet::aligned {
namespace {

constexpr std::align_val_t kAlignment{64};
constexpr size_t kSlots = 8;

struct Kept {
    void* block;
    size_t bytes;
    unsigned long long stamp;  // when it was kept: the oldest goes first
};

// Constant-initialised, so usable from any other static object's constructor or destructor.
std::mutex g_Mutex;
Kept g_Kept[kSlots];
size_t g_KeptBytes = 0;
unsigned long long g_Stamp = 0;
bool g_Closed = false;  // the library is going: nothing more is kept

void Release(void* block) noexcept {
    ::operator delete(block, kAlignment);
}

struct ReleaseKeptAtUnload {
    ~ReleaseKeptAtUnload() {
        std::lock_guard<std::mutex> lock(g_Mutex);
        g_Closed = true;
        for (Kept& kept : g_Kept) {
            if (kept.block) Release(kept.block);
            kept = {};
        }
        g_KeptBytes = 0;
    }
} g_ReleaseKeptAtUnload;

}  // namespace

void* Allocate(size_t bytes) {
    if (bytes >= kKeptFrom) {
        std::lock_guard<std::mutex> lock(g_Mutex);
        for (Kept& kept : g_Kept) {
            if (kept.block && kept.bytes == bytes) {
                void* block = kept.block;
                g_KeptBytes -= bytes;
                kept = {};
                return block;
            }
        }
    }
    return ::operator new(bytes, kAlignment);
}

void Free(void* block, size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kKeptFrom || bytes > kKeptBytes) {
        Release(block);
        return;
    }
    void* released[kSlots + 1] = {};
    size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        if (g_Closed) {
            released[count++] = block;
        } else {
            // Room by letting the oldest go, then the first free slot.
            for (;;) {
                Kept* oldest = nullptr;
                bool freeSlot = false;
                for (Kept& kept : g_Kept) {
                    if (!kept.block) {
                        freeSlot = true;
                    } else if (!oldest || kept.stamp < oldest->stamp) {
                        oldest = &kept;
                    }
                }
                if (freeSlot && g_KeptBytes + bytes <= kKeptBytes) break;
                released[count++] = oldest->block;
                g_KeptBytes -= oldest->bytes;
                *oldest = {};
            }
            for (Kept& kept : g_Kept) {
                if (kept.block) continue;
                kept = {block, bytes, ++g_Stamp};
                g_KeptBytes += bytes;
                break;
            }
        }
    }
    for (size_t i = 0; i < count; ++i) Release(released[i]);
}

size_t KeptBytes() noexcept {
    std::lock_guard<std::mutex> lock(g_Mutex);
    return g_KeptBytes;
}

}  // namespace rcnet::aligned
