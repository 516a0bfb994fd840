// The fake's wave output (one device) and Beep. Written buffers wait until
// the test hands them back with sound_done (from any thread), or at once
// when sound_auto_done is set; waveOutReset hands back all of them. A test
// refuses an open or a write through the two result hooks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/fake/fake.h"

namespace fake {

// Non-zero results refuse; unset hooks accept whatever a device exists for.
extern std::function<MMRESULT(const WAVEFORMATEX& format, DWORD flags)> sound_open_result;
extern std::function<MMRESULT(const WAVEHDR& header)> sound_write_result;

extern bool sound_auto_done;
extern std::vector<std::string> sound_written;      // the bytes of each accepted write
extern std::vector<std::pair<DWORD, DWORD>> beeps;  // frequency, duration

// Hands the oldest n written buffers back through the callback.
void sound_done(int n = 1);
// A callback message as the device would send it, for a header of the test's choosing.
void sound_deliver(UINT message, WAVEHDR* header);

}  // namespace fake
