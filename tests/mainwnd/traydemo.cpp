// Demo helper for the balloon screenshots: adds the tray icon and shows the
// key-arrival notice in the chosen language, then waits.
//   traydemo.exe <lcid> <milliseconds>
#include "mainwnd/tray.h"
#include "res/resource.h"
#include "text/langtext.h"
#include "token/devlist.h"

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 100;
    qtext::SetLcidForTest(static_cast<LCID>(_wtoi(argv[1])));
    DWORD ms = static_cast<DWORD>(_wtoi(argv[2]));
    InitDevListLock();
    HWND wnd = CreateWindowExW(0, L"STATIC", GetLangText(L"MainDlg_Title").c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME));
    if (!icon) icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    TrayNotices tray;
    tray.Init(wnd, icon);
    tray.AddIcon();
    Sleep(500);
    tray.ShowBalloon(GetLangText(L"app_Tray_TxtInfoTitle").c_str(), GetLangText(L"app_Tray_TxtInfoCome").c_str(),
                     ms);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    tray.RemoveIcon();
    DestroyWindow(wnd);
    DeleteDevListLock();
    return 0;
}
