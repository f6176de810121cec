// Single instance: the checker that serialises starts and records the running
// instance's main window for later starts, the instance window property, and
// the registered window messages by which other processes reach the instance.
//
// All names are used without a namespace prefix, so they are local to the
// user's session.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "win/handles.h"
#include "win/sync.h"

extern const wchar_t kInstanceCheckerName[];  // "CInstanceChecker TAVO Main Dialog (For MGR QOR_ZAF)"
extern const wchar_t kInstancePropName[];     // "{99820952-62B0-CB01-922A-C27501349-QOR-ZAF}"
constexpr UINT_PTR kInstancePropValue = 0xCB01;

// Registered during static initialisation; 0 only if registration failed.
extern const UINT g_msgUninstall;    // "Xel_MGR_UNINSTALL_QOR"
extern const UINT g_msgShowWindow;   // "Xel_MGR_STARTMENU_SHOWWND_QOR"
extern const UINT g_msgInitUsbKey;   // "Xel_MGR_INITUSBKEYMSGID_QOR"
extern const UINT g_msgImportCert;   // "Xel_MGR_IMPORTCERTMSGID_QOR"
extern const UINT g_msgRefreshPin;   // "Xel_MGR_TOOL_REFRESHPIN_QOR"

// EnumWindows callback: stops at the first window whose instance property is
// 0xCB01 and stores it in *(HWND*)lParam.
BOOL CALLBACK FindRunningInstance(HWND hwnd, LPARAM lParam);

// The shared block is a 4-byte paging-file mapping named GetMappingName()
// holding the first instance's main window as a 32-bit value. Window handles
// have 32 significant bits on 64-bit Windows too (so that 32- and 64-bit
// processes can share them); the value is sign-extended when read back, as
// LongToHandle does.
class CInstanceChecker {
public:
    explicit CInstanceChecker(const wchar_t* name);
    virtual ~CInstanceChecker();
    CInstanceChecker(const CInstanceChecker&) = delete;
    CInstanceChecker& operator=(const CInstanceChecker&) = delete;

    // name + "_CInstanceChecker_MMF"
    virtual std::wstring GetMappingName() const;
    // The first top-level window of the calling thread that has no owner, or null.
    virtual HWND GetWindowToRecord() const;

    // Takes the start-up mutex, waiting without time limit.
    void LockStartup();
    // True when the shared block exists (an instance has recorded its window).
    bool IsAnotherInstanceRunning() const;
    // The recorded window (null when the block cannot be read); releases the
    // start-up mutex whenever the block exists.
    HWND GetFirstInstanceWindow();
    // First instance: creates the block, records the window, releases the
    // start-up mutex. False when another instance is recorded or the block
    // cannot be made (the start-up mutex is then kept).
    bool RecordMainWindow(HWND hwnd);

    bool HoldsStartupLock() const noexcept { return executeLock_ != nullptr; }

private:
    win::Mutex dataLock_;
    win::Mutex startupMutex_;
    std::unique_ptr<win::MutexLock> executeLock_;
    std::wstring name_;
    // The block stays open for the instance's whole run; closing it (at exit)
    // is what tells later starts that no instance runs.
    win::Handle mapping_;
};

// The process-wide checker, named kInstanceCheckerName, built during static
// initialisation.
CInstanceChecker& TheInstanceChecker();
