// The recording fake: call log, time, memory, process and threads.
#include "tests/fake/fake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <set>
#include <thread>

namespace fake {

std::vector<std::string> calls;
uint32_t tick_count;
int64_t counter;
std::function<BOOL(LARGE_INTEGER*)> performance_frequency;
std::vector<DWORD> sleeps;
std::function<bool(SIZE_T)> virtual_alloc_refuses;
DWORD page_size;
std::vector<SIZE_T> alloc_sizes;
std::set<void*> blocks;

void reset_files();
void reset_serial();
void reset_sound();
void reset_console();
void reset_except();

void reset() {
    calls.clear();
    tick_count = 1000;
    counter = 0;
    performance_frequency = [](LARGE_INTEGER* f) {
        f->QuadPart = 10'000'000;
        return TRUE;
    };
    sleeps.clear();
    virtual_alloc_refuses = [](SIZE_T) { return false; };
    page_size = 4096;
    alloc_sizes.clear();
    reset_files();
    reset_serial();
    reset_console();
    reset_sound();
    reset_except();
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

int live_blocks() { return static_cast<int>(blocks.size()); }

namespace {
// Every test program starts from the defaults. Not a static constructor:
// the fake's globals live in several files, constructed in no fixed order.
struct ResetEnvironment : ::testing::Environment {
    void SetUp() override { reset(); }
};
[[maybe_unused]] const ::testing::Environment* reset_environment =
    ::testing::AddGlobalTestEnvironment(new ResetEnvironment);
}  // namespace

}  // namespace fake

extern "C" {

void WINAPI Sleep(DWORD ms) {
    fake::record("Sleep");
    std::lock_guard<std::mutex> g(fake::log_mutex);
    fake::sleeps.push_back(ms);
    fake::tick_count += ms;
    fake::counter += int64_t(ms) * 10'000;
}

DWORD WINAPI GetTickCount(void) {
    fake::record("GetTickCount");
    return fake::tick_count;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* f) {
    fake::record("QueryPerformanceFrequency");
    return fake::performance_frequency(f);
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* c) {
    fake::record("QueryPerformanceCounter");
    c->QuadPart = fake::counter;
    return TRUE;
}

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    fake::record("VirtualAlloc");
    fake::alloc_sizes.push_back(size);
    if (address || size == 0 || !(type & MEM_COMMIT) || protect != PAGE_READWRITE || fake::virtual_alloc_refuses(size))
        return nullptr;
    void* p = std::aligned_alloc(fake::page_size, size);
    memset(p, 0, size);
    fake::blocks.insert(p);
    return p;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    fake::record("VirtualFree");
    if (size != 0 || type != MEM_RELEASE || !fake::blocks.erase(address)) return FALSE;
    std::free(address);
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    fake::record("GetSystemInfo");
    *info = SYSTEM_INFO{};
    info->dwPageSize = fake::page_size;
    info->dwAllocationGranularity = 65536;
    info->dwNumberOfProcessors = 1;
}

void WINAPI ExitProcess(UINT code) {
    fake::record("ExitProcess");
    throw fake::Exit{static_cast<int>(code)};
}

HANDLE WINAPI GetCurrentProcess(void) {
    fake::record("GetCurrentProcess");
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL WINAPI SetPriorityClass(HANDLE, DWORD) {
    fake::record("SetPriorityClass");
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD,
                           LPDWORD) {
    fake::record("CreateThread");
    std::thread([start, arg] { start(arg); }).detach();
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7000));
}

// Not recorded: a thread's last call comes after its last handshake, when
// the test may already have moved on to the next one.
void WINAPI ExitThread(DWORD) {
    pthread_exit(nullptr);
}

}  // extern "C"
