#include "tests/mainwnd/uitest.h"

#include "mainwnd/tray.h"
#include "res/resource.h"
#include "win/window.h"

#include <cstring>

namespace uitest {

namespace {

const wchar_t kClass[] = L"QuendralUiTestWindow";

void RegisterOnce() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
    done = true;
}

TrayRecorder* g_recorder = nullptr;

} // namespace

TestWindow::TestWindow(Handler h, const wchar_t* title, DWORD style) : handler(std::move(h)) {
    RegisterOnce();
    hwnd_ = CreateWindowExW(0, kClass, title, style, 100, 100, 640, 400, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestWindow::Proc));
    }
}

TestWindow::~TestWindow() {
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK TestWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->handler) {
        LRESULT result = 0;
        if (self->handler(hwnd, msg, wp, lp, result)) return result;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

MainDialogStandIn::MainDialogStandIn(Handler ex) : win::Dialog(IDD_QUENDRAL_DIALOG), extra(std::move(ex)) {
    Create(nullptr);
}

MainDialogStandIn::~MainDialogStandIn() { DestroyWindow(); }

BOOL MainDialogStandIn::OnInitDialog() {
    keys.Subclass(Item(IDC_LIST_DEV));
    certs.Subclass(Item(IDC_LIST_CERT));
    return TRUE;
}

bool MainDialogStandIn::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (extra && extra(Hwnd(), msg, wp, lp, result)) return true;
    return win::Dialog::OnMessage(msg, wp, lp, result);
}

StdDialog::StdDialog(const std::wstring& title, bool refuseClose) : refuse_(refuseClose) {
    // An in-memory template: no menu, the standard class, empty title, no controls.
    alignas(4) WORD tmpl[32] = {};
    auto* dt = reinterpret_cast<DLGTEMPLATE*>(tmpl);
    dt->style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    dt->cx = 120;
    dt->cy = 60;
    hwnd_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dt, nullptr, &StdDialog::Proc,
                                       reinterpret_cast<LPARAM>(this));
    if (hwnd_) SetWindowTextW(hwnd_, title.c_str());
}

StdDialog::~StdDialog() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

INT_PTR CALLBACK StdDialog::Proc(HWND hwnd, UINT msg, WPARAM, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        return TRUE;
    }
    auto* self = reinterpret_cast<StdDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (msg == WM_CLOSE) {
        ++self->closeRequests;
        if (self->onClose) self->onClose();
        if (!self->refuse_) DestroyWindow(hwnd);
        return TRUE;
    }
    if (msg == WM_NCDESTROY) self->hwnd_ = nullptr;
    return FALSE;
}

void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!pred()) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return pred();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

DWORD WaitProcessPumping(HANDLE process, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return WAIT_TIMEOUT;
        DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, timeoutMs - spent, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        if (r != WAIT_OBJECT_0 + 1) return r;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

HANDLE StartProcess(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD RunPumping(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs) {
    HANDLE p = StartProcess(exe, args);
    if (!p) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    if (WaitProcessPumping(p, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(p, &code);
    else TerminateProcess(p, 0xFFFFFFFF);
    CloseHandle(p);
    return code;
}

TrayRecorder::TrayRecorder(bool passToShell) : pass_(passToShell) {
    g_recorder = this;
    qtray::SetShellNotifyForTest(&TrayRecorder::Hook);
}

TrayRecorder::~TrayRecorder() {
    qtray::SetShellNotifyForTest(nullptr);
    g_recorder = nullptr;
}

size_t TrayRecorder::Count(DWORD message) const {
    size_t n = 0;
    for (const auto& c : calls) n += c.message == message ? 1 : 0;
    return n;
}

BOOL WINAPI TrayRecorder::Hook(DWORD message, NOTIFYICONDATAW* data) {
    BOOL result = TRUE;
    if (g_recorder && g_recorder->pass_) result = Shell_NotifyIconW(message, data);
    if (g_recorder) {
        g_recorder->calls.push_back(TrayCall{message, data->uFlags, data->uTimeout, data->dwInfoFlags, data->szInfo,
                                             data->szInfoTitle, data->cbSize, result, GetTickCount()});
    }
    return result;
}

SYSTEMTIME Today() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return Date(st.wYear, st.wMonth, st.wDay);
}

SYSTEMTIME AddDays(const SYSTEMTIME& date, int days) {
    FILETIME ft;
    SystemTimeToFileTime(&date, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += static_cast<LONGLONG>(days) * 24LL * 3600LL * 10000000LL;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    SYSTEMTIME out;
    FileTimeToSystemTime(&ft, &out);
    return out;
}

SYSTEMTIME Date(int y, int m, int d) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    return st;
}

} // namespace uitest
