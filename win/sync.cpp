#include "win/sync.h"

namespace win {

uint32_t Mutex::Create(const wchar_t* name, bool initialOwner) noexcept {
    Close();
    h_ = CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name);
    if (!h_) return GetLastError();
    existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
    return 0;
}

void Mutex::Close() noexcept {
    if (h_) CloseHandle(h_);
    h_ = nullptr;
    existed_ = false;
}

DWORD Mutex::Wait(DWORD timeoutMs) noexcept {
    if (!h_) return WAIT_FAILED;
    return WaitForSingleObject(h_, timeoutMs);
}

MutexLock::MutexLock(Mutex& m, DWORD timeoutMs) noexcept : m_(m) {
    DWORD w = m.Wait(timeoutMs);
    owned_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
}

MutexLock::~MutexLock() {
    if (owned_) m_.ReleaseOwnership();
}

} // namespace win
