// Sleep, tick count and performance counter over CLOCK_MONOTONIC; the date
// and time of day, in UTC and local, over CLOCK_REALTIME and the TZ rules.
//
// The counter runs at 10 MHz, as on Windows: at 1 GHz the clock's c × 1000
// would overflow a signed 64-bit value after about 106 days of uptime.
#include <cerrno>
#include <ctime>

#include "platform/posix/kernel32.h"

namespace {
constexpr int64_t kCounterHz = 10'000'000;

int64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}
// One reading of the real-time clock, broken down in UTC or in local time.
void calendar_time(LPSYSTEMTIME out, bool local) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    if (local) localtime_r(&ts.tv_sec, &parts);
    else gmtime_r(&ts.tv_sec, &parts);
    *out = SYSTEMTIME{static_cast<WORD>(parts.tm_year + 1900), static_cast<WORD>(parts.tm_mon + 1),
                      static_cast<WORD>(parts.tm_wday),         static_cast<WORD>(parts.tm_mday),
                      static_cast<WORD>(parts.tm_hour),         static_cast<WORD>(parts.tm_min),
                      static_cast<WORD>(parts.tm_sec),          static_cast<WORD>(ts.tv_nsec / 1'000'000)};
}
}  // namespace

extern "C" {

void WINAPI GetSystemTime(LPSYSTEMTIME time) { calendar_time(time, false); }
void WINAPI GetLocalTime(LPSYSTEMTIME time) { calendar_time(time, true); }

void WINAPI Sleep(DWORD ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(monotonic_ns() / 1'000'000); }

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = kCounterHz;
    return TRUE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = monotonic_ns() / (1'000'000'000 / kCounterHz);
    return TRUE;
}

}  // extern "C"
