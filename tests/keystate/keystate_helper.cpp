// Helper process for the key-state tests: another tool of the family that
// holds the block or the mutex, or looks at them from outside.
//   block <ready> <quit> <file>   creates the block, fills it from the file's
//                                 2660 bytes, signals <ready>, holds it until <quit>
//   hold-lock <ready> <release>   takes the mutex, signals <ready>, releases it on <release>
//   probe-lock <ms>               exit 0 acquired (and released), 1 timed out,
//                                 2 no mutex, 3 abandoned
//   dump <file>                   writes the block's bytes to the file; exit 2 without a block
#include "token/keystate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const DWORD kHelperTimeoutMs = 60000;

HANDLE OpenEvent(const char* name) { return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name); }

int Block(const char* ready, const char* quit, const char* file) {
    char bytes[kKeyStateBlockSize] = {};
    FILE* f = fopen(file, "rb");
    if (!f) return 10;
    size_t n = fread(bytes, 1, sizeof bytes, f);
    fclose(f);
    if (n != sizeof bytes) return 11;
    HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kKeyStateBlockSize,
                                  kKeyStateBlockName);
    if (!m) return 12;
    void* view = MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, kKeyStateBlockSize);
    if (!view) return 13;
    memcpy(view, bytes, sizeof bytes);
    UnmapViewOfFile(view);
    HANDLE r = OpenEvent(ready), q = OpenEvent(quit);
    if (!r || !q) return 14;
    SetEvent(r);
    WaitForSingleObject(q, kHelperTimeoutMs);
    CloseHandle(m);
    return 0;
}

int HoldLock(const char* ready, const char* release) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kKeyStateLockName);
    if (!mutex) return 12;
    if (WaitForSingleObject(mutex, kHelperTimeoutMs) != WAIT_OBJECT_0) return 13;
    HANDLE r = OpenEvent(ready), q = OpenEvent(release);
    if (!r || !q) return 14;
    SetEvent(r);
    WaitForSingleObject(q, kHelperTimeoutMs);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

int ProbeLock(DWORD ms) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kKeyStateLockName);
    if (!mutex) return 2;
    DWORD w = WaitForSingleObject(mutex, ms);
    int rc = w == WAIT_OBJECT_0 ? 0 : w == WAIT_TIMEOUT ? 1 : w == WAIT_ABANDONED ? 3 : 4;
    if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return rc;
}

int Dump(const char* file) {
    HANDLE m = OpenFileMappingA(FILE_MAP_READ, FALSE, kKeyStateBlockName);
    if (!m) return 2;
    void* view = MapViewOfFile(m, FILE_MAP_READ, 0, 0, kKeyStateBlockSize);
    if (!view) return 3;
    FILE* f = fopen(file, "wb");
    if (!f) return 4;
    fwrite(view, 1, kKeyStateBlockSize, f);
    fclose(f);
    UnmapViewOfFile(view);
    CloseHandle(m);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "block" && argc == 5) return Block(argv[2], argv[3], argv[4]);
    if (cmd == "hold-lock" && argc == 4) return HoldLock(argv[2], argv[3]);
    if (cmd == "probe-lock" && argc == 3) return ProbeLock(strtoul(argv[2], nullptr, 10));
    if (cmd == "dump" && argc == 3) return Dump(argv[2]);
    return 100;
}
