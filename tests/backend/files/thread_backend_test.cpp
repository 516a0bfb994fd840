// Threads over the POSIX layer: a handle closed while its thread still runs.
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

}  // namespace
