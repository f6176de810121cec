// Test helper: shows a standard dialog with the given title for a while and
// exits with the number of WM_CLOSE requests it got (it never closes on them).
//   dlghost.exe <title> <milliseconds>
#include <windows.h>

#include <cstdlib>

namespace {
int g_closes = 0;

INT_PTR CALLBACK Proc(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_CLOSE) {
        ++g_closes;
        return TRUE;
    }
    return FALSE;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 100;
    alignas(4) WORD tmpl[32] = {};
    auto* dt = reinterpret_cast<DLGTEMPLATE*>(tmpl);
    dt->style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    dt->cx = 120;
    dt->cy = 60;
    HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dt, nullptr, Proc, 0);
    if (!dlg) return 101;
    SetWindowTextW(dlg, argv[1]);
    DWORD ms = static_cast<DWORD>(_wtoi(argv[2]));
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    DestroyWindow(dlg);
    return g_closes;
}
