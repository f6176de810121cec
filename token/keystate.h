// The family's shared key-state block "NORV_VESTRA_SM_QOR_ZAF" (5 slots of
// 532 bytes, each starting with a zero-terminated ANSI key name) and its
// mutex "NORV_VESTRA_SMLOCK_QOR_ZAF". This program only creates the block and
// zeroes slots.
#pragma once

#include <windows.h>

constexpr DWORD kKeyStateSlotSize = 532;
constexpr DWORD kKeyStateSlots = 5;
constexpr DWORD kKeyStateBlockSize = kKeyStateSlotSize * kKeyStateSlots;

constexpr char kKeyStateBlockName[] = "NORV_VESTRA_SM_QOR_ZAF";
constexpr char kKeyStateLockName[] = "NORV_VESTRA_SMLOCK_QOR_ZAF";

// 0 exists (now or before); 1 creation failed; 2 created but mapping failed.
// The block's handle stays open until the process ends.
ULONG CreateKeyStateBlock();
// The mutex, held once by the caller; null when it could neither be opened nor created.
HANDLE AcquireKeyStateLock();
// Zeroes the first slot whose key name equals `name`. Null name: nothing.
// A slot's name is read only inside its 532 bytes: a name that fills the whole
// slot without a terminator is compared as those 532 bytes.
void ClearKeyState(const char* name);

// Holds the mutex from AcquireKeyStateLock for a scope: released and closed at its end.
class KeyStateLockGuard {
public:
    KeyStateLockGuard() noexcept : h_(AcquireKeyStateLock()) {}
    ~KeyStateLockGuard() {
        if (h_) {
            ReleaseMutex(h_);
            CloseHandle(h_);
        }
    }
    KeyStateLockGuard(const KeyStateLockGuard&) = delete;
    KeyStateLockGuard& operator=(const KeyStateLockGuard&) = delete;
    bool Held() const noexcept { return h_ != nullptr; }

private:
    HANDLE h_;
};
