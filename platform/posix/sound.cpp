// Wave output and Beep over ALSA.
//
// Map: the device list (ALSA's "default" PCM first, then each sound card) and
// the hush on ALSA's own messages; WaveDevice, one open PCM with its writer
// thread; the waveOut calls; Beep, which plays through the same machinery.
//
// Like Windows' own, the calls report what they cannot do (no memory, no
// thread to write with) as results; nothing thrown leaves them.
//
// Limits of the emulation:
// - Only PCM formats of 8 and 16 bits; only CALLBACK_FUNCTION and
//   CALLBACK_NULL (no events, threads or windows to notify).
// - A buffer comes back with WOM_DONE once its last sample is in ALSA's
//   ring (about 100 ms deep), not when it has left the loudspeaker.
// - Devices that swallow samples at once (the null and file plugins) are
//   paced by the clock, so that buffers come back at the sound's own speed.
// - WAVE_FORMAT_DIRECT is what every open gets: no rate conversion, so a
//   card that lacks a rate refuses it (the default PCM usually converts).
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace {

using Clock = std::chrono::steady_clock;
typedef void(CALLBACK* WaveCallback)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// --- Devices -------------------------------------------------------------

// ALSA prints its complaints on standard error, right across a monitor's
// screen; a missing card or configuration is an answer here, not news.
void alsa_silent(const char*, int, const char*, int, const char*, ...) {}

void hush_alsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(alsa_silent); });
}

struct Endpoint {
    std::string pcm;
    std::string name;
};

std::vector<Endpoint> list_endpoints() {
    hush_alsa();
    std::vector<Endpoint> list;
    snd_pcm_t* pcm;
    int err = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err == 0) snd_pcm_close(pcm);
    // A default that is busy (on a card without mixing, held by our own
    // tone) is still there: dropping it would renumber every other device.
    if (err == 0 || err == -EBUSY) list.push_back({"default", "Default sound output"});
    for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) {
        char* name = nullptr;
        Endpoint e{"plughw:" + std::to_string(card), "Sound card " + std::to_string(card)};
        if (snd_card_get_name(card, &name) == 0 && name) e.name = name;
        free(name);
        list.push_back(e);
    }
    return list;
}

// WAVE_MAPPER plays on the first device, as Windows' mapper prefers it.
MMRESULT find_endpoint(UINT_PTR id, Endpoint* out) {
    try {
        std::vector<Endpoint> list = list_endpoints();
        if (id == WAVE_MAPPER) id = 0;
        if (id >= list.size()) return MMSYSERR_BADDEVICEID;
        *out = list[id];
        return MMSYSERR_NOERROR;
    } catch (const std::exception&) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT open_failure(int err) { return err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER; }

snd_pcm_format_t sample_format(int bits) { return bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE; }

// Narrows the configuration space to one format; nothing reaches the device.
bool restrict_to(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, int bits, unsigned channels, unsigned rate) {
    return snd_pcm_hw_params_any(pcm, hw) >= 0 && snd_pcm_hw_params_set_rate_resample(pcm, hw, 0) >= 0 &&
           snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
           snd_pcm_hw_params_set_format(pcm, hw, sample_format(bits)) >= 0 &&
           snd_pcm_hw_params_set_channels(pcm, hw, channels) >= 0 &&
           snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) >= 0;
}

