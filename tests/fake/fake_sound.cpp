// The fake's wave output and Beep.
#include "tests/fake/fake_sound.h"

#include <atomic>
#include <mutex>

namespace fake {

std::function<MMRESULT(const WAVEFORMATEX&, DWORD)> sound_open_result;
std::function<MMRESULT(const WAVEHDR&)> sound_write_result;
bool sound_auto_done;
std::vector<std::string> sound_written;
std::vector<std::pair<DWORD, DWORD>> beeps;

namespace {
typedef void(CALLBACK* WaveCallback)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
// sound_done may run on a thread of the test's own, as the device's would,
// while the owner closes the device.
std::atomic<WaveCallback> callback;
std::atomic<HWAVEOUT> open_handle;
std::mutex queue_lock;
std::vector<WAVEHDR*> sound_queue;  // written, not yet handed back

bool is_open(HWAVEOUT hwo) { return hwo != nullptr && hwo == open_handle; }
}  // namespace

void reset_sound() {
    sound_open_result = nullptr, sound_write_result = nullptr, sound_auto_done = false;
    sound_queue.clear(), sound_written.clear(), beeps.clear(), callback = nullptr, open_handle = nullptr;
}

void sound_done(int n) {
    for (int i = 0; i < n; ++i) {
        WAVEHDR* header;
        {
            std::lock_guard<std::mutex> g(queue_lock);
            if (sound_queue.empty()) return;
            header = sound_queue.front();
            sound_queue.erase(sound_queue.begin());
            header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        }
        sound_deliver(WOM_DONE, header);
    }
}

void sound_deliver(UINT message, WAVEHDR* header) {
    if (WaveCallback c = callback.load()) c(open_handle.load(), message, 0, reinterpret_cast<DWORD_PTR>(header), 0);
}

}  // namespace fake

extern "C" {

// One device, device 0.
UINT WINAPI waveOutGetNumDevs(void) { return fake::record(__func__), 1; }
MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR device, LPWAVEOUTCAPSA caps, UINT) {
    return fake::record(__func__), *caps = WAVEOUTCAPSA{}, device == 0 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                            DWORD flags) {
    fake::record(__func__);
    if (device != WAVE_MAPPER && device != 0) return MMSYSERR_BADDEVICEID;
    if (fake::sound_open_result)
        if (MMRESULT r = fake::sound_open_result(*format, flags)) return r;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    fake::callback = reinterpret_cast<fake::WaveCallback>(callback);
    *phwo = fake::open_handle = reinterpret_cast<HWAVEOUT>(0x5A00);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT) {
    return fake::record(__func__), fake::is_open(hwo) ? (header->dwFlags |= WHDR_PREPARED, MMSYSERR_NOERROR)
                                                      : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT) {
    fake::record(__func__);
    if (!fake::is_open(hwo)) return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT) {
    fake::record(__func__);
    if (!fake::is_open(hwo) || !(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (fake::sound_write_result)
        if (MMRESULT r = fake::sound_write_result(*header)) return r;
    fake::sound_written.emplace_back(header->lpData, header->dwBufferLength);
    {
        std::lock_guard<std::mutex> g(fake::queue_lock);
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        fake::sound_queue.push_back(header);
    }
    if (fake::sound_auto_done) fake::sound_done(1);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) {
    fake::record(__func__), fake::sound_done(1 << 30);  // every one still out
    return fake::is_open(hwo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

// Refused while a buffer is still out, as the system does.
MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) {
    fake::record(__func__);
    if (!fake::is_open(hwo)) return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(fake::queue_lock);
    if (!fake::sound_queue.empty()) return WAVERR_STILLPLAYING;
    fake::callback = nullptr, fake::open_handle = nullptr;
    return MMSYSERR_NOERROR;
}

BOOL WINAPI Beep(DWORD frequency, DWORD duration) {
    return fake::record(__func__), fake::beeps.emplace_back(frequency, duration), TRUE;
}

}  // extern "C"
