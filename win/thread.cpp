#include "win/thread.h"

namespace win {

Thread::~Thread() {
    Join(INFINITE);
}

uint32_t Thread::Start(Proc proc, void* arg) noexcept {
    if (handle_) return ERROR_BUSY;
    if (!proc) return ERROR_INVALID_PARAMETER;
    exitCode_ = 0;
    handle_ = CreateThread(nullptr, 0, proc, arg, 0, &id_);
    if (!handle_) {
        DWORD err = GetLastError();
        id_ = 0;
        return err ? err : ERROR_GEN_FAILURE;
    }
    return 0;
}

void Thread::Finish() noexcept {
    GetExitCodeThread(handle_, &exitCode_);
    CloseHandle(handle_);
    handle_ = nullptr;
    id_ = 0;
}

bool Thread::Join(DWORD timeoutMs) noexcept {
    if (!handle_) return true;
    if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) return false;
    Finish();
    return true;
}

bool Thread::JoinServingSentMessages(DWORD timeoutMs) noexcept {
    if (!handle_) return true;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            DWORD spent = GetTickCount() - start;
            wait = spent >= timeoutMs ? 0 : timeoutMs - spent;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &handle_, FALSE, wait, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) {
            Finish();
            return true;
        }
        if (r != WAIT_OBJECT_0 + 1) return false;  // time-out or failure
        // Peeking delivers the messages sent from other threads; nothing is removed.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace win
