// Page memory for the large long-lived buffers (screen shadow, saved
// console, wave buffers) and a wrap-around scratch arena for small texts.
// mem_alloc never returns null and mem_free never fails: both stop the
// program instead, so no caller handles a failed allocation.
#pragma once

#include <cstdint>

extern uint32_t page_size;  // 0 until the first mem_alloc

void* mem_alloc(uint32_t size);  // zero-filled, rounded up to whole pages
int mem_free(void* address);
void mem_fill(void* address, int byte, int64_t count);

inline constexpr int32_t kScratchSize = 100000;
void* scratch_alloc(int32_t size);  // valid until the arena wraps over it
void scratch_reset();               // back to a fresh arena
