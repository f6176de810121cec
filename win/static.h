// win::Static: a static control of a dialog. Derive and Subclass() to paint it
// yourself (WM_PAINT in OnMessage).
#pragma once

#include "win/window.h"

namespace win {

class Static : public Window {
public:
    Static() noexcept = default;
    explicit Static(HWND hwnd) noexcept : Window(hwnd) {}

    // STM_SETIMAGE; returns the previous image.
    HANDLE SetImage(UINT type, HANDLE image) const noexcept {
        return reinterpret_cast<HANDLE>(Send(STM_SETIMAGE, type, reinterpret_cast<LPARAM>(image)));
    }
    HICON SetIcon(HICON icon) const noexcept {
        return reinterpret_cast<HICON>(Send(STM_SETICON, reinterpret_cast<WPARAM>(icon)));
    }
};

} // namespace win
