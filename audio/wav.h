// RIFF WAVE files of PCM sound: the header check, the playability probe and
// the player, which streams a file through a WavePool at a volume in percent.
// Every outcome is a result code with a message text constant.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/wave.h"

// The 16-byte body of the format chunk, little-endian as the file holds it.
struct PcmFormat {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
};
static_assert(sizeof(PcmFormat) == 16);

enum : int32_t {
    WAV_PLAYABLE = 0,
    WAV_CANNOT_OPEN = 1,
    WAV_NOT_RIFF = 2,
    WAV_NOT_WAVE = 3,
    WAV_NO_FORMAT_FIRST = 4,
    WAV_NOT_PCM = 5,
    WAV_ODD_RATE = 6,
    WAV_TRUNCATED = 7,
    WAV_NO_DEVICE = 8,
    WAV_DEVICE_REFUSES = 9,
    WAV_OPEN_REFUSED = 10,
};

extern std::atomic<int16_t> wav_stop;  // any thread may set it; wav_play clears it
extern int32_t wav_peak;               // largest input magnitude of the last wav_play

const char* wav_message(int32_t code);  // null for 0
void wav_snap_rate(int32_t* rate, int32_t standard);
int32_t wav_out_sample(int32_t sample, int32_t volume);

// name is cleaned in place. The handle is open after every code but 1; the
// data size is the data chunk's size, read as the unsigned value it is.
int32_t wav_open_header(int32_t device, char* name, HANDLE* handle, PcmFormat* format, int64_t* data_size,
                        const char** message);
int32_t wav_probe(int32_t device, char* name, const char** message);
int32_t wav_play(WavePool* pool, int32_t device, char* name, int32_t volume, const char** message);
