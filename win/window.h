// win::Window: a non-owning wrapper of one HWND with the common calls, and the
// way a C++ object handles an existing window's messages (subclassing through
// comctl32's SetWindowSubclass).
//
// Subclass(hwnd) makes this object see every message of that window in
// OnMessage() before the window's own procedure. OnMessage returns true when
// it handled the message (result is then the message's result) and false to
// let the window's own procedure run. Default() calls that procedure from
// inside a handler ("let the control process it first"). The hook is removed
// at WM_NCDESTROY or when the object is destroyed, whichever comes first.
//
// Parents forward owner-draw messages (WM_DRAWITEM, WM_MEASUREITEM, ...) to the
// control's object with ReflectToChild() (see also win::Dialog, which does
// that by default); the control receives them in OnReflected().
//
// Only the window's own thread may call Subclass/Unsubclass.
#pragma once

#include <windows.h>

#include <string>

namespace win {

class Window {
public:
    Window() noexcept = default;
    explicit Window(HWND hwnd) noexcept : hwnd_(hwnd) {}
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Hwnd() const noexcept { return hwnd_; }
    // Points the wrapper at another window (not subclassed). Fails (false)
    // while this object subclasses a window.
    bool Attach(HWND hwnd) noexcept;

    // Subclassing; Subclass returns false when hwnd is null, the object
    // already subclasses a window, or SetWindowSubclass fails.
    bool Subclass(HWND hwnd) noexcept;
    void Unsubclass() noexcept;
    bool IsSubclassed() const noexcept { return subclassed_; }
    // The object that subclasses hwnd, or null.
    static Window* FromHandle(HWND hwnd) noexcept;

    LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const noexcept {
        return SendMessageW(hwnd_, msg, wp, lp);
    }
    bool Post(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const noexcept {
        return PostMessageW(hwnd_, msg, wp, lp) != FALSE;
    }
    void SetText(const std::wstring& text) const noexcept { SetWindowTextW(hwnd_, text.c_str()); }
    std::wstring GetText() const;
    void Enable(bool on) const noexcept { EnableWindow(hwnd_, on ? TRUE : FALSE); }
    bool IsEnabled() const noexcept { return IsWindowEnabled(hwnd_) != FALSE; }
    void ShowWindow(int cmd) const noexcept { ::ShowWindow(hwnd_, cmd); }
    bool IsVisible() const noexcept { return IsWindowVisible(hwnd_) != FALSE; }
    void Invalidate(bool erase = true) const noexcept { InvalidateRect(hwnd_, nullptr, erase ? TRUE : FALSE); }
    RECT ClientRect() const noexcept;
    void SetFont(HFONT font, bool redraw = true) const noexcept {
        Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? TRUE : FALSE);
    }
    HFONT GetFont() const noexcept { return reinterpret_cast<HFONT>(Send(WM_GETFONT)); }

protected:
    // The message hook of a subclassed window; see the file comment.
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    // A message the parent forwarded (owner drawing); false = not handled.
    virtual bool OnReflected(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    // The window's own procedure for the current message (only while subclassed).
    LRESULT Default(UINT msg, WPARAM wp, LPARAM lp) noexcept;

    friend bool ReflectToChild(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

private:
    // What the hook does with a message: OnMessage here; win::Dialog adds its
    // own default handling behind it.
    virtual bool Dispatch(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    HWND hwnd_ = nullptr;
    bool subclassed_ = false;
};

// Forwards WM_DRAWITEM, WM_MEASUREITEM, WM_COMPAREITEM and WM_DELETEITEM that
// `parent` received to the Window object subclassing the control named in the
// message (found by DRAWITEMSTRUCT::hwndItem, or by the control id for
// WM_MEASUREITEM). Returns true when that object handled it; result then holds
// what the parent's window procedure should return (TRUE for draw/measure).
// Menus (CtlType ODT_MENU) are never forwarded.
bool ReflectToChild(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

} // namespace win
