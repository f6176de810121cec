#include "controls/gradientstatic.h"

#include "win/optproc.h"

#include <string>

CGradientStatic::CGradientStatic() noexcept
    : endColor_(GetSysColor(COLOR_BTNFACE)),
      textColor_(GetSysColor(COLOR_CAPTIONTEXT)),
      gradientLib_(LoadLibraryA("msimg32.dll")) {
    gradientFill_ = win::OptionalProc<GradientFillFn>(gradientLib_.Get(), "GradientFill");
}

CGradientStatic::~CGradientStatic() {
    Unsubclass();
}

void CGradientStatic::PaintBands(HDC dc, const RECT& rc, COLORREF start, COLORREF end) {
    const int w = rc.right - rc.left;
    const float step = static_cast<float>(w) / 255.0f;
    const int sr = GetRValue(start), sg = GetGValue(start), sb = GetBValue(start);
    const int er = GetRValue(end), eg = GetGValue(end), eb = GetBValue(end);
    for (int i = 0; i < 255; ++i) {
        RECT band = rc;
        band.left = rc.left + static_cast<int>(static_cast<float>(i) * step);
        band.right = rc.left + static_cast<int>(static_cast<float>(i + 1) * step);
        if (band.right <= band.left) continue;  // narrower than 255 px: some bands are empty
        const int r = static_cast<int>(sr + i * (er - sr) / 255.0);
        const int g = static_cast<int>(sg + i * (eg - sg) / 255.0);
        const int b = static_cast<int>(sb + i * (eb - sb) / 255.0);
        win::Brush brush(CreateSolidBrush(RGB(r, g, b)));
        FillRect(dc, &band, brush.Get());
    }
}

void CGradientStatic::Paint(HDC dc, const RECT& rc) const {
    bool painted = false;
    if (gradientFill_) {
        TRIVERTEX v[2] = {};
        v[0].x = rc.left;
        v[0].y = rc.top;
        v[0].Red = static_cast<COLOR16>(GetRValue(startColor_) << 8);
        v[0].Green = static_cast<COLOR16>(GetGValue(startColor_) << 8);
        v[0].Blue = static_cast<COLOR16>(GetBValue(startColor_) << 8);
        v[1].x = rc.right;
        v[1].y = rc.bottom;
        v[1].Red = static_cast<COLOR16>(GetRValue(endColor_) << 8);
        v[1].Green = static_cast<COLOR16>(GetGValue(endColor_) << 8);
        v[1].Blue = static_cast<COLOR16>(GetBValue(endColor_) << 8);
        GRADIENT_RECT gr = {0, 1};
        painted = gradientFill_(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_H) != FALSE;
    }
    if (!painted) PaintBands(dc, rc, startColor_, endColor_);

    const COLORREF oldText = SetTextColor(dc, textColor_);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    {
        win::SelectGuard font(dc, Hwnd() ? GetFont() : nullptr);
        const std::wstring text = Hwnd() ? GetText() : std::wstring();
        RECT tr = rc;
        tr.left += margin_;
        DrawTextW(dc, text.c_str(), -1, &tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
    SetBkMode(dc, oldMode);
    SetTextColor(dc, oldText);
}

bool CGradientStatic::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_SETTEXT || msg == WM_ENABLE) {
        // The static control paints itself at once for these, bypassing
        // WM_PAINT (Wine does): let it, then paint the label over it.
        result = Default(msg, wp, lp);
        Invalidate(false);
        return true;
    }
    if (msg != WM_PAINT) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Hwnd(), &ps);
    if (dc) {
        Paint(dc, ClientRect());
        EndPaint(Hwnd(), &ps);
    }
    result = 0;
    return true;
}
