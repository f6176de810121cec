// Single-instance checker across processes, the instance property lookup and
// the registered messages.
#include "app/instance.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring UniqueName(const wchar_t* what) {
    return std::wstring(L"QTest ") + what + L" " + std::to_wstring(GetCurrentProcessId()) + L" " +
           std::to_wstring(GetTickCount());
}

HWND MakeWindow() {
    return CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

struct HelperResult {
    std::string role;
    unsigned long long hwnd = 0;
    int ok = 0;
};

HelperResult ReadResult(const std::wstring& file) {
    HelperResult r;
    std::string text = testenv::ReadFileBytes(file);
    char role[16] = {};
    if (sscanf(text.c_str(), "%15s %llx %d", role, &r.hwnd, &r.ok) == 3) r.role = role;
    return r;
}

HANDLE StartHelper(const std::wstring& args) {
    std::wstring exe = testenv::TestBinDir() + L"\\instance_helper.exe";
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

TEST(InstanceChecker, TwoStartsAtTheSameMomentYieldOneInstance) {
    std::wstring name = UniqueName(L"Checker");
    std::wstring goName = name + L" go";
    std::wstring quitName = name + L" quit";
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, goName.c_str());
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, quitName.c_str());
    ASSERT_TRUE(go && quit);
    std::wstring files[2] = {testenv::TempDirW() + L"start0.txt", testenv::TempDirW() + L"start1.txt"};
    HANDLE procs[2];
    for (int i = 0; i < 2; ++i) {
        procs[i] = StartHelper(L"\"" + name + L"\" \"" + files[i] + L"\" \"" + goName + L"\" \"" + quitName + L"\"");
        ASSERT_NE(nullptr, procs[i]);
    }
    Sleep(1500);  // both are waiting for the go
    SetEvent(go);

    // The second start exits once it has read the first's window.
    DWORD w = WaitForMultipleObjects(2, procs, FALSE, 30000);
    ASSERT_TRUE(w == WAIT_OBJECT_0 || w == WAIT_OBJECT_0 + 1) << w;
    int second = static_cast<int>(w - WAIT_OBJECT_0);
    int first = 1 - second;
    DWORD code = 0;
    GetExitCodeProcess(procs[second], &code);
    EXPECT_EQ(2u, code);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(procs[first], 0)) << "the first instance keeps running";

    HelperResult a = ReadResult(files[first]);
    HelperResult b = ReadResult(files[second]);
    EXPECT_EQ("first", a.role);
    EXPECT_EQ(1, a.ok) << "recorded and released the start-up lock";
    EXPECT_EQ("second", b.role);
    EXPECT_EQ(1, b.ok) << "released the start-up lock";
    EXPECT_NE(0u, a.hwnd);
    EXPECT_EQ(a.hwnd, b.hwnd);

    CInstanceChecker probe(name.c_str());
    EXPECT_TRUE(probe.IsAnotherInstanceRunning());
    SetEvent(quit);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(procs[first], 30000));
    GetExitCodeProcess(procs[first], &code);
    EXPECT_EQ(1u, code);
    EXPECT_FALSE(probe.IsAnotherInstanceRunning());
    EXPECT_EQ(nullptr, probe.GetFirstInstanceWindow());

    for (HANDLE p : procs) CloseHandle(p);
    CloseHandle(go);
    CloseHandle(quit);
}

TEST(InstanceChecker, ASecondCheckerReadsTheRecordedWindow) {
    std::wstring name = UniqueName(L"InProcess");
    HWND hwnd = MakeWindow();
    ASSERT_NE(nullptr, hwnd);
    auto first = std::make_unique<CInstanceChecker>(name.c_str());
    first->LockStartup();
    EXPECT_TRUE(first->HoldsStartupLock());
    EXPECT_FALSE(first->IsAnotherInstanceRunning());
    EXPECT_TRUE(first->RecordMainWindow(hwnd));
    EXPECT_FALSE(first->HoldsStartupLock());

    CInstanceChecker second(name.c_str());
    second.LockStartup();
    EXPECT_TRUE(second.IsAnotherInstanceRunning());
    EXPECT_FALSE(second.RecordMainWindow(MakeWindow()));
    EXPECT_TRUE(second.HoldsStartupLock());
    EXPECT_EQ(hwnd, second.GetFirstInstanceWindow());
    EXPECT_FALSE(second.HoldsStartupLock());

    first.reset();  // the instance ends: its block goes with it
    EXPECT_FALSE(second.IsAnotherInstanceRunning());
    second.LockStartup();
    EXPECT_TRUE(second.RecordMainWindow(hwnd));
    DestroyWindow(hwnd);
}

