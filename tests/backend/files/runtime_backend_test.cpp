// The runtime over the real POSIX layer: paths, threads and handles
// (a whole program: e2e/runtime.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include "runtime/file.h"
#include "runtime/out.h"

namespace {
// A relative name made whole, its .. parts folded away as Windows does.
TEST(Files, ARelativeNameIsMadeWhole) {
    char whole[MAX_PATH];
    ASSERT_EQ(full_path("x/../y.txt", whole), 0);
    EXPECT_EQ(std::string(whole), std::filesystem::current_path().string() + "/y.txt");
}

std::atomic<int> stage{0};
DWORD WINAPI worker(LPVOID) {
    while (stage.load() == 0) Sleep(1);
    stage = 2;
    ExitThread(7);
}

// A handle closed while its thread runs on (which holds the object) is
// refused, as are a closed file's and made-up ones; the thread is unharmed
// (the address sanitizer watches the object).
TEST(Handles, ClosedAndMadeUpHandlesAreRefusedAsOnWindowsAndThreadsOutliveTheirs) {
    stage = 0;  // a run before this one in the process left it at 2
    HANDLE running = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    ASSERT_NE(running, nullptr);
    HANDLE file = CreateFileA("/dev/null", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(file));
    ASSERT_TRUE(CloseHandle(running));
    // The closed file's slot taken again (the low 12 bits above the lowest 2
    // name the slot): the old value must still name nothing.
    auto slot = [](HANDLE h) { return (reinterpret_cast<uintptr_t>(h) >> 2) % 4096; };
    HANDLE reused = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 5000 && slot(reused) != slot(file); ++i) {
        if (reused != INVALID_HANDLE_VALUE) CloseHandle(reused);
        reused = CreateFileA("/dev/null", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ASSERT_EQ(slot(reused), slot(file));
    for (HANDLE h : {running, file, reinterpret_cast<HANDLE>(0x5000), reinterpret_cast<HANDLE>(0x1233)}) {
        char byte = 0;
        DWORD done = 9;
        SetLastError(0);
        EXPECT_TRUE(!ReadFile(h, &byte, 1, &done, nullptr) && GetLastError() == ERROR_INVALID_HANDLE && done == 0) << h;
        SetLastError(0);
        EXPECT_TRUE(!WriteFile(h, &byte, 1, &done, nullptr) && GetLastError() == ERROR_INVALID_HANDLE) << h;
        SetLastError(0);
        EXPECT_TRUE(!CloseHandle(h) && GetLastError() == ERROR_INVALID_HANDLE) << h;  // a second close
    }
    EXPECT_TRUE(CloseHandle(reused));
    stage = 1;  // the thread finishes after its handle is gone
    for (int i = 0; i < 2000 && stage.load() != 2; ++i) Sleep(1);
    EXPECT_EQ(stage.load(), 2);
}
}  // namespace
