// The detection's window operations as the main dialog provides them: events
// go to the dialog's window, the dialogs are closed and the icon removed by
// its tray part, hiding hides the dialog.
#pragma once

#include "mainwnd/devdetect.h"
#include "mainwnd/tray.h"

class DialogDetectOps : public DetectWindowOps {
public:
    explicit DialogDetectOps(TrayNotices& tray) : tray_(tray) {}
    void Deliver(UINT message, wchar_t* path) override { DeliverToWindow(tray_.Dialog(), message, path); }
    void CloseAllDlgs() override { tray_.CloseAllDlgs(); }
    void HideMainWindow() override { ShowWindow(tray_.Dialog(), SW_HIDE); }

private:
    TrayNotices& tray_;
};
