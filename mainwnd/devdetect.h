// Key arrival and removal detection: device-interface broadcasts and the scan
// of present keys become device events in one process-wide FIFO queue; a
// worker thread hands them one at a time, synchronously, to the main window
// as UM_STARTUP / UM_PUPOUT with a malloc'ed copy of the path that the
// receiver frees.
//
// The queue and the decisions talk to the window only through
// DetectWindowOps, so they run in tests without a dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "win/thread.h"

constexpr UINT UM_STARTUP = WM_USER + 1;  // 0x0401: a key came; lParam = path copy
constexpr UINT UM_PUPOUT = WM_USER + 2;   // 0x0402: a key left; lParam = path copy

constexpr size_t kDevPathUnits = 260;
// A device path belongs to a key when its upper-case form contains this.
extern const wchar_t kKeyPattern[];  // "VEN_VESTRA&PROD_KYREL_QOR&REV_"

struct DevEvent {
    BYTE bCome;                        // 1 arrived, 0 removed
    wchar_t szDevPath[kDevPathUnits];  // NUL-terminated, rest zero
};

// Fills an event. Paths of 260 units or more do not fit and are refused
// (false, event untouched): a cut path could name another key.
bool MakeDevEvent(BYTE come, const wchar_t* path, DevEvent* ev);

// csDevEvent exists for the whole process (nothing to create or delete), so no
// caller can meet it half-built. Held only to push, pop or clear.
class DevEventGuard {
public:
    DevEventGuard();
    ~DevEventGuard();
    DevEventGuard(const DevEventGuard&) = delete;
    DevEventGuard& operator=(const DevEventGuard&) = delete;
};

// Appends a copy to the back. The caller holds DevEventGuard.
void PushDevEvent(const DevEvent& ev);
// Takes the lock and empties the queue.
void ClearDevEvents();
// Takes the lock; moves the front event out. False when empty.
bool PopDevEvent(DevEvent* ev);
// Takes the lock; a copy of the queue in order (diagnostics and tests).
std::vector<DevEvent> SnapshotDevEvents();

// The window operations detection needs. The real one is the main dialog.
class DetectWindowOps {
public:
    virtual ~DetectWindowOps() = default;
    // Hands one event to the window and returns when it has been handled.
    // `path` is a malloc'ed copy; from here on it belongs to the callee.
    virtual void Deliver(UINT message, wchar_t* path) = 0;
    virtual void CloseAllDlgs() = 0;
    virtual void HideMainWindow() = 0;
};

// The heap copy sent with UM_STARTUP / UM_PUPOUT: (length + 1) * 2 bytes,
// zero-filled, from malloc. Null when the allocation fails.
wchar_t* CopyPathForMessage(const wchar_t* path);

// Delivery to a real window: SendMessageW, which waits for the handler. A
// window that is gone cannot take the copy, so it is freed here.
void DeliverToWindow(HWND hwnd, UINT message, wchar_t* path);

// WM_DEVICECHANGE handler of the main dialog (main thread). Queues come and
// leave events of the vendor's keys; see devdetect.cpp for the rules.
BOOL OnDeviceChange(WPARAM eventType, LPARAM eventData);

// Queues a come event for every key the token library lists; with none (or a
// failed enumeration) and an empty device list, closes the dialogs, removes
// the tray icon and hides the main window.
void ScanPresentDevs(DetectWindowOps& ops);

// CD-ROM interface notifications for the window; null on failure.
HDEVNOTIFY RegisterDevNotify(HWND hwnd);

// The worker thread with its run flag (bThreadRun).
//
// Stop() must be called on the thread that owns the receiving window (the
// main dialog's OnDestroy). It clears the run flag and waits for the worker
// while dispatching the messages sent to this thread, so a worker blocked in
// SendMessageW gets its answer; the window procedure should check Stopping()
// on UM_STARTUP / UM_PUPOUT and only free the path then, so the stop does not
// wait for a whole key reading.
class DevEventWorker {
public:
    DevEventWorker() = default;
    ~DevEventWorker();  // stops a worker still running
    DevEventWorker(const DevEventWorker&) = delete;
    DevEventWorker& operator=(const DevEventWorker&) = delete;

    // Sets bThreadRun to 1 and starts DevEventThread. 0, or GetLastError()
    // of CreateThread; ERROR_BUSY when already running.
    ULONG Start(DetectWindowOps* ops);
    void Stop();
    bool Running() const { return thread_.Joinable(); }
    bool Stopping() const { return stopping_.load() != 0; }

private:
    static DWORD WINAPI DevEventThread(void* self);

    std::atomic<unsigned char> bThreadRun{0};
    std::atomic<unsigned char> stopping_{0};
    DetectWindowOps* ops_ = nullptr;
    win::Thread thread_;
};

namespace qdetect {
// Test seam: the next `count` path copies fail as if malloc had.
void FailAllocationsForTest(int count);
}
