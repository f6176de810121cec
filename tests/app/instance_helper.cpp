// Test helper: one program start as the single-instance checker sees it.
//   instance_helper.exe <checker name> <result file> <go event> <quit event>
// Waits for the go event, takes the start-up lock and holds it a moment (so
// that two unserialised starts would both see no instance), then either
// reports the running instance's window ("second 0x...", exit 2) or records a
// window of its own ("first 0x...") and stays until the quit event (exit 1).
#include "app/instance.h"

#include <cstdio>
#include <string>

namespace {
void Report(const wchar_t* file, const char* role, HWND hwnd, bool ok) {
    FILE* f = _wfopen(file, L"wb");
    if (!f) return;
    fprintf(f, "%s 0x%llx %d", role, static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)), ok ? 1 : 0);
    fclose(f);
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) return 100;
    CInstanceChecker checker(argv[1]);
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (!go || !quit) return 101;
    if (WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 102;

    checker.LockStartup();
    Sleep(300);
    if (checker.IsAnotherInstanceRunning()) {
        HWND first = checker.GetFirstInstanceWindow();
        Report(argv[2], "second", first, !checker.HoldsStartupLock());
        return 2;
    }
    HWND own = CreateWindowExW(0, L"STATIC", L"instance helper", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    bool recorded = checker.RecordMainWindow(own);
    Report(argv[2], "first", own, recorded && !checker.HoldsStartupLock());
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &quit, FALSE, 60000, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(own);
    return 1;
}
