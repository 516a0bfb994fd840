// The WAV file player: header check chunk by chunk, then streaming through
// two one-second pool buffers, 8-bit samples widened to 16 bits, the volume
// applied with clipping, a stop request honoured between buffers.
#include "audio/wav.h"

#include <bit>

#include "runtime/file.h"
#include "runtime/txt.h"

static_assert(std::endian::native == std::endian::little, "PcmFormat is read straight from the file");

std::atomic<int16_t> wav_stop{0};
int32_t wav_peak = 0;

namespace {

// 64 KiB is too much for the stack of a caller's thread; one player runs at
// a time, so one reader serves.
FileReader reader;

int32_t fail(int32_t code, const char** message) {
    *message = wav_message(code);
    return code;
}

// Skips a chunk body and its pad byte one byte at a time; false when the
// file ends first.
bool skip(HANDLE handle, int64_t count) {
    if (count <= 0) return true;
    if (count & 1) ++count;
    uint8_t byte;
    for (int64_t i = 0; i < count; ++i)
        if (file_read(handle, &byte, 1) != 1) return false;
    return true;
}

int32_t le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

bool standard_rate(int32_t rate) {
    return rate == 8000 || rate == 11025 || rate == 22050 || rate == 44100 || rate == 48000 || rate == 96000;
}

void clean_name(char* name) {
    txt_trim_left(name);
    txt_trim_right(name);
    if (name[0] == '"') mem_move(name + 1, name, txt_len(name + 1) + 1);
    int n = txt_len(name);
    if (n > 0 && name[n - 1] == '"') name[n - 1] = 0;
    txt_trim_left(name);
    txt_trim_right(name);
}

}  // namespace

const char* wav_message(int32_t code) {
    switch (code) {
        case WAV_CANNOT_OPEN: return T("File cannot be read");
        case WAV_NOT_RIFF: return T("Not a RIFF file");
        case WAV_NOT_WAVE: return T("Not WAVE audio");
        case WAV_NO_FORMAT_FIRST: return T("Format chunk not first");
        case WAV_NOT_PCM: return T("Only PCM of 1 or 2 channels and 8 or 16 bits plays");
        case WAV_ODD_RATE: return T("Sample rate is not near a standard PCM rate");
        case WAV_TRUNCATED: return T("File ends too early");
        case WAV_NO_DEVICE: return T("No wave-out device of that number");
        case WAV_DEVICE_REFUSES: return T("Format refused by device");
        case WAV_OPEN_REFUSED: return T("Device would not open for it");
        default: return nullptr;
    }
}

void wav_snap_rate(int32_t* rate, int32_t standard) {
    if (standard * 9 / 10 <= *rate && *rate <= standard * 11 / 10) *rate = standard;
}

