// The fake's wave output and Beep.
#include "tests/fake/fake_sound.h"

#include <mutex>

namespace fake {

std::vector<SoundDevice> sound_devices;
std::function<MMRESULT(UINT, const WAVEFORMATEX&, DWORD)> sound_open_result;
std::function<MMRESULT(const WAVEHDR&)> sound_write_result;
bool sound_auto_done;
std::vector<WAVEHDR*> sound_queue;
std::vector<WAVEFORMATEX> sound_formats;
std::vector<DWORD> sound_open_flags;
std::vector<std::string> sound_written;
int sound_queued_at_close;
std::vector<std::pair<DWORD, DWORD>> beeps;

namespace {
typedef void(CALLBACK* WaveCallback)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
WaveCallback callback;
DWORD_PTR instance;
HWAVEOUT open_handle;
uintptr_t next_handle;
// sound_done may run on a thread of the test's own, as the device's would.
std::mutex queue_lock;

void call_back(UINT message, DWORD_PTR param1) {
    if (callback) callback(open_handle, message, instance, param1, 0);
}
}  // namespace

void reset_sound() {
    sound_devices = {{"Fake wave out", WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16 | WAVE_FORMAT_48M16}};
    sound_open_result = nullptr;
    sound_write_result = nullptr;
    sound_auto_done = false;
    sound_queue.clear();
    sound_formats.clear();
    sound_open_flags.clear();
    sound_written.clear();
    sound_queued_at_close = -1;
    beeps.clear();
    callback = nullptr;
    open_handle = nullptr;
    next_handle = 0x5A00;
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
        call_back(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    }
}

void sound_deliver(UINT message, WAVEHDR* header) { call_back(message, reinterpret_cast<DWORD_PTR>(header)); }

}  // namespace fake

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
    fake::record("waveOutGetNumDevs");
    return static_cast<UINT>(fake::sound_devices.size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR device, LPWAVEOUTCAPSA caps, UINT size) {
    fake::record("waveOutGetDevCapsA");
    if (device == WAVE_MAPPER && !fake::sound_devices.empty()) device = 0;
    if (device >= fake::sound_devices.size()) return MMSYSERR_BADDEVICEID;
    if (size < sizeof(WAVEOUTCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = WAVEOUTCAPSA{};
    const fake::SoundDevice& d = fake::sound_devices[device];
    // Like the system, a name of 32 characters or more fills szPname without
    // a terminator: the caller has to end it.
    for (size_t i = 0; i < MAXPNAMELEN && i < d.name.size(); ++i) caps->szPname[i] = d.name[i];
    caps->dwFormats = d.formats;
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags) {
    fake::record("waveOutOpen");
    fake::sound_formats.push_back(*format);
    fake::sound_open_flags.push_back(flags);
    if (fake::sound_devices.empty()) return device == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
    if (device != WAVE_MAPPER && device >= fake::sound_devices.size()) return MMSYSERR_BADDEVICEID;
    if (fake::sound_open_result)
        if (MMRESULT r = fake::sound_open_result(device, *format, flags)) return r;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    fake::callback = (flags & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION ? reinterpret_cast<fake::WaveCallback>(callback)
                                                                      : nullptr;
    fake::instance = instance;
    fake::open_handle = reinterpret_cast<HWAVEOUT>(fake::next_handle++);
    *phwo = fake::open_handle;
    fake::call_back(WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    fake::record("waveOutPrepareHeader");
    if (hwo != fake::open_handle || size != sizeof(WAVEHDR)) return MMSYSERR_INVALHANDLE;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    fake::record("waveOutUnprepareHeader");
    if (hwo != fake::open_handle || size != sizeof(WAVEHDR)) return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    fake::record("waveOutWrite");
    if (hwo != fake::open_handle || size != sizeof(WAVEHDR)) return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
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
    fake::record("waveOutReset");
    if (hwo != fake::open_handle) return MMSYSERR_INVALHANDLE;
    fake::sound_done(static_cast<int>(fake::sound_queue.size()));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) {
    fake::record("waveOutClose");
    if (hwo != fake::open_handle) return MMSYSERR_INVALHANDLE;
    fake::sound_queued_at_close = static_cast<int>(fake::sound_queue.size());
    if (!fake::sound_queue.empty()) return WAVERR_STILLPLAYING;
    fake::call_back(WOM_CLOSE, 0);
    fake::callback = nullptr;
    fake::open_handle = nullptr;
    return MMSYSERR_NOERROR;
}

BOOL WINAPI Beep(DWORD frequency, DWORD duration) {
    fake::record("Beep");
    fake::beeps.emplace_back(frequency, duration);
    return TRUE;
}

}  // extern "C"
