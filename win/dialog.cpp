#include "win/dialog.h"

namespace win {

Dialog::Dialog(UINT templateId, HINSTANCE module) noexcept
    : templateId_(templateId), module_(module ? module : GetModuleHandleW(nullptr)) {}

Dialog::~Dialog() {
    HWND h = Hwnd();
    if (h && IsWindow(h)) {
        // Derived parts are gone already: unhook before the window goes.
        Unsubclass();
        SetWindowLongPtrW(h, DWLP_USER, 0);
        ::DestroyWindow(h);
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM, LPARAM lp) {
    if (msg != WM_INITDIALOG) return FALSE;  // everything else: the hook, then the dialog manager
    Dialog* self = reinterpret_cast<Dialog*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    if (!self->Subclass(hwnd)) self->Attach(hwnd);
    return self->OnInitDialog();
}

Dialog* Dialog::FromDialogHandle(HWND hwnd) noexcept {
    return dynamic_cast<Dialog*>(Window::FromHandle(hwnd));
}

INT_PTR Dialog::DoModal(HWND owner) {
    if (Hwnd() || modalRunning_ || creating_) return -1;
    HWND root = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    modal_ = true;
    ended_ = false;
    result_ = -1;
    creating_ = true;
    HWND hwnd = CreateDialogParamW(module_, MAKEINTRESOURCEW(templateId_), root, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    creating_ = false;
    if (!hwnd) {
        modal_ = false;
        return -1;
    }
    bool ownerDisabled = false;
    if (root && !ended_ && IsWindowEnabled(root)) {
        EnableWindow(root, FALSE);
        ownerDisabled = true;
    }
    modalRunning_ = true;
    // As DialogBox does: a modal dialog is shown even when its template is not
    // visible (a dialog that refuses to show keeps itself hidden).
    if (!ended_ && IsWindow(hwnd) && !IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);

    bool quit = false;
    while (!ended_ && IsWindow(hwnd)) {
        MSG msg;
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loops
            quit = true;
            break;
        }
        if (r == -1) {
            quit = true;
            break;
        }
        if (!PumpDialogMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    modalRunning_ = false;
    if (ownerDisabled) EnableWindow(root, TRUE);  // before hiding, so the owner gets activated
    if (IsWindow(hwnd)) {
        ::ShowWindow(hwnd, SW_HIDE);
        ::DestroyWindow(hwnd);
    }
    modal_ = false;
    return (ended_ && !quit) ? result_ : -1;
}

bool Dialog::Create(HWND owner) {
    if (Hwnd() || modalRunning_ || creating_) return false;
    modal_ = false;
    ended_ = false;
    result_ = -1;
    creating_ = true;
    HWND hwnd = CreateDialogParamW(module_, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    creating_ = false;
    if (hwnd && ended_) {  // EndDialog during OnInitDialog
        ::DestroyWindow(hwnd);
        return false;
    }
    return hwnd != nullptr;
}

void Dialog::DestroyWindow() noexcept {
    HWND h = Hwnd();
    if (h && IsWindow(h)) ::DestroyWindow(h);
}

void Dialog::EndDialog(INT_PTR result) noexcept {
    result_ = result;
    ended_ = true;
    if (creating_) return;  // the creator finishes the job
    if (modal_) {
        // Wake the modal loop, in case this runs outside of its dispatch.
        if (Hwnd()) PostMessageW(Hwnd(), WM_NULL, 0, 0);
        return;
    }
    DestroyWindow();
}

void Dialog::SetItemText(int id, const std::wstring& text) const noexcept {
    SetDlgItemTextW(Hwnd(), id, text.c_str());
}

std::wstring Dialog::GetItemText(int id) const {
    HWND item = Item(id);
    if (!item) return std::wstring();
    return Window(item).GetText();
}

void Dialog::EnableItem(int id, bool on) const noexcept {
    if (HWND item = Item(id)) EnableWindow(item, on ? TRUE : FALSE);
}

bool Dialog::IsItemEnabled(int id) const noexcept {
    HWND item = Item(id);
    return item && IsWindowEnabled(item);
}

void Dialog::ShowItem(int id, bool show) const noexcept {
    if (HWND item = Item(id)) ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

bool Dialog::IsItemVisible(int id) const noexcept {
    HWND item = Item(id);
    return item && IsWindowVisible(item);
}

LRESULT Dialog::SendItem(int id, UINT msg, WPARAM wp, LPARAM lp) const noexcept {
    return SendDlgItemMessageW(Hwnd(), id, msg, wp, lp);
}

int Dialog::MsgBox(const std::wstring& text, const std::wstring& caption, UINT style) const noexcept {
    return MessageBoxW(Hwnd(), text.c_str(), caption.c_str(), style);
}

bool Dialog::PumpDialogMessage(MSG& msg) {
    if (!msg.hwnd) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    Dialog* d = FromDialogHandle(root);
    if (!d) return false;
    if (d->PreTranslateMessage(msg)) return true;
    return IsDialogMessageW(root, &msg) != FALSE;
}

BOOL Dialog::OnInitDialog() {
    return TRUE;
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

bool Dialog::PreTranslateMessage(MSG&) {
    return false;
}

void Dialog::OnOK() {
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool Dialog::Dispatch(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (OnMessage(msg, wp, lp, result)) return true;
    return DefaultHandling(msg, wp, lp, result);
}

bool Dialog::DefaultHandling(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) {
            if (LOWORD(wp) == IDOK) {
                OnOK();
                result = 0;
                return true;
            }
            if (LOWORD(wp) == IDCANCEL) {
                OnCancel();
                result = 0;
                return true;
            }
        }
        return false;
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_DELETEITEM:
        return ReflectToChild(Hwnd(), msg, wp, lp, result);
    default:
        return false;
    }
}

} // namespace win
