// The recording fake: call log, time, memory, process and threads.
#include "tests/fake/fake.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace fake {

std::vector<std::string> calls;
uint32_t tick_count;
int64_t counter, counter_hz;
BOOL counter_ok;
std::vector<DWORD> sleeps;
int utc_offset_min;
int alloc_refusals;
std::vector<SIZE_T> alloc_sizes;
std::map<void*, int> blocks;  // and the test that allocated each
int test_number;
LPTOP_LEVEL_EXCEPTION_FILTER exception_filter;
void reset_files(), reset_sound(), reset_console();

void reset() {
    ++test_number;  // what the program keeps between tests (its shadow screen) is no test's leak
    calls.clear(), sleeps.clear(), alloc_sizes.clear();
    tick_count = 1000, counter = 0, counter_hz = 10'000'000, counter_ok = TRUE;
    alloc_refusals = 0, exception_filter = nullptr, utc_offset_min = 60;
    reset_files(), reset_console(), reset_sound();
}

// Threads of a test (the blink thread, waiters on a lock) record and sleep
// while the test's own thread does.
std::mutex log_mutex;

void record(const char* name) {
    std::lock_guard<std::mutex> g(log_mutex);
    calls.emplace_back(name);
}

int count(const std::string& name) {
    std::lock_guard<std::mutex> g(log_mutex);
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

int live_blocks() {
    return static_cast<int>(std::count_if(blocks.begin(), blocks.end(), [](auto& b) { return b.second == test_number; }));
}

void advance(int64_t ms) {
    std::lock_guard<std::mutex> g(log_mutex);
    tick_count += static_cast<uint32_t>(ms), counter += ms * 10'000;
}

long threads() { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); }
const long threads_at_start = threads();  // the test's own, and any a sanitizer's run-time keeps

}  // namespace fake

extern "C" {

// Alone, the test's thread waits for nobody: the clock moves on at once. With
// another thread running, a loop waiting for it must cost what it does in
// the program, not spin: the others are given the time asked.
void WINAPI Sleep(DWORD ms) {
    {
        std::lock_guard<std::mutex> g(fake::log_mutex);  // the k-th Sleep logged slept sleeps[k]
        fake::calls.emplace_back(__func__), fake::sleeps.push_back(ms);
    }
    fake::advance(ms);
    if (fake::threads() > fake::threads_at_start) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DWORD WINAPI GetTickCount(void) { return fake::record(__func__), fake::tick_count; }
static void fake_calendar(LPSYSTEMTIME t, int64_t offset_min) {
    int64_t ms = (12 * 60 + offset_min) * 60'000 + fake::counter / 10'000;
    *t = SYSTEMTIME{2026, 3, 0, WORD(1 + ms / 86'400'000), WORD(ms / 3'600'000 % 24), WORD(ms / 60'000 % 60),
                    WORD(ms / 1000 % 60), WORD(ms % 1000)};
}
void WINAPI GetSystemTime(LPSYSTEMTIME t) { fake::record(__func__), fake_calendar(t, 0); }
void WINAPI GetLocalTime(LPSYSTEMTIME t) { fake::record(__func__), fake_calendar(t, fake::utc_offset_min); }
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* f) {
    return fake::record(__func__), f->QuadPart = fake::counter_hz, fake::counter_ok;
}
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* c) {
    return fake::record(__func__), c->QuadPart = fake::counter, TRUE;
}
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    fake::record(__func__);
    fake::alloc_sizes.push_back(size);
    if (address || size == 0 || !(type & MEM_COMMIT) || protect != PAGE_READWRITE || fake::alloc_refusals-- > 0)
        return nullptr;
    void* p = std::aligned_alloc(4096, size);
    memset(p, 0, size);
    fake::blocks[p] = fake::test_number;
    return p;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    fake::record(__func__);
    if (size != 0 || type != MEM_RELEASE || !fake::blocks.erase(address)) return FALSE;
    std::free(address);
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    fake::record(__func__), *info = SYSTEM_INFO{}, info->dwPageSize = 4096;
}
void WINAPI ExitProcess(UINT code) {
    fake::record(__func__);
    throw fake::Exit{static_cast<int>(code)};
}
HANDLE WINAPI GetCurrentProcess(void) { return fake::record(__func__), reinterpret_cast<HANDLE>(intptr_t(-1)); }
BOOL WINAPI SetPriorityClass(HANDLE, DWORD) { return fake::record(__func__), TRUE; }
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD,
                           LPDWORD) {
    fake::record(__func__);
    std::thread([start, arg] { start(arg); }).detach();
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7000));
}

// Not recorded: a thread's last call comes after its last handshake, when
// the test may already have moved on to the next one.
void WINAPI ExitThread(DWORD) { pthread_exit(nullptr); }
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    fake::record(__func__);
    LPTOP_LEVEL_EXCEPTION_FILTER before = fake::exception_filter;
    fake::exception_filter = filter;
    return before;
}

}  // extern "C"
