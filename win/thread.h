// win::Thread: a joinable thread owner over CreateThread.
#pragma once

#include <windows.h>

#include <cstdint>

namespace win {

class Thread {
public:
    // The thread routine: DWORD WINAPI Fn(void* arg).
    using Proc = LPTHREAD_START_ROUTINE;

    Thread() noexcept = default;
    // A thread still running is waited for (without time limit), so its
    // argument never outlives it unnoticed; Join explicitly where that matters.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts proc(arg). 0, ERROR_BUSY when a thread is already owned (join it
    // first), or CreateThread's GetLastError().
    uint32_t Start(Proc proc, void* arg) noexcept;

    // Waits for the thread; true when it has ended (the handle is then closed
    // and ExitCode() valid), false on time-out (the thread stays owned).
    bool Join(DWORD timeoutMs = INFINITE) noexcept;
    // The same, but keeps serving messages that other threads send to this
    // thread (SendMessage) while waiting, so a UI thread can wait for a worker
    // that is blocked in SendMessage to one of this thread's windows. Posted
    // messages stay queued.
    bool JoinServingSentMessages(DWORD timeoutMs = INFINITE) noexcept;

    bool Joinable() const noexcept { return handle_ != nullptr; }
    DWORD Id() const noexcept { return id_; }
    HANDLE NativeHandle() const noexcept { return handle_; }
    DWORD ExitCode() const noexcept { return exitCode_; }

private:
    void Finish() noexcept;

    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    DWORD exitCode_ = 0;
};

} // namespace win
