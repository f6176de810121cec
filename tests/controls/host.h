// A modeless host for the custom controls on the program's own main-dialog
// template (102): the two lists and the two captions bound as the main
// dialog binds them. Shared by the control tests and the screenshot program.
#pragma once

#include "controls/customlistbox.h"
#include "controls/gradientstatic.h"
#include "res/resource.h"
#include "win/dialog.h"

class ControlHost : public win::Dialog {
public:
    ControlHost() : Dialog(IDD_QUENDRAL_DIALOG) {}
    ~ControlHost() override { DestroyWindow(); }

    CGradientStatic devCaption;
    CGradientStatic certCaption;
    CCustomListBox keys;
    CCustomListBox certs;
    HBRUSH listBrush = nullptr;  // answer to WM_CTLCOLORLISTBOX when set
    bool paintBanner = false;

protected:
    BOOL OnInitDialog() override {
        devCaption.Subclass(Item(IDC_STATIC_DEVLIST));
        certCaption.Subclass(Item(IDC_STATIC_CERTLIST));
        keys.Subclass(Item(IDC_LIST_DEV));
        certs.Subclass(Item(IDC_LIST_CERT));
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
        if (msg == WM_CTLCOLORLISTBOX && listBrush) {
            result = reinterpret_cast<LRESULT>(listBrush);
            return true;
        }
        if (msg == WM_PAINT && paintBanner) {
            result = Default(msg, wp, lp);
            PaintBanner();
            return true;
        }
        return false;
    }

private:
    void PaintBanner() {
        HWND frame = Item(IDC_STATIC_BANNER);
        UpdateWindow(frame);
        win::WindowDC dc(frame);
        win::Bitmap bmp(static_cast<HBITMAP>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, 0)));
        win::MemoryDC mem(CreateCompatibleDC(dc.Get()));
        if (!bmp || !mem) return;
        BITMAP bm = {};
        GetObjectW(bmp.Get(), sizeof bm, &bm);
        win::SelectGuard sel(mem.Get(), bmp.Get());
        BitBlt(dc.Get(), 0, 0, bm.bmWidth, bm.bmHeight, mem.Get(), 0, 0, SRCCOPY);
    }
};
