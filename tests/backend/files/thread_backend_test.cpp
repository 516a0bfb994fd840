// Threads and handles over the POSIX layer: a handle closed while its thread
// still runs, and handles that are closed or were never opened.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/win32.h"

namespace {

std::atomic<int> stage{0};

DWORD WINAPI worker(LPVOID) {
    while (stage.load() == 0) Sleep(1);
    stage = 2;
    ExitThread(7);
}

TEST(Threads, AHandleClosedWhileItsThreadRunsLeavesTheThreadUnharmed) {
    HANDLE t = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(t));
    stage = 1;  // the thread finishes after its handle is gone
    for (int i = 0; i < 2000 && stage.load() != 2; ++i) Sleep(1);
    EXPECT_EQ(stage.load(), 2);
    Sleep(20);  // let it leave; the address sanitizer watches the object
}

TEST(Threads, WaitingOnAThreadReturnsWhenItEnds) {
    stage = 1;
    HANDLE t = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(stage.load(), 2);
    EXPECT_TRUE(CloseHandle(t));
}

TEST(Handles, ClosedAndMadeUpHandlesAreRefusedAsOnWindows) {
    HANDLE file = CreateFileA("/dev/null", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    stage = 1;
    HANDLE thread = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    ASSERT_TRUE(CloseHandle(file));
    ASSERT_TRUE(CloseHandle(thread));
    for (HANDLE h : {file, thread, reinterpret_cast<HANDLE>(0x5000), reinterpret_cast<HANDLE>(0x1233)}) {
        char byte = 0;
        DWORD done = 9;
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, &byte, 1, &done, nullptr)) << h;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << h;
        EXPECT_EQ(done, 0u) << h;
        SetLastError(0);
        EXPECT_FALSE(WriteFile(h, &byte, 1, &done, nullptr)) << h;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << h;
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(h)) << h;  // a second close
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << h;
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED) << h;
    }
}

}  // namespace
