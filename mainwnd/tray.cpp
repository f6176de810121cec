#include "mainwnd/tray.h"

#include "res/resource.h"
#include "text/langtext.h"
#include "token/devlist.h"

#include <cstring>
#include <cwctype>
#include <string>

namespace {

qtray::ShellNotifyFn g_shellNotify = nullptr;

// Copies at most size - 1 units, never splitting a surrogate pair.
void CopyCut(wchar_t* dst, size_t size, const wchar_t* src) {
    memset(dst, 0, size * sizeof(wchar_t));
    if (!src) return;
    size_t len = wcsnlen(src, size);
    if (len >= size) {
        len = size - 1;
        if (len > 0 && IS_HIGH_SURROGATE(src[len - 1])) --len;
    }
    memcpy(dst, src, len * sizeof(wchar_t));
}

void EnableItem(HWND dlg, int id, bool on) { EnableWindow(GetDlgItem(dlg, id), on ? TRUE : FALSE); }

// The first top-level "#32770" window of this process with that title.
HWND FindOwnDialog(const wchar_t* title) {
    const DWORD self = GetCurrentProcessId();
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, L"#32770", title)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == self) return w;
    }
    return nullptr;
}

} // namespace

TrayNotices::TrayNotices() noexcept { memset(&nid_, 0, sizeof nid_); }

void TrayNotices::Init(HWND dialog, HICON icon) {
    dialog_ = dialog;
    memset(&nid_, 0, sizeof nid_);
    nid_.cbSize = kTrayRecordSize;
    nid_.hWnd = dialog;
    nid_.uID = kTrayIconId;
    nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid_.uCallbackMessage = kTrayCallbackMessage;
    nid_.hIcon = icon;
    CopyCut(nid_.szTip, sizeof nid_.szTip / sizeof nid_.szTip[0], GetLangText(L"app_Tray_Txt").c_str());
    nid_.uTimeout = 3;
    nid_.dwInfoFlags = NIIF_NOSOUND;
}

BOOL TrayNotices::Notify(DWORD message) {
    return g_shellNotify ? g_shellNotify(message, &nid_) : Shell_NotifyIconW(message, &nid_);
}

void TrayNotices::AddIcon() {
    UINT flags = nid_.uFlags;
    nid_.uFlags &= ~static_cast<UINT>(NIF_INFO);
    if (Notify(NIM_ADD)) iconAdded_ = true;
    nid_.uFlags = flags;
}

void TrayNotices::RemoveIcon() {
    Notify(NIM_DELETE);
    iconAdded_ = false;
}

void TrayNotices::ShowBalloon(const wchar_t* title, const wchar_t* text, UINT ms) {
    KillTimer(dialog_, kBalloonTimerId);
    HideBalloon();
    nid_.uFlags |= NIF_INFO;
    nid_.uTimeout = ms;
    nid_.dwInfoFlags = NIIF_INFO;
    CopyCut(nid_.szInfo, sizeof nid_.szInfo / sizeof nid_.szInfo[0], text);
    CopyCut(nid_.szInfoTitle, sizeof nid_.szInfoTitle / sizeof nid_.szInfoTitle[0], title);
    SetTimer(dialog_, kBalloonTimerId, ms, nullptr);
    Notify(NIM_MODIFY);
}

void TrayNotices::HideBalloon() {
    nid_.uFlags |= NIF_INFO;
    nid_.dwInfoFlags = NIIF_INFO;
    nid_.szInfo[0] = 0;
    Notify(NIM_MODIFY);
}

void TrayNotices::OnTimer(UINT_PTR id) {
    // Also where the shell ignores uTimeout.
    if (id == kBalloonTimerId) {
        KillTimer(dialog_, kBalloonTimerId);
        HideBalloon();
    }
}

LRESULT TrayNotices::OnTrayNotify(WPARAM, LPARAM lp) {
    if (LOWORD(lp) != WM_LBUTTONDBLCLK) return 1;
    allowShow = 1;
    UpdateButtonStates();
    ShowWindow(dialog_, IsWindowVisible(dialog_) ? SW_HIDE : SW_SHOW);
    return 1;
}

void TrayNotices::UpdateButtonStates() {
    if (ListGetDevCount() == 0) {
        for (int id = IDC_BTN_CHGDEVNAME; id <= IDC_BTN_REGCERT; ++id) EnableItem(dialog_, id, false);
        EnableItem(dialog_, IDC_BTN_SETTING, true);
        return;
    }
    EnableItem(dialog_, IDC_BTN_CHGDEVNAME, true);
    EnableItem(dialog_, IDC_BTN_VERIFYPIN, true);
    EnableItem(dialog_, IDC_BTN_CHGPIN, true);
    bool certs = SendDlgItemMessageW(dialog_, IDC_LIST_CERT, LB_GETCOUNT, 0, 0) > 0;
    EnableItem(dialog_, IDC_BTN_SHOWCERT, certs);
    EnableItem(dialog_, IDC_BTN_REGCERT, certs);
    EnableItem(dialog_, IDC_BTN_SETTING, true);
    SetFocus(GetDlgItem(dialog_, IDC_LIST_DEV));
}

void TrayNotices::ShowMainWindow() {
    allowShow = 1;
    if (!IsWindowVisible(dialog_)) {
        if (ListGetDevCount() == 0) {
            for (int id = IDC_BTN_CHGDEVNAME; id <= IDC_BTN_REGCERT; ++id) EnableItem(dialog_, id, false);
            EnableItem(dialog_, IDC_BTN_SETTING, true);
            return;  // nothing to show while no key is present
        }
        UpdateButtonStates();
        ShowWindow(dialog_, SW_SHOW);
    }
    if (IsIconic(dialog_)) ShowWindow(dialog_, SW_SHOWNORMAL);
}

void TrayNotices::OnClose() { ShowWindow(dialog_, SW_HIDE); }

void TrayNotices::OnWindowPosChanging(WINDOWPOS* pos) const {
    if (pos && allowShow == 0) pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
}

void TrayNotices::CloseAllDlgs() {
    static const wchar_t* const kTitles[] = {
        L"Dlg_About_Title",     L"Dlg_ShowCert_Title", L"Dlg_ChgDevName_Title", L"Dlg_VerifyPIN_Title",
        L"Dlg_ChgPIN_Title",    L"Dlg_Setting_Title",  L"MainDlg_Title",
    };
    for (const wchar_t* key : kTitles) CloseDlgByTitle(GetLangText(key).c_str());
    RemoveIcon();
}

void CloseDlgByTitle(const wchar_t* title) {
    if (!title) return;
    std::wstring t = title;
    size_t b = 0;
    while (b < t.size() && iswspace(t[b])) ++b;
    size_t e = t.size();
    while (e > b && iswspace(t[e - 1])) --e;
    if (b == e) return;
    t = t.substr(b, e - b);

    // A dialog that answers WM_CLOSE without going away (the main dialog only
    // hides; a modal one below the caller goes only after the caller returns)
    // is found again; the bound ends the loop.
    unsigned sent = 0;
    HWND w = FindOwnDialog(t.c_str());
    while (w && IsWindow(w)) {
        SendMessageW(w, WM_CLOSE, 0, 0);
        if (++sent >= 11) break;
        w = FindOwnDialog(t.c_str());
    }
}

namespace qtray {
void SetShellNotifyForTest(ShellNotifyFn fn) { g_shellNotify = fn; }
}