int32_t wav_out_sample(int32_t sample, int32_t volume) {
    // In 64 bits, so that no volume can overflow the product.
    int64_t v = (int64_t(sample) * volume + 50) / 100;
    return static_cast<int32_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

int32_t wav_open_header(int32_t device, char* name, HANDLE* handle, PcmFormat* format, int64_t* data_size,
                        const char** message) {
    *message = nullptr;
    clean_name(name);
    if (file_open(name, 0, handle) != 0) return fail(WAV_CANNOT_OPEN, message);

    uint8_t chunk[8];
    if (file_read(*handle, chunk, 8) != 8 || txt_compare_n(reinterpret_cast<char*>(chunk), T("RIFF"), 4) != 0)
        return fail(WAV_NOT_RIFF, message);
    if (file_read(*handle, chunk, 4) != 4 || txt_compare_n(reinterpret_cast<char*>(chunk), T("WAVE"), 4) != 0)
        return fail(WAV_NOT_WAVE, message);
    if (file_read(*handle, chunk, 8) != 8 || txt_compare_n(reinterpret_cast<char*>(chunk), T("fmt "), 4) != 0)
        return fail(WAV_NO_FORMAT_FIRST, message);
    int32_t format_size = le32(chunk + 4);

    if (file_read(*handle, format, 16) != 16 || format->wFormatTag != WAVE_FORMAT_PCM ||
        (format->nChannels != 1 && format->nChannels != 2) ||
        (format->wBitsPerSample != 8 && format->wBitsPerSample != 16))
        return fail(WAV_NOT_PCM, message);

    auto rate = static_cast<int32_t>(format->nSamplesPerSec);
    if (!standard_rate(rate))
        for (int32_t standard : {8000, 11025, 22050, 44100, 48000, 96000}) wav_snap_rate(&rate, standard);
    if (!standard_rate(rate)) return fail(WAV_ODD_RATE, message);
    format->nSamplesPerSec = static_cast<uint32_t>(rate);

    if (format_size > 16 && !skip(*handle, int64_t(format_size) - 16)) return fail(WAV_TRUNCATED, message);
    for (;;) {
        if (file_read(*handle, chunk, 8) != 8) return fail(WAV_TRUNCATED, message);
        if (txt_compare_n(reinterpret_cast<char*>(chunk), T("data"), 4) == 0) break;
        if (!skip(*handle, le32(chunk + 4))) return fail(WAV_TRUNCATED, message);
    }
    // RIFF sizes are unsigned: a data size of 2 GiB or more (0xFFFFFFFF from
    // a writer that did not know the length) plays until the file ends.
    *data_size = static_cast<uint32_t>(le32(chunk + 4));

    if (device >= wave_device_count()) return fail(WAV_NO_DEVICE, message);
    // 16 bits: the width at which wav_play opens the device, whatever the file holds.
    if (wave_format_query(device, format->nChannels, rate, 16) != MMSYSERR_NOERROR)
        return fail(WAV_DEVICE_REFUSES, message);
    return WAV_PLAYABLE;
}

int32_t wav_probe(int32_t device, char* name, const char** message) {
    const char* dropped;
    if (message == nullptr) message = &dropped;
    HANDLE handle;
    PcmFormat format;
    int64_t data_size;
    int32_t r = wav_open_header(device, name, &handle, &format, &data_size, message);
    if (r != WAV_CANNOT_OPEN) file_close(handle);
    return r;
}

int32_t wav_play(WavePool* pool, int32_t device, char* name, int32_t volume, const char** message) {
    const char* dropped;
    if (message == nullptr) message = &dropped;
    HANDLE handle;
    PcmFormat format;
    int64_t remaining;
    int32_t r = wav_open_header(device, name, &handle, &format, &remaining, message);
    if (r != WAV_PLAYABLE) {
        if (r != WAV_CANNOT_OPEN) file_close(handle);
        return r;
    }
    int32_t channels = format.nChannels, rate = static_cast<int32_t>(format.nSamplesPerSec);
    if (wave_open(pool, device, channels, rate, 16, 2, 2 * channels * rate) != MMSYSERR_NOERROR) {
        file_close(handle);
        return fail(WAV_OPEN_REFUSED, message);
    }

    const int32_t width = format.wBitsPerSample / 8;
    int32_t low = 0, high = 0;
    reader_init(&reader, handle);
    bool stopped = false;
    while (remaining > 0 && !stopped) {
        WAVEHDR* header;
        while ((header = wave_take(pool)) == nullptr && !(stopped = wav_stop.load() != 0)) Sleep(1);
        if (stopped) break;

        auto* out = reinterpret_cast<int16_t*>(header->lpData);
        int32_t room = static_cast<int32_t>(header->dwBufferLength / 2), filled = 0;
        while (filled < room && remaining > 0) {
            // A sample cut off by the end of the data would take its other
            // half from whatever chunk follows: it is dropped instead.
            uint8_t b[2];
            if (remaining < width || reader_read(&reader, b, width) < width) {
                remaining = 0;
                break;
            }
            remaining -= width;
            int32_t s = width == 1 ? b[0] * 256 - 32768 : static_cast<int16_t>(b[0] | b[1] << 8);
            if (s < low) low = s;
            if (s > high) high = s;
            out[filled++] = static_cast<int16_t>(wav_out_sample(s, volume));
        }
        if ((stopped = wav_stop.load() != 0)) break;
        wave_submit(pool, header, filled * 2);
    }

    file_close(handle);
    wave_close(pool, stopped ? 1 : 0);
    wav_peak = -low > high ? -low : high;
    wav_stop.store(0);
    return WAV_PLAYABLE;
}
