// The thread owner: start, join with and without time-out, and a join that
// serves a worker blocked in SendMessage to the joining thread.
#include "win/thread.h"

#include <gtest/gtest.h>

namespace {

DWORD WINAPI AddOne(void* p) {
    auto* v = static_cast<LONG*>(p);
    InterlockedIncrement(v);
    return 7;
}

DWORD WINAPI WaitForEvent(void* p) {
    WaitForSingleObject(static_cast<HANDLE>(p), INFINITE);
    return 3;
}

TEST(Thread, RunsWithItsArgumentAndJoins) {
    LONG value = 41;
    win::Thread t;
    ASSERT_EQ(0u, t.Start(AddOne, &value));
    EXPECT_TRUE(t.Joinable());
    EXPECT_NE(0u, t.Id());
    EXPECT_TRUE(t.Join());
    EXPECT_EQ(42, value);
    EXPECT_EQ(7u, t.ExitCode());
    EXPECT_FALSE(t.Joinable());
    EXPECT_TRUE(t.Join());  // nothing left to wait for
}

TEST(Thread, JoinTimesOutWhileTheThreadRunsAndASecondStartIsRefused) {
    HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    win::Thread t;
    ASSERT_EQ(0u, t.Start(WaitForEvent, ev));
    EXPECT_FALSE(t.Join(50));
    EXPECT_TRUE(t.Joinable());
    LONG unused = 0;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_BUSY), t.Start(AddOne, &unused));
    SetEvent(ev);
    EXPECT_TRUE(t.Join(5000));
    EXPECT_EQ(3u, t.ExitCode());
    CloseHandle(ev);
}

TEST(Thread, StartWithoutRoutineFails) {
    win::Thread t;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_PARAMETER), t.Start(nullptr, nullptr));
    EXPECT_FALSE(t.Joinable());
}

LONG g_received = 0;
LRESULT CALLBACK CountingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP) {
        InterlockedIncrement(&g_received);
        return 5;
    }
    return DefWindowProcW(h, m, w, l);
}

DWORD WINAPI SendToWindow(void* p) {
    return static_cast<DWORD>(SendMessageW(static_cast<HWND>(p), WM_APP, 0, 0));
}

TEST(Thread, JoinServingSentMessagesLetsAWorkerFinishItsSendMessage) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuendralThreadTest";
    ASSERT_TRUE(RegisterClassW(&wc));
    HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(wnd);

    win::Thread t;
    ASSERT_EQ(0u, t.Start(SendToWindow, wnd));
    // A plain wait cannot end: the worker waits for this thread.
    EXPECT_FALSE(t.Join(300));
    EXPECT_EQ(0, g_received);
    EXPECT_TRUE(t.JoinServingSentMessages(5000));
    EXPECT_EQ(1, g_received);
    EXPECT_EQ(5u, t.ExitCode());
    DestroyWindow(wnd);
}

TEST(Thread, JoinServingSentMessagesLeavesPostedMessagesQueued) {
    HWND wnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(wnd);
    PostMessageW(wnd, WM_APP + 3, 0, 0);
    HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    win::Thread t;
    ASSERT_EQ(0u, t.Start(WaitForEvent, ev));
    EXPECT_FALSE(t.JoinServingSentMessages(100));  // times out
    SetEvent(ev);
    EXPECT_TRUE(t.JoinServingSentMessages(5000));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, wnd, WM_APP + 3, WM_APP + 3, PM_REMOVE));
    CloseHandle(ev);
    DestroyWindow(wnd);
}

} // namespace
