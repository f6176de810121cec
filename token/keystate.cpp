#include "token/keystate.h"

#include "log/log.h"
#include "win/handles.h"

#include <cstring>

namespace {

// Keeps the block alive while this program runs; closed at process exit.
win::Handle& BlockHandle() {
    static win::Handle handle;
    return handle;
}

// True when the slot starts with exactly `name`; never reads past the slot.
bool SlotHoldsName(const char* slot, const char* name, size_t nameLen) {
    if (nameLen > kKeyStateSlotSize) return false;
    if (memcmp(slot, name, nameLen) != 0) return false;
    return nameLen == kKeyStateSlotSize || slot[nameLen] == '\0';
}

} // namespace

ULONG CreateKeyStateBlock() {
    win::Handle& held = BlockHandle();
    if (held) return 0;
    HANDLE h = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kKeyStateBlockName);
    if (h) {
        held.Reset(h);
        return 0;
    }
    SetLastError(0);
    win::Handle created(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kKeyStateBlockSize, kKeyStateBlockName));
    if (!created) return 1;
    // Another tool may have created it between our open and create: its contents stay.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        held = std::move(created);
        return 0;
    }
    win::MappedView view(MapViewOfFile(created.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kKeyStateBlockSize));
    if (!view) return 2;
    memset(view.Get(), 0, kKeyStateBlockSize);
    view.Reset();
    held = std::move(created);
    return 0;
}

HANDLE AcquireKeyStateLock() {
    HANDLE h = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kKeyStateLockName);
    bool owned = false;
    if (!h) {
        // Every user and process may open it: a null DACL.
        SECURITY_DESCRIPTOR sd;
        bool sdReady = true;
        if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) {
            LogError("InitializeSecurityDescriptor error,rv=0x%08x", static_cast<unsigned>(GetLastError()));
            sdReady = false;
        } else if (!SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) {
            LogError("SetSecurityDescriptorDacl error,rv=0x%08x", static_cast<unsigned>(GetLastError()));
            sdReady = false;
        }
        SECURITY_ATTRIBUTES sa;
        sa.nLength = sizeof sa;
        sa.lpSecurityDescriptor = sdReady ? &sd : nullptr;  // a half-built descriptor is not handed on
        sa.bInheritHandle = TRUE;
        SetLastError(0);
        h = CreateMutexA(&sa, TRUE, kKeyStateLockName);
        if (!h) {
            LogError("CreateMutex error,rv=0x%08x", static_cast<unsigned>(GetLastError()));
            return nullptr;
        }
        // Created by someone else after our open failed: the initial ownership was not granted.
        owned = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    if (!owned) {
        DWORD w = WaitForSingleObject(h, INFINITE);
        if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
            CloseHandle(h);
            return nullptr;
        }
    }
    return h;
}

void ClearKeyState(const char* name) {
    if (!name) return;
    KeyStateLockGuard lock;
    win::Handle mapping(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kKeyStateBlockName));
    if (!mapping) return;
    // Mapping exactly the block's size fails on a smaller foreign block instead of overrunning it.
    win::MappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kKeyStateBlockSize));
    if (!view) return;
    char* block = static_cast<char*>(view.Get());
    size_t nameLen = strlen(name);
    for (DWORD i = 0; i < kKeyStateSlots; ++i) {
        char* slot = block + i * kKeyStateSlotSize;
        if (SlotHoldsName(slot, name, nameLen)) {
            memset(slot, 0, kKeyStateSlotSize);
            break;
        }
    }
}
