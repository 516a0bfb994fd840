// Handle values: a slot of a table and the slot's generation, never the
// object's address. A closed handle's generation is gone from its slot, so a
// closed or made-up handle finds no object, and the call fails with
// ERROR_INVALID_HANDLE as on Windows instead of using freed memory.
//
// Lookups read the table without a lock (the crash report writes from a
// signal handler); taking and freeing slots hold one. As on Windows, closing
// a handle while another thread is inside a call on it is the caller's error:
// the table cannot keep that object alive.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {

namespace {
// A handle is (generation << 12 | slot) << 2: a multiple of 4 like Windows'
// handles, never 0, and within 32 bits.
constexpr uint32_t kSlots = 4096;
constexpr uint32_t kGenerations = 1u << 18;

struct Slot {
    std::atomic<HandleObject*> object{nullptr};
    std::atomic<uint32_t> generation{1};
    bool permanent = false;
};
Slot slots[kSlots];  // slot 0 stays free: no handle is 0
std::mutex slots_lock;
uint32_t last_taken = 0;

HANDLE value_of(uint32_t slot, uint32_t generation) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((generation << 12 | slot) << 2));
}

// The slot a live handle names, or null.
Slot* slot_of(HANDLE h) {
    auto v = reinterpret_cast<uintptr_t>(h);
    if (v % 4 != 0 || v >> 32 != 0) return nullptr;
    uint32_t slot = static_cast<uint32_t>(v >> 2) % kSlots, generation = static_cast<uint32_t>(v >> 14);
    Slot& s = slots[slot];
    if (slot == 0 || s.generation.load(std::memory_order_acquire) != generation) return nullptr;
    return s.object.load(std::memory_order_acquire) ? &s : nullptr;
}
}  // namespace

HANDLE handle_of(HandleObject* o, bool permanent) {
    std::lock_guard<std::mutex> g(slots_lock);
    // Slots are taken round the table, so that a handle value just closed is
    // not at once handed out again (its generation would tell them apart
    // anyway, but a stale value then names nothing for longer).
    for (uint32_t i = 1; i < kSlots; ++i) {
        uint32_t slot = (last_taken + i) % kSlots;
        Slot& s = slots[slot];
        if (slot == 0 || s.object.load() != nullptr) continue;
        last_taken = slot;
        s.permanent = permanent;
        s.object.store(o, std::memory_order_release);
        return value_of(slot, s.generation.load());
    }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

HandleObject* object_of(HANDLE h) {
    Slot* s = slot_of(h);
    if (s == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return s->object.load(std::memory_order_acquire);
}

HandleObject* handle_close(HANDLE h, bool* permanent) {
    std::lock_guard<std::mutex> g(slots_lock);
    Slot* s = slot_of(h);
    if (s == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HandleObject* o = s->object.load();
    *permanent = s->permanent;
    if (!s->permanent) {
        s->generation.store((s->generation.load() + 1) % kGenerations, std::memory_order_release);
        s->object.store(nullptr, std::memory_order_release);
    }
    return o;
}

}  // namespace posix
