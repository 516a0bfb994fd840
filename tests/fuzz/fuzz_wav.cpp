// The WAV header check on any file of the fake's disk, and the player on
// those it accepts: each result's message, where the file is left, the samples.
// Input: a flags byte (blanks and quotes around the name, the device, the
// volume), then the file.
#include <cstring>
#include <string>
#include "expect.h"
#include "audio/wav.h"
#include "runtime/file.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    uint8_t flags = data[0];
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    fake::reset();
    fake::sound_auto_done = true;
    wave_current.store(nullptr);
    wav_stop.store(0);
    fake::disk["tone.wav"] = file;
    char name[64] = "";
    snprintf(name, sizeof name, "%s%stone.wav%s%s", flags & 1 ? " \t" : "", flags & 2 ? "\"" : "", flags & 2 ? "\"" : "",
             flags & 4 ? "  " : "");
    int32_t device = (flags >> 3 & 3) - 1;  // WAVE_MAPPER, the one device, and two that are not there

    HANDLE handle = nullptr;
    PcmFormat format{};
    int64_t data_size = -1;
    const char* message = reinterpret_cast<const char*>(1);
    int32_t r = wav_open_header(device, name, &handle, &format, &data_size, &message);
    EXPECT(strcmp(name, "tone.wav") == 0);  // cleaned in place
    EXPECT(r >= WAV_PLAYABLE && r <= WAV_DEVICE_REFUSES && r != WAV_CANNOT_OPEN);
    EXPECT(r == WAV_PLAYABLE ? message == nullptr : txt_len(message) > 0);
    if (r != WAV_PLAYABLE) return file_close(handle), 0;
    // Playable: a format it can play, and the file just behind "data" and its size.
    EXPECT(format.wFormatTag == 1 && (format.nChannels == 1 || format.nChannels == 2));
    EXPECT(format.wBitsPerSample == 8 || format.wBitsPerSample == 16);
    uint32_t rate = format.nSamplesPerSec, size_field;
    EXPECT(rate == 8000 || rate == 11025 || rate == 22050 || rate == 44100 || rate == 48000 || rate == 96000);
    int64_t at = file_tell(handle);
    EXPECT(at >= 44 && static_cast<size_t>(at) <= file.size() && file.compare(at - 8, 4, "data") == 0);
    memcpy(&size_field, file.data() + at - 4, 4);  // little-endian, as this machine
    EXPECT(data_size == size_field);
    file_close(handle);

    // Played: every whole sample of the data that the file holds reaches
    // the device, widened to 16 bits, and the peak is within the scale.
    WavePool pool{};
    strcpy(name, "tone.wav");
    int32_t volume = flags >> 5 & 1 ? 100 : (flags >> 6) * 90;
    EXPECT(wav_play(&pool, device, name, volume, &message) == WAV_PLAYABLE);
    int64_t width = format.wBitsPerSample / 8, held = std::min<int64_t>(data_size, int64_t(file.size()) - at), played = 0;
    for (const std::string& w : fake::sound_written) played += static_cast<int64_t>(w.size());
    EXPECT(played == held / width * 2);
    EXPECT(wav_peak >= 0 && wav_peak <= 32768 && wav_stop.load() == 0 && wave_current.load() == nullptr);
    return 0;
}
