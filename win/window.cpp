#include "win/window.h"

#include <commctrl.h>

#include <vector>

namespace win {
namespace {
constexpr UINT_PTR kSubclassId = 0x51E7;  // one hook per window for this layer
// The object behind a window. A property rather than GetWindowSubclass, which
// the x86_64 import library does not offer.
constexpr wchar_t kObjectProp[] = L"Quendral.win.Window";
} // namespace

Window::~Window() {
    Unsubclass();
}

bool Window::Attach(HWND hwnd) noexcept {
    if (subclassed_) return false;
    hwnd_ = hwnd;
    return true;
}

bool Window::Subclass(HWND hwnd) noexcept {
    if (!hwnd || subclassed_ || !IsWindow(hwnd)) return false;
    if (FromHandle(hwnd)) return false;  // another object already handles it
    if (!SetPropW(hwnd, kObjectProp, this)) return false;
    if (!SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        RemovePropW(hwnd, kObjectProp);
        return false;
    }
    hwnd_ = hwnd;
    subclassed_ = true;
    return true;
}

void Window::Unsubclass() noexcept {
    if (!subclassed_) return;
    if (IsWindow(hwnd_)) {
        RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
        RemovePropW(hwnd_, kObjectProp);
    }
    subclassed_ = false;
}

Window* Window::FromHandle(HWND hwnd) noexcept {
    if (!hwnd) return nullptr;
    return static_cast<Window*>(GetPropW(hwnd, kObjectProp));
}

std::wstring Window::GetText() const {
    int n = GetWindowTextLengthW(hwnd_);
    if (n <= 0) return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1, L'\0');
    int got = GetWindowTextW(hwnd_, buf.data(), n + 1);
    return std::wstring(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

RECT Window::ClientRect() const noexcept {
    RECT rc = {};
    GetClientRect(hwnd_, &rc);
    return rc;
}

bool Window::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

bool Window::OnReflected(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

bool Window::Dispatch(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    return OnMessage(msg, wp, lp, result);
}

LRESULT Window::Default(UINT msg, WPARAM wp, LPARAM lp) noexcept {
    return DefSubclassProc(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK Window::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
    Window* self = reinterpret_cast<Window*>(ref);
    if (msg == WM_NCDESTROY) {
        // The window goes: unhook first, so nothing reaches a stale object.
        LRESULT result = 0;
        bool handled = self->Dispatch(msg, wp, lp, result);
        RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
        RemovePropW(hwnd, kObjectProp);
        self->subclassed_ = false;
        self->hwnd_ = nullptr;
        return handled ? result : DefSubclassProc(hwnd, msg, wp, lp);
    }
    LRESULT result = 0;
    if (self->Dispatch(msg, wp, lp, result)) return result;
    return DefSubclassProc(hwnd, msg, wp, lp);
}

bool ReflectToChild(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (!lp) return false;
    HWND child = nullptr;
    switch (msg) {
    case WM_DRAWITEM: {
        const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (d->CtlType == ODT_MENU) return false;
        child = d->hwndItem;
        break;
    }
    case WM_MEASUREITEM: {
        const auto* m = reinterpret_cast<const MEASUREITEMSTRUCT*>(lp);
        if (m->CtlType == ODT_MENU) return false;
        child = GetDlgItem(parent, static_cast<int>(m->CtlID));
        break;
    }
    case WM_COMPAREITEM:
        child = reinterpret_cast<const COMPAREITEMSTRUCT*>(lp)->hwndItem;
        break;
    case WM_DELETEITEM:
        child = reinterpret_cast<const DELETEITEMSTRUCT*>(lp)->hwndItem;
        break;
    default:
        return false;
    }
    Window* w = Window::FromHandle(child);
    return w && w->OnReflected(msg, wp, lp, result);
}

} // namespace win
