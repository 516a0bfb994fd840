// Page memory with retries, and the scratch arena.
#include "console/mem.h"

#include "platform/win32.h"
#include "runtime/out.h"
#include "runtime/txt.h"

uint32_t page_size = 0;

namespace {
uint8_t scratch_area[kScratchSize];
uint8_t* scratch_next = scratch_area;
}  // namespace

void* mem_alloc(uint32_t size) {
    if (page_size == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_size = info.dwPageSize;
    }
    uint32_t rounded = (size + page_size - 1) & ~(page_size - 1);
    // Memory may come back as other programs end: wait 500, 1000 and 2000 ms
    // before giving up.
    static const DWORD pauses[] = {500, 1000, 2000};
    for (int attempt = 0;; ++attempt) {
        void* p = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (p) return p;
        if (attempt == 3) break;
        Sleep(pauses[attempt]);
    }
    fatal(T("Out of memory: %u bytes were asked for, %u with the rounding to whole pages.\n"), size, rounded);
}

int mem_free(void* address) {
    if (!VirtualFree(address, 0, MEM_RELEASE)) fatal(T("The memory at %~x could not be given back.\n"), address);
    return 0;
}

void mem_fill(void* address, int byte, int64_t count) {
    auto* p = static_cast<uint8_t*>(address);
    for (int64_t i = 0; i < count; ++i) p[i] = static_cast<uint8_t>(byte);
}

// A request larger than the whole area cannot be met without writing past
// it; that is a fault of the caller and stops the program.
void* scratch_alloc(int32_t size) {
    if (size < 0 || size > kScratchSize)
        fatal(T("A scratch text of %i bytes was asked for; the arena holds %i.\n"), size, kScratchSize);
    if (scratch_next + size >= scratch_area + kScratchSize) scratch_next = scratch_area;
    void* result = scratch_next;
    scratch_next += size;
    return result;
}

void scratch_reset() { scratch_next = scratch_area; }