MMRESULT check_format(const WAVEFORMATEX* f) {
    if (f == nullptr) return MMSYSERR_INVALPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM || (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) ||
        f->nChannels == 0 || f->nSamplesPerSec == 0 || f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

// --- An open device --------------------------------------------------------

struct WaveDevice {
    snd_pcm_t* pcm = nullptr;
    unsigned rate = 0;
    unsigned frame_bytes = 0;
    snd_pcm_uframes_t chunk = 0;  // frames per write: one period
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;

    std::mutex lock;
    std::condition_variable wake;  // the writer: a buffer, a reset, the close
    std::condition_variable idle;  // waveOutReset: the writer has let go
    std::deque<WAVEHDR*> queue;    // written, not yet done; the writer plays the front
    bool busy = false;             // the writer holds the front buffer or is calling back
    bool closing = false;
    std::atomic<bool> abandon{false};
    std::atomic<bool> gone{false};  // the PCM failed for good: writes are refused
    std::thread writer;

    // Writer's own: whether the PCM swallows samples faster than it could
    // play them, and when everything written so far will have sounded.
    bool instant = false;
    Clock::time_point play_end{};

    HWAVEOUT handle() { return reinterpret_cast<HWAVEOUT>(this); }
    void notify(UINT message, DWORD_PTR param) {
        if (callback) callback(handle(), message, instance, param, 0);
    }
    bool play(WAVEHDR* h);
    void run();
    void pace(snd_pcm_sframes_t written);
};

std::mutex devices_lock;
std::set<WaveDevice*> devices;

WaveDevice* device_of(HWAVEOUT hwo) {
    std::lock_guard<std::mutex> g(devices_lock);
    auto* d = reinterpret_cast<WaveDevice*>(hwo);
    return devices.count(d) ? d : nullptr;
}

// After each write: the PCM is "instant" when it reports less queued than
// was just handed to it; such a device is then held to the clock.
void WaveDevice::pace(snd_pcm_sframes_t written) {
    Clock::time_point now = Clock::now();
    if (play_end < now) play_end = now;
    play_end += std::chrono::microseconds(int64_t(written) * 1'000'000 / rate);
    if (!instant) {
        snd_pcm_sframes_t queued = 0;
        if (snd_pcm_delay(pcm, &queued) < 0 || queued < written / 2) instant = true;
    }
    if (instant) {
        std::unique_lock<std::mutex> g(lock);
        wake.wait_until(g, play_end, [this] { return abandon.load() || closing; });
    }
}

// Plays one buffer a period at a time; false when a reset cut it short.
bool WaveDevice::play(WAVEHDR* h) {
    auto* data = reinterpret_cast<const uint8_t*>(h->lpData);
    snd_pcm_uframes_t frames = h->dwBufferLength / frame_bytes, done = 0;
    while (done < frames) {
        if (abandon.load()) return false;
        // An instant device is fed 100 ms at a time: a sleep a period would
        // cost four times the wake-ups, and a reset still cuts within 100 ms.
        snd_pcm_uframes_t step = instant ? std::max<snd_pcm_uframes_t>(chunk, rate / 10) : chunk;
        snd_pcm_uframes_t n = std::min(frames - done, step);
        snd_pcm_sframes_t r = snd_pcm_writei(pcm, data + done * frame_bytes, n);
        if (r < 0 && snd_pcm_recover(pcm, static_cast<int>(r), 1) < 0) {
            // The device is gone (a card unplugged): the rest of the buffer
            // is dropped at the sound's own pace rather than not at all, and
            // later writes are refused, as Windows refuses them.
            instant = true;
            gone.store(true);
            r = static_cast<snd_pcm_sframes_t>(n);
        }
        if (r <= 0) continue;
        done += static_cast<snd_pcm_uframes_t>(r);
        pace(r);
    }
    return true;
}

void WaveDevice::run() {
    for (;;) {
        WAVEHDR* h;
        {
            std::unique_lock<std::mutex> g(lock);
            wake.wait(g, [this] { return closing || (!queue.empty() && !abandon.load()); });
            if (closing) return;
            h = queue.front();
            busy = true;
        }
        if (play(h)) {
            {
                std::lock_guard<std::mutex> g(lock);
                queue.pop_front();
                h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            }
            // No lock is held here: the owner may be waiting for this very
            // buffer while it calls into us.
            notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(h));
        }
        std::lock_guard<std::mutex> g(lock);
        busy = false;
        idle.notify_all();
    }
}

