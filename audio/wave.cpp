// The wave-out buffer pool and the device queries.
//
// Nothing is locked: the owner marks a header and counts it before handing it
// to the device, the device's thread clears the mark and uncounts it when the
// buffer has played. Both sides use atomic operations on those two words.
#include "audio/wave.h"

#include "console/mem.h"
#include "runtime/txt.h"

std::atomic<WavePool*> wave_current{nullptr};

namespace {

// The mark lives in the header record itself, whose layout Windows fixes, so
// it is reached through an atomic reference rather than an atomic member.
std::atomic_ref<DWORD_PTR> mark_of(WAVEHDR* header) { return std::atomic_ref<DWORD_PTR>(header->dwUser); }

static_assert(offsetof(WAVEHDR, dwUser) % sizeof(DWORD_PTR) == 0 && sizeof(WAVEHDR) % sizeof(DWORD_PTR) == 0,
              "every header's mark is an aligned word when the array is aligned");

void pcm_format(WAVEFORMATEX* format, int32_t channels, int32_t rate, int32_t bits) {
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = static_cast<WORD>(channels);
    format->nSamplesPerSec = static_cast<DWORD>(rate);
    format->wBitsPerSample = static_cast<WORD>(bits);
    format->nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format->nAvgBytesPerSec = static_cast<DWORD>(format->nBlockAlign) * static_cast<DWORD>(rate);
    format->cbSize = 0;
}

}  // namespace

int32_t wave_marked(const WAVEHDR* header) {
    return static_cast<int32_t>(mark_of(const_cast<WAVEHDR*>(header)).load());
}

// The header array follows the buffers, moved up to a 16-byte boundary: with
// an odd buffer count times a size such as 22 bytes, the marks would
// otherwise not be aligned words, and could not be updated atomically.
int32_t wave_headers_offset(int32_t count, int32_t size) { return (count * size + 15) & ~15; }

uint32_t wave_block_size(int32_t count, int32_t size) {
    return static_cast<uint32_t>(wave_headers_offset(count, size)) + static_cast<uint32_t>(count) * sizeof(WAVEHDR);
}

MMRESULT wave_open(WavePool* pool, int32_t device, int32_t channels, int32_t rate, int32_t bits, int32_t count,
                   int32_t size) {
    pool->device = device;
    pool->count = count;
    pool->size = size;
    pool->queued.store(0);
    pool->block = static_cast<uint8_t*>(mem_alloc(wave_block_size(count, size)));
    pool->headers = reinterpret_cast<WAVEHDR*>(pool->block + wave_headers_offset(count, size));
    WAVEFORMATEX format;
    pcm_format(&format, channels, rate, bits);
    MMRESULT r = waveOutOpen(&pool->hwo, static_cast<UINT>(device), &format, reinterpret_cast<DWORD_PTR>(&wave_done),
                             0, CALLBACK_FUNCTION | WAVE_FORMAT_DIRECT);
    if (r != MMSYSERR_NOERROR) {
        mem_free(pool->block);
        pool->block = nullptr;
        pool->headers = nullptr;
        return r;
    }
    wave_current.store(pool);
    return MMSYSERR_NOERROR;
}

MMRESULT wave_prepare(WavePool* pool, int32_t index) {
    WAVEHDR* header = &pool->headers[index];
    header->lpData = reinterpret_cast<LPSTR>(pool->block + int64_t(index) * pool->size);
    header->dwBufferLength = static_cast<DWORD>(pool->size);
    header->dwBytesRecorded = 0;
    mark_of(header).store(0);
    header->dwFlags = 0;
    header->dwLoops = 0;
    return waveOutPrepareHeader(pool->hwo, header, sizeof(WAVEHDR));
}

WAVEHDR* wave_take(WavePool* pool) {
    for (int32_t i = pool->count - 1; i >= 0; --i) {
        WAVEHDR* header = &pool->headers[i];
        if (mark_of(header).load() == 0) {
            header->dwBufferLength = static_cast<DWORD>(pool->size);
            header->lpData = reinterpret_cast<LPSTR>(pool->block + int64_t(i) * pool->size);
            return header;
        }
    }
    return nullptr;
}

MMRESULT wave_submit(WavePool* pool, WAVEHDR* header, int32_t length) {
    wave_prepare(pool, static_cast<int32_t>(header - pool->headers));
    header->dwBufferLength = static_cast<DWORD>(length);
    // Marked and counted before the write: the device may hand the buffer
    // back before waveOutWrite has even returned.
    mark_of(header).store(1);
    pool->queued.fetch_add(1);
    MMRESULT r = waveOutWrite(pool->hwo, header, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) {
        // A refused buffer never comes back through the callback; left marked
        // and counted, it would be lost to wave_take and a draining close
        // would wait for it for ever.
        mark_of(header).store(0);
        pool->queued.fetch_sub(1);
    }
    return r;
}

// Runs on the device's thread: it may only clear the mark and uncount.
void CALLBACK wave_done(HWAVEOUT hwo, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    (void)hwo, (void)instance, (void)param2;
    WavePool* pool = wave_current.load();
    if (pool == nullptr || message != WOM_DONE) return;
    mark_of(reinterpret_cast<WAVEHDR*>(param1)).store(0);
    pool->queued.fetch_sub(1);
}

MMRESULT wave_close(WavePool* pool, int16_t reset) {
    if (reset != 0) {
        waveOutReset(pool->hwo);
    } else {
        while (pool->queued.load() > 0) Sleep(1);
    }
    wave_current.store(nullptr);
    for (int32_t i = pool->count - 1; i >= 0; --i) waveOutUnprepareHeader(pool->hwo, &pool->headers[i], sizeof(WAVEHDR));
    MMRESULT r = waveOutClose(pool->hwo);
    mem_free(pool->block);
    pool->block = nullptr;
    pool->headers = nullptr;
    return r;
}

int32_t wave_device_count() { return static_cast<int32_t>(waveOutGetNumDevs()); }

const char* wave_device_name(int32_t device) {
    WAVEOUTCAPSA caps;
    if (waveOutGetDevCapsA(static_cast<UINT>(device), &caps, sizeof caps) != MMSYSERR_NOERROR) return T("");
    caps.szPname[MAXPNAMELEN - 1] = 0;
    auto* name = static_cast<char*>(scratch_alloc(txt_len(caps.szPname) + 1));
    txt_copy(name, caps.szPname);
    return name;
}

DWORD wave_device_formats(int32_t device) {
    WAVEOUTCAPSA caps;
    if (waveOutGetDevCapsA(static_cast<UINT>(device), &caps, sizeof caps) != MMSYSERR_NOERROR) return 0;
    return caps.dwFormats;
}

MMRESULT wave_format_query(int32_t device, int32_t channels, int32_t rate, int32_t bits) {
    WAVEFORMATEX format;
    pcm_format(&format, channels, rate, bits);
    HWAVEOUT unused;
    return waveOutOpen(&unused, static_cast<UINT>(device), &format, 0, 0, WAVE_FORMAT_QUERY);
}
