// Wave output: a pool of equal buffers streamed to one wave-out device, the
// device queries, and the one-shot tone burst built on the pool. The owner
// thread takes, fills and submits buffers; the device's own thread hands them
// back through wave_done. Only one pool can be open at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

struct WavePool {
    int32_t device;
    HWAVEOUT hwo;
    int32_t count;
    std::atomic<int32_t> queued;  // decremented by the device's thread
    int32_t size;
    WAVEHDR* headers;
    uint8_t* block;
};

// The pool whose buffers the callback hands back; null when none is open.
extern std::atomic<WavePool*> wave_current;

MMRESULT wave_open(WavePool* pool, int32_t device, int32_t channels, int32_t rate, int32_t bits, int32_t count,
                   int32_t size);
WAVEHDR* wave_take(WavePool* pool);  // null when every buffer is queued
MMRESULT wave_submit(WavePool* pool, WAVEHDR* header, int32_t length);
MMRESULT wave_close(WavePool* pool, int16_t reset);
MMRESULT wave_prepare(WavePool* pool, int32_t index);
void CALLBACK wave_done(HWAVEOUT hwo, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// A header's in-queue mark (its dwUser): 1 from submission until the device
// hands it back. Both threads reach it through these.
int32_t wave_marked(const WAVEHDR* header);

int32_t wave_device_count();
const char* wave_device_name(int32_t device);  // "" when the query fails
DWORD wave_device_formats(int32_t device);     // 0 when the query fails
MMRESULT wave_format_query(int32_t device, int32_t channels, int32_t rate, int32_t bits);

// Where the headers begin in a pool's block, and the block's whole size.
int32_t wave_headers_offset(int32_t count, int32_t size);
uint32_t wave_block_size(int32_t count, int32_t size);

// Tone burst. Phases are in 1/360000 of a cycle.
enum : int32_t { TONE_SQUARE = 0, TONE_TRIANGLE = 1, TONE_SINE = 2 };

extern const int16_t sine_quarter[901];
extern int16_t sine_table[3600];
extern int16_t sine_pending;

void sine_build();
int16_t tone_sample(int32_t phase, int32_t volume, int32_t shape);
int32_t tone_step(int32_t frequency, int32_t rate);
void tone_fill(int16_t* samples, int32_t n, int32_t step, int32_t volume, int32_t shape);
int32_t tone_burst(WavePool* pool, int32_t device, int32_t frequency, int32_t duration, int32_t volume,
                   int32_t shape);
