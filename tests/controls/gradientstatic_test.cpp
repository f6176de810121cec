// CGradientStatic: the 255-band fallback (exact colours and band geometry),
// the native gradient, and the caption text's place.
#include "tests/controls/host.h"
#include "tests/controls/pixels.h"
#include "win/optproc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr COLORREF kStart = RGB(37, 119, 227);

int Diff(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
           std::abs(GetBValue(a) - GetBValue(b));
}

// Sizes the label to w x h pixels and paints it into a canvas of that size.
void PaintLabel(CGradientStatic& label, PixelCanvas& canvas) {
    SetWindowPos(label.Hwnd(), nullptr, 0, 0, canvas.Width(), canvas.Height(), SWP_NOMOVE | SWP_NOZORDER);
    label.Paint(canvas.Dc(), canvas.Rect());
    GdiFlush();
}

TEST(GradientFallback, FirstBandIsExactlyTheStartColour) {
    win::SetProcMissingForTest("GradientFill", true);
    ControlHost host;
    ASSERT_TRUE(host.Create());
    CGradientStatic& label = host.devCaption;
    EXPECT_FALSE(label.HasNativeGradient());
    label.SetText(L"");
    PixelCanvas canvas(255, 20);
    PaintLabel(label, canvas);
    for (int y = 0; y < 20; ++y) EXPECT_EQ(kStart, canvas.At(0, y));
    // left to right towards the button face colour, stopping short of it
    const COLORREF last = canvas.At(254, 10);
    EXPECT_LT(Diff(last, label.EndColor()), Diff(kStart, label.EndColor()));
    EXPECT_NE(kStart, last);
    // and the label on the screen is painted the same way
    RedrawWindow(label.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PixelCanvas screen(255, 20);
    ASSERT_TRUE(screen.CaptureClient(label.Hwnd()));
    EXPECT_EQ(kStart, screen.At(0, 10));
    EXPECT_EQ(canvas.At(128, 10), screen.At(128, 10));
}

// Black to white makes band i the grey value i, so every pixel names its band.
TEST(GradientFallback, A255PixelLabelGets255BandsOfOnePixel) {
    PixelCanvas canvas(255, 4);
    CGradientStatic::PaintBands(canvas.Dc(), canvas.Rect(), RGB(0, 0, 0), RGB(255, 255, 255));
    GdiFlush();
    for (int x = 0; x < 255; ++x) {
        ASSERT_EQ(RGB(x, x, x), canvas.At(x, 0)) << x;
        ASSERT_EQ(RGB(x, x, x), canvas.At(x, 3)) << x;
    }
}

TEST(GradientFallback, A100PixelLabelGetsBandsOfZeroOrOnePixel) {
    PixelCanvas canvas(100, 4);
    CGradientStatic::PaintBands(canvas.Dc(), canvas.Rect(), RGB(0, 0, 0), RGB(255, 255, 255));
    GdiFlush();
    int previousBand = -1;
    for (int x = 0; x < 100; ++x) {
        const COLORREF c = canvas.At(x, 2);
        const int band = GetRValue(c);
        ASSERT_EQ(RGB(band, band, band), c) << x;
        ASSERT_GT(band, previousBand) << x;  // each pixel a band of its own: no band wider than 1
        // band i covers trunc(i * 100 / 255): pixel x lies in band 2.55x .. 2.55(x + 1)
        EXPECT_GE(band + 1, x * 255 / 100) << x;
        EXPECT_LE(band, (x + 1) * 255 / 100) << x;
        previousBand = band;
    }
    // Bands 0 and 1 are empty at this width: the first pixel shows band 2.
    EXPECT_EQ(2, GetRValue(canvas.At(0, 0)));
    EXPECT_LE(previousBand, 254);  // the last band stops short of the end colour
}

TEST(GradientFallback, NarrowAndEmptyLabelsPaintOnlyTheirOwnArea) {
    const COLORREF magenta = RGB(255, 0, 255);
    PixelCanvas canvas(20, 4, magenta);
    RECT rc = {5, 0, 5, 4};  // no width at all
    CGradientStatic::PaintBands(canvas.Dc(), rc, RGB(0, 0, 0), RGB(255, 255, 255));
    RECT three = {10, 0, 13, 4};
    CGradientStatic::PaintBands(canvas.Dc(), three, RGB(0, 0, 0), RGB(255, 255, 255));
    GdiFlush();
    for (int x = 0; x < 20; ++x) {
        const bool inside = x >= 10 && x < 13;
        EXPECT_EQ(!inside, canvas.At(x, 1) == magenta) << x;
    }
}

TEST(GradientNative, RunsFromTheStartColourToTheEndColour) {
    ControlHost host;
    ASSERT_TRUE(host.Create());
    CGradientStatic& label = host.certCaption;
    ASSERT_TRUE(label.HasNativeGradient());  // Wine has GradientFill
    label.SetText(L"");
    PixelCanvas canvas(200, 16);
    PaintLabel(label, canvas);
    EXPECT_LE(Diff(kStart, canvas.At(0, 8)), 3);
    EXPECT_LE(Diff(label.EndColor(), canvas.At(199, 8)), 6);
    for (int x = 1; x < 200; ++x) EXPECT_GE(GetBValue(canvas.At(x, 8)) + 1, GetBValue(canvas.At(x - 1, 8))) << x;
}

TEST(GradientOnScreen, ANewTextIsDrawnOverTheGradient) {
    ControlHost host;
    ASSERT_TRUE(host.Create());
    CGradientStatic& label = host.devCaption;
    RedrawWindow(host.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // The way the main dialog sets its captions, after the dialog is up.
    label.SetText(L"USB Key List");
    UpdateWindow(label.Hwnd());
    PumpPending();
    RECT rc = label.ClientRect();
    PixelCanvas screen(rc.right, rc.bottom);
    ASSERT_TRUE(screen.CaptureClient(label.Hwnd()));
    PixelCanvas expected(rc.right, rc.bottom);
    label.Paint(expected.Dc(), rc);
    for (int y = 0; y < rc.bottom; ++y)
        for (int x = 0; x < rc.right; ++x) ASSERT_EQ(expected.At(x, y), screen.At(x, y)) << x << "," << y;
    EXPECT_LE(Diff(kStart, screen.At(0, 0)), 3);
}

// Text pixels: where the label with text differs from the same label without.
struct Ink {
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
};
Ink TextInk(CGradientStatic& label, const std::wstring& text, int w, int h) {
    PixelCanvas bare(w, h), withText(w, h);
    label.SetText(L"");
    PaintLabel(label, bare);
    label.SetText(text);
    PaintLabel(label, withText);
    Ink ink;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (bare.At(x, y) != withText.At(x, y)) {
                ink.minX = std::min(ink.minX, x);
                ink.maxX = std::max(ink.maxX, x);
                ink.minY = std::min(ink.minY, y);
                ink.maxY = std::max(ink.maxY, y);
            }
    return ink;
}

TEST(GradientText, StartsTenPixelsFromTheLeftAndIsCentredVertically) {
    ControlHost host;
    ASSERT_TRUE(host.Create());
    const int h = 40;
    Ink ink = TextInk(host.devCaption, L"HIH", 200, h);
    ASSERT_GE(ink.maxX, 0) << "no text drawn";
    EXPECT_GE(ink.minX, 10);
    EXPECT_LE(ink.minX, 12);
    const int centre2 = ink.minY + ink.maxY;  // twice the centre of the glyphs
    EXPECT_NEAR(h, centre2, 4);
}

TEST(GradientText, ALongTextStaysOnOneLineAndIsClipped) {
    ControlHost host;
    ASSERT_TRUE(host.Create());
    const int h = 60;
    Ink shortText = TextInk(host.devCaption, L"Certificate", 120, h);
    Ink longText = TextInk(host.devCaption, L"Certificate List of the selected USB Key and more words", 120, h);
    ASSERT_GE(longText.maxX, 0);
    EXPECT_GE(longText.maxX, 110);  // runs to the right edge
    EXPECT_LT(longText.maxX, 120);
    // one line: the same vertical extent as a short text, not two lines
    EXPECT_LE(longText.maxY - longText.minY, shortText.maxY - shortText.minY + 3);
}

} // namespace