MMRESULT open_pcm(const Endpoint& e, const WAVEFORMATEX* f, WaveDevice* d) {
    // Opened without waiting, as a busy card would otherwise hold us until
    // it is free; the writes then block, which paces a real card.
    int err = snd_pcm_open(&d->pcm, e.pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) return open_failure(err);
    snd_pcm_nonblock(d->pcm, 0);
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned buffer_us = 100000, period_us = 25000;
    if (!restrict_to(d->pcm, hw, f->wBitsPerSample, f->nChannels, f->nSamplesPerSec) ||
        snd_pcm_hw_params_set_buffer_time_near(d->pcm, hw, &buffer_us, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(d->pcm, hw, &period_us, nullptr) < 0 ||
        snd_pcm_hw_params(d->pcm, hw) < 0) {
        snd_pcm_close(d->pcm);
        return WAVERR_BADFORMAT;
    }
    snd_pcm_uframes_t period = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
    d->chunk = period > 0 ? period : f->nSamplesPerSec / 40;
    d->rate = f->nSamplesPerSec;
    d->frame_bytes = f->nBlockAlign;
    return MMSYSERR_NOERROR;
}

}  // namespace

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
    try {
        return static_cast<UINT>(list_endpoints().size());
    } catch (const std::exception&) {
        return 0;
    }
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
    if (pwoc == nullptr || cbwoc == 0) return MMSYSERR_INVALPARAM;
    Endpoint e;
    if (MMRESULT r = find_endpoint(uDeviceID, &e)) return r;
    WAVEOUTCAPSA caps{};
    caps.vDriverVersion = 0x0100;
    snprintf(caps.szPname, MAXPNAMELEN, "%s", e.name.c_str());
    snd_pcm_t* pcm;
    int err = snd_pcm_open(&pcm, e.pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err == 0) {
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        static const unsigned rates[] = {11025, 22050, 44100, 48000, 96000};
        static const DWORD first_bit[] = {WAVE_FORMAT_1M08, WAVE_FORMAT_2M08, WAVE_FORMAT_4M08, WAVE_FORMAT_48M08,
                                          WAVE_FORMAT_96M08};
        // Within a rate the bits run mono 8, stereo 8, mono 16, stereo 16.
        for (int r = 0; r < 5; ++r)
            for (int bits : {8, 16})
                for (unsigned channels : {1u, 2u})
                    if (restrict_to(pcm, hw, bits, channels, rates[r])) {
                        caps.dwFormats |= first_bit[r] << ((bits == 16 ? 2 : 0) + (channels == 2 ? 1 : 0));
                        caps.wChannels = std::max<WORD>(caps.wChannels, static_cast<WORD>(channels));
                    }
        snd_pcm_close(pcm);
    }
    memcpy(pwoc, &caps, std::min<size_t>(cbwoc, sizeof caps));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen) {
    DWORD kind = fdwOpen & CALLBACK_TYPEMASK;
    if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION) return MMSYSERR_NOTSUPPORTED;
    if (MMRESULT r = check_format(pwfx)) return r;
    Endpoint e;
    if (MMRESULT r = find_endpoint(uDeviceID, &e)) return r;

    if (fdwOpen & WAVE_FORMAT_QUERY) {
        snd_pcm_t* pcm;
        int err = snd_pcm_open(&pcm, e.pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (err < 0) return open_failure(err);
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        bool ok = restrict_to(pcm, hw, pwfx->wBitsPerSample, pwfx->nChannels, pwfx->nSamplesPerSec);
        snd_pcm_close(pcm);
        return ok ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }
    if (phwo == nullptr) return MMSYSERR_INVALPARAM;

    auto* d = new (std::nothrow) WaveDevice;
    if (d == nullptr) return MMSYSERR_NOMEM;
    if (MMRESULT r = open_pcm(e, pwfx, d)) {
        delete d;
        return r;
    }
    if (kind == CALLBACK_FUNCTION) d->callback = reinterpret_cast<WaveCallback>(dwCallback);
    d->instance = dwInstance;
    try {
        d->writer = std::thread([d] { d->run(); });
        std::lock_guard<std::mutex> g(devices_lock);
        devices.insert(d);
    } catch (const std::exception&) {  // no thread (the process limit) or no memory
        if (d->writer.joinable()) {
            {
                std::lock_guard<std::mutex> g(d->lock);
                d->closing = true;
            }
            d->wake.notify_all();
            d->writer.join();
        }
        snd_pcm_close(d->pcm);
        delete d;
        return MMSYSERR_NOMEM;
    }
    *phwo = d->handle();
    d->notify(WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* d = device_of(hwo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(d->lock);
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* d = device_of(hwo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(d->lock);
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* d = device_of(hwo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(d->lock);
    if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (d->gone.load()) return MMSYSERR_NODRIVER;
    try {
        d->queue.push_back(pwh);
    } catch (const std::exception&) {
        return MMSYSERR_NOMEM;
    }
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    d->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) {
    WaveDevice* d = device_of(hwo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    std::deque<WAVEHDR*> dropped;
    {
        std::unique_lock<std::mutex> g(d->lock);
        d->abandon.store(true);
        d->wake.notify_all();
        d->idle.wait(g, [d] { return !d->busy; });
        dropped.swap(d->queue);
        for (WAVEHDR* h : dropped) h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        // The writer is idle and finds the queue empty: the PCM is ours.
        snd_pcm_drop(d->pcm);
        snd_pcm_prepare(d->pcm);
        d->play_end = Clock::now();
        d->abandon.store(false);
    }
    for (WAVEHDR* h : dropped) d->notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(h));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) {
    WaveDevice* d = device_of(hwo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> g(d->lock);
        if (!d->queue.empty()) return WAVERR_STILLPLAYING;
        d->closing = true;
        d->wake.notify_all();
    }
    d->writer.join();
    {
        std::lock_guard<std::mutex> g(devices_lock);
        devices.erase(d);
    }
    // What is written still plays out: on an instant device that takes as
    // long as the sound, by the clock.
    if (d->instant)
        std::this_thread::sleep_until(d->play_end);
    else
        snd_pcm_drain(d->pcm);
    snd_pcm_close(d->pcm);
    d->notify(WOM_CLOSE, 0);
    delete d;
    return MMSYSERR_NOERROR;
}

}  // extern "C"

// --- Beep ------------------------------------------------------------------

namespace {

// Counts the pieces the device has handed back.
struct BeepWait {
    std::mutex lock;
    std::condition_variable done_signal;
    uint64_t done = 0;
};

void CALLBACK beep_done(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    if (message != WOM_DONE) return;
    auto* w = reinterpret_cast<BeepWait*>(instance);
    std::lock_guard<std::mutex> g(w->lock);
    ++w->done;
    w->done_signal.notify_all();
}

}  // namespace

extern "C" {

// A square wave at a quarter of full scale, as loud as a PC speaker's click
// needs to be. Frequencies outside 37 to 32767 Hz fail at once, as Windows'
// own Beep does. Without a sound device the terminal's bell rings instead,
// at most four times a second (a bell is no shorter than a beep, and
// terminals that flash the screen for it would flicker), and the time passes.
//
// The tone goes out in pieces of 100 ms through two buffers, so that a beep
// of any length (up to the 49 days of 0xFFFFFFFF ms) needs only those; like
// Windows' Beep, it holds the calling thread until it has sounded, and ends
// with the process.
BOOL WINAPI Beep(DWORD dwFreq, DWORD dwDuration) {
    if (dwFreq < 37 || dwFreq > 32767) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwDuration == 0) return TRUE;
    BeepWait wait;
    HWAVEOUT hwo = nullptr;
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 0, 0, 2, 16, 0};
    MMRESULT r = MMSYSERR_NODRIVER;
    for (DWORD rate : {48000u, 44100u, 22050u, 11025u, 8000u}) {
        f.nSamplesPerSec = rate;
        f.nAvgBytesPerSec = rate * 2;
        r = waveOutOpen(&hwo, 0, &f, reinterpret_cast<DWORD_PTR>(&beep_done), reinterpret_cast<DWORD_PTR>(&wait),
                        CALLBACK_FUNCTION);
        if (r == MMSYSERR_NOERROR) break;
    }
    const uint64_t rate = f.nSamplesPerSec, piece = rate / 10;
    auto* samples = r == MMSYSERR_NOERROR ? new (std::nothrow) int16_t[2 * piece] : nullptr;
    if (samples == nullptr && r != MMSYSERR_NOERROR && r != MMSYSERR_NOMEM) {
        static std::atomic<int64_t> last_bell{INT64_MIN / 2};
        int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
        bool rung = now - last_bell.load() < 250;
        if (!rung && posix::console_bell()) rung = true, last_bell = now;
        if (rung) {
            Sleep(dwDuration);
            return TRUE;
        }
    }
    if (samples == nullptr) {
        if (r == MMSYSERR_NOERROR) waveOutClose(hwo);
        Sleep(dwDuration);
        SetLastError(r == MMSYSERR_NOMEM || r == MMSYSERR_NOERROR ? ERROR_NOT_ENOUGH_MEMORY
                                                                  : ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    WAVEHDR h[2] = {};
    const uint64_t total = rate * dwDuration / 1000;
    uint64_t written = 0, pieces = 0;
    bool refused = false;
    while (written < total && !refused) {
        // The two pieces alternate; the older one must be back before its
        // buffer is filled again.
        WAVEHDR& header = h[pieces % 2];
        {
            std::unique_lock<std::mutex> g(wait.lock);
            wait.done_signal.wait(g, [&] { return pieces - wait.done < 2; });
        }
        waveOutUnprepareHeader(hwo, &header, sizeof header);
        int16_t* s = samples + (pieces % 2) * piece;
        uint64_t n = std::min(piece, total - written);
        for (uint64_t i = 0; i < n; ++i) s[i] = ((written + i) * dwFreq * 2 / rate) % 2 == 0 ? 8192 : -8192;
        header = WAVEHDR{};
        header.lpData = reinterpret_cast<LPSTR>(s);
        header.dwBufferLength = static_cast<DWORD>(n * 2);
        waveOutPrepareHeader(hwo, &header, sizeof header);
        refused = waveOutWrite(hwo, &header, sizeof header) != MMSYSERR_NOERROR;
        if (!refused) ++pieces, written += n;
    }
    {
        std::unique_lock<std::mutex> g(wait.lock);
        wait.done_signal.wait(g, [&] { return wait.done == pieces; });
    }
    for (WAVEHDR& header : h) waveOutUnprepareHeader(hwo, &header, sizeof header);
    waveOutClose(hwo);  // returns when the tone has played out
    delete[] samples;
    if (refused) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return !refused;
}

}  // extern "C"
