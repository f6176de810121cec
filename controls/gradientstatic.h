// CGradientStatic: the caption bar above each list of the main dialog. Paints
// its client area with a horizontal gradient from a fixed blue to the button
// face colour (GradientFill from msimg32.dll when present, else 255 solid
// bands) and writes its window text over it: 10 px from the left, vertically
// centred, one line, clipped.
//
// Bind it to a dialog's static control with Subclass(hwnd).
#pragma once

#include "win/handles.h"
#include "win/static.h"

class CGradientStatic : public win::Static {
public:
    static constexpr COLORREF kStartColor = RGB(37, 119, 227);
    static constexpr int kMargin = 10;

    // Reads the colours (COLOR_BTNFACE, COLOR_CAPTIONTEXT) and loads
    // msimg32.dll's GradientFill (through win::FindOptionalProc).
    CGradientStatic() noexcept;
    ~CGradientStatic() override;

    bool HasNativeGradient() const noexcept { return gradientFill_ != nullptr; }
    COLORREF StartColor() const noexcept { return startColor_; }
    COLORREF EndColor() const noexcept { return endColor_; }

    // Paints the whole label into dc over rc (what WM_PAINT does); public so a
    // test can render into a DC of its own.
    void Paint(HDC dc, const RECT& rc) const;

    // The 255-band fallback over rc.
    static void PaintBands(HDC dc, const RECT& rc, COLORREF start, COLORREF end);

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    using GradientFillFn = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

    int margin_ = kMargin;
    COLORREF startColor_ = kStartColor;
    COLORREF endColor_;
    COLORREF textColor_;
    win::Module gradientLib_;
    GradientFillFn gradientFill_ = nullptr;
};