TEST(InstanceChecker, TheHandleTravelsAsA32BitValue) {
    std::wstring name = UniqueName(L"Width");
    // Sign-extended on the way back, as the system extends 32-bit handles.
    HWND odd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(0x80001234u)));
    CInstanceChecker a(name.c_str());
    ASSERT_TRUE(a.RecordMainWindow(odd));
    HANDLE m = OpenFileMappingW(FILE_MAP_READ, FALSE, a.GetMappingName().c_str());
    ASSERT_NE(nullptr, m);
    void* view = MapViewOfFile(m, FILE_MAP_READ, 0, 0, 4);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(0x80001234u, *static_cast<const DWORD*>(view));
    UnmapViewOfFile(view);
    CloseHandle(m);
    CInstanceChecker b(name.c_str());
    EXPECT_EQ(odd, b.GetFirstInstanceWindow());
}

TEST(InstanceChecker, ABlockThatCannotBeMadeKeepsTheStartupLock) {
    std::wstring name = UniqueName(L"Blocked");
    // Another kind of object already holds the block's name.
    HANDLE squatter = CreateMutexW(nullptr, FALSE, (name + L"_CInstanceChecker_MMF").c_str());
    ASSERT_NE(nullptr, squatter);
    CInstanceChecker c(name.c_str());
    c.LockStartup();
    EXPECT_FALSE(c.IsAnotherInstanceRunning());
    EXPECT_FALSE(c.RecordMainWindow(MakeWindow()));
    EXPECT_TRUE(c.HoldsStartupLock());
    EXPECT_EQ(nullptr, c.GetFirstInstanceWindow());
    EXPECT_TRUE(c.HoldsStartupLock()) << "no block: the lock is left untouched";
    CloseHandle(squatter);
}

TEST(InstanceChecker, TheProgramsCheckerAndItsNames) {
    CInstanceChecker& c = TheInstanceChecker();
    EXPECT_EQ(L"CInstanceChecker TAVO Main Dialog (For MGR QOR_ZAF)_CInstanceChecker_MMF", c.GetMappingName());
    HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, L"CInstanceChecker TAVO Main Dialog (For MGR QOR_ZAF)");
    EXPECT_NE(nullptr, m) << "the start-up mutex exists from static initialisation on";
    if (m) CloseHandle(m);
    EXPECT_FALSE(c.HoldsStartupLock());
}

TEST(InstanceChecker, WindowToRecordIsThisThreadsUnownedWindow) {
    CInstanceChecker c(UniqueName(L"Window").c_str());
    HWND top = MakeWindow();
    HWND owned = CreateWindowExW(0, L"STATIC", L"owned", WS_POPUP, 0, 0, 10, 10, top, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND got = c.GetWindowToRecord();
    EXPECT_EQ(top, got);
    DestroyWindow(owned);
    DestroyWindow(top);
}

// ---- instance property ----------------------------------------------------------------

TEST(FindRunningInstance, StopsAtTheMarkAndPassesOverOtherValues) {
    HWND none = MakeWindow();
    HWND other = MakeWindow();
    HWND marked = MakeWindow();
    SetPropW(other, kInstancePropName, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0xCB02)));
    SetPropW(marked, kInstancePropName, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0xCB01)));
    SetPropW(none, L"{99820952-62B0-CB01-922A-C27501349-QOR-ZAF }", reinterpret_cast<HANDLE>(0xCB01));

    HWND found = nullptr;
    EXPECT_TRUE(FindRunningInstance(none, reinterpret_cast<LPARAM>(&found)));
    EXPECT_TRUE(FindRunningInstance(other, reinterpret_cast<LPARAM>(&found)));
    EXPECT_EQ(nullptr, found);
    EXPECT_FALSE(FindRunningInstance(marked, reinterpret_cast<LPARAM>(&found)));
    EXPECT_EQ(marked, found);

    // Through the enumeration of this thread's windows.
    found = nullptr;
    EXPECT_FALSE(EnumThreadWindows(GetCurrentThreadId(), FindRunningInstance, reinterpret_cast<LPARAM>(&found)));
    EXPECT_EQ(marked, found);
    RemovePropW(marked, kInstancePropName);
    found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindRunningInstance, reinterpret_cast<LPARAM>(&found));
    EXPECT_EQ(nullptr, found);
    for (HWND w : {none, other, marked}) DestroyWindow(w);
}

TEST(RegisteredMessages, AreRegisteredByTheirNamesBeforeMainRuns) {
    struct {
        UINT value;
        const wchar_t* name;
    } msgs[] = {
        {g_msgUninstall, L"Xel_MGR_UNINSTALL_QOR"},
        {g_msgShowWindow, L"Xel_MGR_STARTMENU_SHOWWND_QOR"},
        {g_msgInitUsbKey, L"Xel_MGR_INITUSBKEYMSGID_QOR"},
        {g_msgImportCert, L"Xel_MGR_IMPORTCERTMSGID_QOR"},
        {g_msgRefreshPin, L"Xel_MGR_TOOL_REFRESHPIN_QOR"},
    };
    for (const auto& m : msgs) {
        EXPECT_GE(m.value, 0xC000u) << m.name;
        EXPECT_EQ(RegisterWindowMessageW(m.name), m.value) << m.name;
    }
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = i + 1; j < 5; ++j) EXPECT_NE(msgs[i].value, msgs[j].value);
}

} // namespace
