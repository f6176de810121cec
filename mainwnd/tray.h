// Tray icon, balloon notices and the main dialog's visibility.
//
// TrayNotices is the part of the main dialog that owns the notify-icon record
// and `allowShow`; the dialog owns one, calls Init from its initialisation and
// routes WM_TIMER, WM_CLOSE, WM_WINDOWPOSCHANGING and the tray callback
// (kTrayCallbackMessage) to it. It works on the dialog's window through its
// handle only (controls by id), so it can be exercised with any window that
// has the main dialog's controls.
#pragma once

#include <windows.h>
#include <shellapi.h>

constexpr UINT kTrayCallbackMessage = WM_USER + 101;  // 0x465
constexpr UINT kTrayIconId = 128;
constexpr UINT_PTR kBalloonTimerId = 2;

// The record is the shell's version-2 layout, without the GUID and balloon-icon
// fields: 936 bytes on 32-bit Windows, 952 on x64 (the x64 layout aligns its
// pointers to 8 bytes). NOTIFYICONDATAW_V2_SIZE is right on both.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAW_V2_SIZE;
#if !defined(_WIN64)
static_assert(NOTIFYICONDATAW_V2_SIZE == 936, "32-bit version-2 record");
#else
static_assert(NOTIFYICONDATAW_V2_SIZE == 952, "x64 version-2 record");
#endif

// Display times of the notices, in milliseconds.
constexpr UINT kNoticeShortMs = 2000;
constexpr UINT kNoticeWriteCertMs = 3000;
constexpr UINT kNoticeGenKeyPairMs = 15000;
constexpr UINT kNoticeCertExpiryMs = 30000;

class TrayNotices {
public:
    TrayNotices() noexcept;
    TrayNotices(const TrayNotices&) = delete;
    TrayNotices& operator=(const TrayNotices&) = delete;

    // Fills the record for the dialog's window (id 128, callback 0x465, the
    // given icon, tooltip app_Tray_Txt); the icon is not added.
    void Init(HWND dialog, HICON icon);
    HWND Dialog() const noexcept { return dialog_; }
    const NOTIFYICONDATAW& Record() const noexcept { return nid_; }

    // NIM_ADD, when the first key has arrived. Without the balloon fields, so
    // a notice left in the record from before is not shown again.
    void AddIcon();
    // NIM_DELETE; removing an icon that is not there is harmless.
    void RemoveIcon();
    // True after a successful NIM_ADD until the next NIM_DELETE.
    bool IconAdded() const noexcept { return iconAdded_; }

    // Replaces whatever balloon is shown; timer 2 takes it down after `ms`.
    // Texts longer than the record's fields (255 and 63 units) are cut.
    void ShowBalloon(const wchar_t* title, const wchar_t* text, UINT ms);
    void HideBalloon();

    // WM_TIMER: timer 2 ends the balloon. The caller then runs the default processing.
    void OnTimer(UINT_PTR id);
    // The tray callback: a left double click shows or hides the dialog. Result 1.
    LRESULT OnTrayNotify(WPARAM wp, LPARAM lp);
    // The registered show-window request of a second start.
    void ShowMainWindow();
    // Buttons from the key count and the certificate list; focus on the key list.
    void UpdateButtonStates();
    // WM_CLOSE: only hides the dialog.
    void OnClose();
    // After the default processing of WM_WINDOWPOSCHANGING: while allowShow is
    // 0 the dialog cannot become visible.
    void OnWindowPosChanging(WINDOWPOS* pos) const;

    // Closes every dialog of the program by its title (the main dialog last,
    // which only hides it) and removes the tray icon.
    void CloseAllDlgs();

    int allowShow = 0;

private:
    BOOL Notify(DWORD message);

    HWND dialog_ = nullptr;
    NOTIFYICONDATAW nid_;
    bool iconAdded_ = false;
};

// Closes this process's top-level standard dialogs (class "#32770") that carry
// exactly this title (trimmed); at most 11 WM_CLOSE requests, sent
// synchronously. A title of blanks only does nothing.
void CloseDlgByTitle(const wchar_t* title);

namespace qtray {
using ShellNotifyFn = BOOL(WINAPI*)(DWORD message, NOTIFYICONDATAW* data);
// Test seam: the function that stands in for Shell_NotifyIconW; null restores it.
void SetShellNotifyForTest(ShellNotifyFn fn);
}
