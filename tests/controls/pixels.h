// A 32-bpp top-down DIB to draw into and read back, and window captures.
#pragma once

#include "win/handles.h"

#include <cstdint>
#include <vector>

class PixelCanvas {
public:
    PixelCanvas(int w, int h, COLORREF fill = RGB(255, 0, 255)) : w_(w), h_(h) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;  // top-down
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dc_.Reset(CreateCompatibleDC(nullptr));
        bmp_.Reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<uint32_t*>(bits);
        old_ = SelectObject(dc_.Get(), bmp_.Get());
        Fill(fill);
    }
    ~PixelCanvas() { SelectObject(dc_.Get(), old_); }
    PixelCanvas(const PixelCanvas&) = delete;
    PixelCanvas& operator=(const PixelCanvas&) = delete;

    HDC Dc() const { return dc_.Get(); }
    int Width() const { return w_; }
    int Height() const { return h_; }
    RECT Rect() const { return RECT{0, 0, w_, h_}; }

    void Fill(COLORREF c) {
        GdiFlush();
        win::Brush b(CreateSolidBrush(c));
        RECT rc = Rect();
        FillRect(dc_.Get(), &rc, b.Get());
        GdiFlush();
    }
    COLORREF At(int x, int y) const {
        GdiFlush();
        uint32_t v = bits_[static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x)];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Copies the client area of a window (what is on the screen) to (0, 0).
    bool CaptureClient(HWND wnd) {
        win::WindowDC src(wnd);
        bool ok = BitBlt(dc_.Get(), 0, 0, w_, h_, src.Get(), 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        return ok;
    }

private:
    int w_, h_;
    win::MemoryDC dc_;
    win::Bitmap bmp_;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

inline void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
