// Windows for the main-window tests: a plain top-level window with a message
// handler, a stand-in for the main dialog with its controls (ids of template
// 102, the two lists as CCustomListBox), standard dialogs ("#32770") with a
// title, message pumping and a shell-tray recorder.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/customlistbox.h"
#include "win/dialog.h"

namespace uitest {

// Handler: true when it handled the message (result set).
using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)>;

class TestWindow {
public:
    explicit TestWindow(Handler handler = {}, const wchar_t* title = L"uitest", DWORD style = WS_OVERLAPPEDWINDOW);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Hwnd() const { return hwnd_; }
    Handler handler;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
};

// The main dialog's template (102, with its controls and styles) as a
// modeless dialog, the two lists bound to CCustomListBox. `extra` sees every
// message first (e.g. to route them to a TrayNotices). Needs the program's
// resources linked into the test (qres).
class MainDialogStandIn : public win::Dialog {
public:
    explicit MainDialogStandIn(Handler extra = {});
    ~MainDialogStandIn() override;
    HWND Item(int id) const { return GetDlgItem(Hwnd(), id); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

    CCustomListBox keys;
    CCustomListBox certs;
    Handler extra;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

// A standard dialog of this process with a title. With refuseClose it answers
// WM_CLOSE without going away; otherwise WM_CLOSE destroys it.
class StdDialog {
public:
    StdDialog(const std::wstring& title, bool refuseClose);
    ~StdDialog();
    StdDialog(const StdDialog&) = delete;
    StdDialog& operator=(const StdDialog&) = delete;

    HWND Hwnd() const { return hwnd_; }
    bool Alive() const { return hwnd_ && IsWindow(hwnd_); }
    int closeRequests = 0;
    // Called on every WM_CLOSE, before the dialog acts on it.
    std::function<void()> onClose;

private:
    static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
    bool refuse_;
};

// Dispatches this thread's messages for `ms` milliseconds.
void PumpFor(DWORD ms);
// Dispatches messages until pred() holds or timeoutMs passes; returns pred().
bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs);
// Waits for a process while dispatching messages (a child may SendMessage to us).
DWORD WaitProcessPumping(HANDLE process, DWORD timeoutMs);

// Runs a program with a command line; the process handle (null on failure).
HANDLE StartProcess(const std::wstring& exe, const std::wstring& args);
// Runs it to the end while pumping; exit code, or 0xFFFFFFFF on failure or time-out.
DWORD RunPumping(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs = 30000);

// Records the tray calls a TrayNotices makes, optionally passing them on to
// the real shell. Install() points the qtray seam at it.
struct TrayCall {
    DWORD message;
    UINT flags;
    UINT timeout;
    DWORD infoFlags;
    std::wstring info;
    std::wstring infoTitle;
    DWORD cbSize;
    BOOL result;
    DWORD tick;
};
class TrayRecorder {
public:
    explicit TrayRecorder(bool passToShell);
    ~TrayRecorder();
    std::vector<TrayCall> calls;
    size_t Count(DWORD message) const;

private:
    static BOOL WINAPI Hook(DWORD message, NOTIFYICONDATAW* data);
    bool pass_;
};

// Hours and days on SYSTEMTIME, for certificate dates.
SYSTEMTIME Today();
SYSTEMTIME AddDays(const SYSTEMTIME& date, int days);
SYSTEMTIME Date(int y, int m, int d);

} // namespace uitest
