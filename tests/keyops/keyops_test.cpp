// Key operations: PIN verification and change through the PIN-dialog
// stand-in (a real modal dialog, scripted or driven by the test through its
// window), rename, the default-PIN and OEM queries, all against the software
// token; connections are checked through the token's own open counts.
#include "token/keyops.h"

#include "tests/support/softkey.h"
#include "tests/support/testenv.h"
#include "text/langtext.h"
#include "token/devlist.h"
#include "token/keystate.h"
#include "token/results.h"
#include "win/handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <cwctype>
#include <memory>
#include <vector>

using namespace testenv;

namespace {

// The stand-in's own results (stubs/ui/README.md).
constexpr ULONG kUiCancelled = 0xD0100101;
constexpr ULONG kUiPinLocked = 0xD0100107;
constexpr ULONG kUiKeyRemoved = 0xD0106983;

// For dialogs the test drives through their window: closes itself should the
// test not find it, so that a failure cannot hang the run.
const char kDriveByHand[] = "wait:20000;close";

const char kOtherKeyName[] = "\\\\?\\SOME#OTHER#KEY";

std::string ReportPath() { return TempDir() + "softui-report.txt"; }

std::vector<std::string> ReportLines() {
    std::vector<std::string> lines;
    std::string all = ReadFileBytes(Widen(ReportPath()));
    size_t pos = 0;
    for (size_t nl; (nl = all.find('\n', pos)) != std::string::npos; pos = nl + 1) lines.push_back(all.substr(pos, nl - pos));
    return lines;
}

std::string Hex(ULONG v) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t buf[512] = {};
    GetWindowTextW(hwnd, buf, 511);
    return buf;
}

// A window of this test to own the PIN dialogs.
class OwnerWindow {
public:
    OwnerWindow()
        : hwnd_(CreateWindowExW(0, L"STATIC", L"keyops owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr)) {}
    ~OwnerWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND Get() const { return hwnd_; }

private:
    HWND hwnd_;
};

// Finds a top-level standard dialog by caption from a second thread while the
// operation runs its modal dialog on this one, and hands it to `act`.
class DialogWatcher {
public:
    DialogWatcher(std::wstring caption, std::function<void(HWND)> act)
        : caption_(std::move(caption)), act_(std::move(act)), thread_([this] { Run(); }) {}
    ~DialogWatcher() { Join(); }
    void Join() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Found() const { return found_; }

private:
    struct Search {
        const std::wstring* caption;
        HWND found;
    };
    static BOOL CALLBACK Match(HWND hwnd, LPARAM lp) {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t cls[16] = {};
        GetClassNameW(hwnd, cls, 16);
        if (pid != GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0) return TRUE;
        if (WindowText(hwnd) != *s->caption) return TRUE;
        s->found = hwnd;
        return FALSE;
    }
    // FindWindow, but only among this process's windows: a dialog of another
    // test process must not be taken for ours.
    HWND Find() const {
        Search search{&caption_, nullptr};
        EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
        // The caption search of the program itself, for the same window.
        if (search.found) {
            EXPECT_EQ(search.found, FindWindowW(L"#32770", caption_.c_str()));
        }
        return search.found;
    }
    void Run() {
        for (int i = 0; i < 500 && !stop_; ++i) {
            if (HWND dlg = Find()) {
                found_ = true;
                act_(dlg);
                return;
            }
            Sleep(20);
        }
    }
    std::wstring caption_;
    std::function<void(HWND)> act_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> found_{false};
    std::thread thread_;
};

std::wstring ItemText(HWND dlg, int id) {
    wchar_t buf[512] = {};
    GetDlgItemTextW(dlg, id, buf, 511);
    return buf;
}


class KeyOps : public ::testing::Test {
protected:
    void SetUp() override {
        InitDevListLock();
        EnableLog();
        softkey::KeyDir();
        SetEnvironmentVariableA("SOFTUI_REPORT", ReportPath().c_str());
        SetEnvironmentVariableA("SOFTUI_DELAY_MS", "30");
    }
    void TearDown() override {
        DevListGuard lock;
        DevListStorage().clear();
    }

    // A key file plus its record in the device list, as key reading leaves it.
    void AddKey(const softkey::KeySpec& spec) {
        softkey::WriteKey(spec);
        auto record = std::make_unique<DevRecord>();
        std::wstring path = softkey::DevicePathW(spec.id);
        wcsncpy(record->devPath, path.c_str(), 255);
        std::wstring label = Widen(spec.label);
        wcsncpy(record->devLabel, label.c_str(), 255);
        memcpy(record->devInfo.Label, spec.label.data(), std::min<size_t>(spec.label.size(), 32));
        DevListGuard lock;
        DevListStorage().push_back(std::move(record));
    }

    // The block, with this key's name in slot 1 between two other slots in use.
    void PrepareBlock(const std::string& id) {
        ASSERT_EQ(0u, CreateKeyStateBlock());
        mapping_.Reset(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kKeyStateBlockName));
        ASSERT_TRUE(mapping_);
        view_.Reset(MapViewOfFile(mapping_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kKeyStateBlockSize));
        ASSERT_TRUE(view_);
        char* block = static_cast<char*>(view_.Get());
        strcpy(block, kOtherKeyName);
        strcpy(block + kKeyStateSlotSize, softkey::DevicePath(id).c_str());
        memset(block + kKeyStateSlotSize + 300, 0x5A, 20);  // a tool's own data after the name
        strcpy(block + 2 * kKeyStateSlotSize, kOtherKeyName);
    }
    bool SlotCleared(int slot) const {
        const char* s = static_cast<const char*>(view_.Get()) + slot * kKeyStateSlotSize;
        for (DWORD i = 0; i < kKeyStateSlotSize; ++i)
            if (s[i]) return false;
        return true;
    }
    void ExpectOthersKept() const {
        const char* block = static_cast<const char*>(view_.Get());
        EXPECT_STREQ(kOtherKeyName, block);
        EXPECT_STREQ(kOtherKeyName, block + 2 * kKeyStateSlotSize);
    }

    static void ExpectAllClosed() {
        softkey::OpenCounts c = softkey::GetOpenCounts();
        EXPECT_EQ(0u, c.devices) << "a key stayed connected";
        EXPECT_EQ(0u, c.applications) << "an application stayed open";
        ASSERT_NE(nullptr, GetModuleHandleA("XelSKF_QOR_ZAF.dll")) << "counts read from no token";
    }

    static void UseVariant(const wchar_t* name) {
        ASSERT_TRUE(SetDllDirectoryW((BinDir() + L"\\..\\variants\\" + name).c_str()));
    }

    win::Handle mapping_;
    win::MappedView view_;
};

softkey::KeySpec Key(const std::string& id = "key1") {
    softkey::KeySpec k;
    k.id = id;
    return k;
}

// ---- PIN dialogs through the scripted stand-in ------------------------------------------

enum class Op { Verify19, Verify3, Change };

struct PinCase {
    const char* what;
    Op op;
    int userRemain;        // before
    const char* script;
    const char* fault;     // "function=code" on the key, or ""
    ULONG result;
    int remainAfter;       // -1: not checked
    bool slotCleared;
};

void PrintTo(const PinCase& c, std::ostream* os) { *os << c.what; }

class PinDialogCases : public KeyOps, public ::testing::WithParamInterface<PinCase> {};

TEST_P(PinDialogCases, ResultKeyFileAndSharedSlot) {
    const PinCase& c = GetParam();
    softkey::KeySpec spec = Key();
    spec.apps[0].userRemain = c.userRemain;
    if (*c.fault) {
        std::string f = c.fault;
        spec.faults.push_back({f.substr(0, f.find('=')), f.substr(f.find('=') + 1)});
    }
    AddKey(spec);
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", c.script);
    OwnerWindow owner;

    ULONG rv = c.op == Op::Change ? ChangeKeyPin(owner.Get(), 0)
                                  : VerifyKeyPin(0, owner.Get(), c.op == Op::Verify3 ? 3 : 19);

    EXPECT_EQ(Hex(c.result), Hex(rv));
    if (c.remainAfter >= 0) {
        EXPECT_EQ(std::to_string(c.remainAfter), softkey::ReadValue("key1", "app.APP1", "user_remain"));
    }
    EXPECT_EQ(c.slotCleared, SlotCleared(1));
    ExpectOthersKept();
    ExpectAllClosed();
    // The dialog ran once, for this key, with the mode given.
    std::vector<std::string> report = ReportLines();
    ASSERT_EQ(1u, report.size());
    EXPECT_NE(std::string::npos, report[0].find(c.op == Op::Change ? "dialog=change" : "dialog=verify"));
    EXPECT_NE(std::string::npos, report[0].find(c.op == Op::Verify3 ? "mode=3 " : "mode=19 "));
    EXPECT_NE(std::string::npos, report[0].find(" device=" + softkey::DevicePath("key1") + " "));
    EXPECT_NE(std::string::npos, report[0].find("result=" + Hex(c.result)));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PinDialogCases,
    ::testing::Values(
        // A successful verification leaves the shared state alone...
        PinCase{"VerifyRightPin", Op::Verify19, 4, "type:12345678", "", 0, 6, false},
        PinCase{"VerifyBeforeRename", Op::Verify3, 6, "type:12345678", "", 0, 6, false},
        PinCase{"VerifyWrongPinThenCancel", Op::Verify19, 6, "type:11111111;cancel", "", kUiCancelled, 5, false},
        PinCase{"VerifyWrongThenRight", Op::Verify19, 6, "type:11111111;type:12345678", "", 0, 6, false},
        PinCase{"VerifyCancel", Op::Verify19, 6, "cancel", "", kUiCancelled, 6, false},
        PinCase{"VerifyCloseBox", Op::Verify19, 6, "close", "", kUiCancelled, 6, false},
        PinCase{"VerifyTokenError", Op::Verify19, 6, "type:12345678", "SKF_VerifyPIN=0x0A000001", 0x0A000001, 6,
                false},
        // ...a locked PIN clears it, whether locked before or by the last try.
        PinCase{"VerifyLockedKey", Op::Verify19, 0, "type:12345678", "", kUiPinLocked, 0, true},
        PinCase{"VerifyLastTryWrong", Op::Verify19, 1, "type:11111111", "", kUiPinLocked, 0, true},
        PinCase{"VerifyKeyRemoved", Op::Verify19, 6, "type:12345678", "SKF_VerifyPIN=0x0A000023", kUiKeyRemoved, 6,
                true},
        // A successful change clears it too.
        PinCase{"ChangeRight", Op::Change, 6, "change:12345678:87654321", "", 0, 6, true},
        PinCase{"ChangeMismatchThenCancel", Op::Change, 6, "change:12345678:87654321:87654320;cancel", "",
                kUiCancelled, 6, false},
        PinCase{"ChangeWrongOldPinThenCancel", Op::Change, 6, "change:11111111:87654321;cancel", "", kUiCancelled,
                5, false},
        PinCase{"ChangeCancel", Op::Change, 6, "cancel", "", kUiCancelled, 6, false},
        PinCase{"ChangeLockedKey", Op::Change, 0, "change:12345678:87654321", "", kUiPinLocked, 0, true},
        PinCase{"ChangeKeyRemoved", Op::Change, 6, "change:12345678:87654321", "SKF_ChangePIN=0x0A000023",
                kUiKeyRemoved, 6, true},
        PinCase{"ChangeTokenError", Op::Change, 6, "change:12345678:87654321", "SKF_ChangePIN=0x0A000001",
                0x0A000001, 6, false}),
    [](const ::testing::TestParamInfo<PinCase>& info) { return std::string(info.param.what); });

TEST_F(KeyOps, ChangeWritesTheNewPinAndEndsTheDefaultPin) {
    softkey::KeySpec spec = Key();
    spec.apps[0].userDefault = true;
    AddKey(spec);
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "change:12345678:24681357");
    EXPECT_EQ(0u, ChangeKeyPin(nullptr, 0));
    EXPECT_EQ("24681357", softkey::ReadValue("key1", "app.APP1", "user_pin"));
    EXPECT_EQ("0", softkey::ReadValue("key1", "app.APP1", "user_default"));
    BYTE isDefault = 0xCC;
    EXPECT_EQ(0u, QueryDefaultPin(softkey::DevicePathW("key1").c_str(), &isDefault));
    EXPECT_EQ(0, isDefault);
}

// The dialog works on the key it is given: the second key, not the first.
TEST_F(KeyOps, DialogWorksOnTheKeyOfTheIndex) {
    AddKey(Key("key1"));
    softkey::KeySpec second = Key("key2");
    second.apps[0].userPin = "22222222";
    AddKey(second);
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "type:11111111;cancel");
    EXPECT_EQ(kUiCancelled, VerifyKeyPin(1, nullptr, 19));
    EXPECT_EQ("6", softkey::ReadValue("key1", "app.APP1", "user_remain"));
    EXPECT_EQ("5", softkey::ReadValue("key2", "app.APP1", "user_remain"));
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "type:22222222");
    EXPECT_EQ(0u, VerifyKeyPin(1, nullptr, 19));
    EXPECT_EQ("6", softkey::ReadValue("key2", "app.APP1", "user_remain"));
    ExpectAllClosed();
}

// ---- the dialog as a window ---------------------------------------------------------------

TEST_F(KeyOps, VerifyDialogIsOwnedCaptionedAndClosedByWmClose) {
    AddKey(Key());
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", kDriveByHand);
    OwnerWindow owner;
    std::wstring caption = GetLangText(L"Dlg_VerifyPIN_Title");
    ASSERT_FALSE(caption.empty());
    HWND seenOwner = nullptr;
    bool ownerDisabled = false;
    std::wstring detail19, okText;
    DialogWatcher watcher(caption, [&](HWND dlg) {
        seenOwner = GetWindow(dlg, GW_OWNER);
        ownerDisabled = !IsWindowEnabled(owner.Get());
        detail19 = ItemText(dlg, 1001);
        okText = WindowText(GetDlgItem(dlg, IDOK));
        SendMessageW(dlg, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(kUiCancelled, VerifyKeyPin(0, owner.Get(), 19));
    watcher.Join();
    ASSERT_TRUE(watcher.Found()) << "no dialog titled with Dlg_VerifyPIN_Title";
    EXPECT_EQ(owner.Get(), seenOwner);
    EXPECT_TRUE(ownerDisabled) << "modal to its owner";
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
    EXPECT_EQ(GetLangText(L"DlgButton_OK"), okText);
    EXPECT_FALSE(detail19.empty());
    EXPECT_FALSE(SlotCleared(1));
    ExpectAllClosed();

    // Mode 3 changes the line above the field, not the caption.
    std::wstring detail3;
    DialogWatcher again(caption, [&](HWND dlg) {
        detail3 = ItemText(dlg, 1001);
        SendMessageW(dlg, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(kUiCancelled, VerifyKeyPin(0, owner.Get(), 3));
    again.Join();
    ASSERT_TRUE(again.Found());
    EXPECT_NE(detail19, detail3);
}

TEST_F(KeyOps, ChangeDialogDrivenThroughItsWindow) {
    AddKey(Key());
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", kDriveByHand);
    std::wstring status;
    DialogWatcher watcher(GetLangText(L"Dlg_ChgPIN_Title"), [&](HWND dlg) {
        // Wrong old PIN first: the dialog stays and says so.
        SetDlgItemTextW(dlg, 1010, L"00000000");
        SetDlgItemTextW(dlg, 1011, L"13572468");
        SetDlgItemTextW(dlg, 1012, L"13572468");
        SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
        status = ItemText(dlg, 1005);
        SetDlgItemTextW(dlg, 1010, L"12345678");
        SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(0u, ChangeKeyPin(nullptr, 0));
    watcher.Join();
    ASSERT_TRUE(watcher.Found());
    EXPECT_NE(std::wstring::npos, status.find(L'5')) << "tries left shown";
    EXPECT_EQ("13572468", softkey::ReadValue("key1", "app.APP1", "user_pin"));
    EXPECT_TRUE(SlotCleared(1));
    ExpectAllClosed();
}

TEST_F(KeyOps, KeyPulledOutWhileTheDialogIsUp) {
    AddKey(Key());
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", kDriveByHand);
    DialogWatcher watcher(GetLangText(L"Dlg_VerifyPIN_Title"), [&](HWND dlg) {
        softkey::SetPresent("key1", false);
        SetDlgItemTextW(dlg, 1010, L"12345678");
        SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(kUiKeyRemoved, VerifyKeyPin(0, nullptr, 19));
    watcher.Join();
    ASSERT_TRUE(watcher.Found());
    EXPECT_TRUE(SlotCleared(1));
    ExpectAllClosed();
}

// ---- before and without the dialog -----------------------------------------------------------

struct NoDialogCase {
    const char* what;
    bool change;
    const char* fault;  // on the key
    bool noApps;
    ULONG index;
    ULONG result;
};

void PrintTo(const NoDialogCase& c, std::ostream* os) { *os << c.what; }

class NoDialogCases : public KeyOps, public ::testing::WithParamInterface<NoDialogCase> {};

TEST_P(NoDialogCases, ReturnWithoutDialogAndWithEverythingClosed) {
    const NoDialogCase& c = GetParam();
    softkey::KeySpec spec = Key();
    if (c.noApps) spec.apps.clear();
    if (*c.fault) {
        std::string f = c.fault;
        spec.faults.push_back({f.substr(0, f.find('=')), f.substr(f.find('=') + 1)});
    }
    AddKey(spec);
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "type:12345678");
    ULONG rv = c.change ? ChangeKeyPin(nullptr, c.index) : VerifyKeyPin(c.index, nullptr, 19);
    EXPECT_EQ(Hex(c.result), Hex(rv));
    EXPECT_TRUE(ReportLines().empty()) << "a dialog was shown";
    EXPECT_FALSE(SlotCleared(1));
    if (GetModuleHandleA("XelSKF_QOR_ZAF.dll")) ExpectAllClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NoDialogCases,
    ::testing::Values(NoDialogCase{"VerifyNoApplication", false, "", true, 0, 1},
                      NoDialogCase{"ChangeNoApplication", true, "", true, 0, 1},
                      NoDialogCase{"VerifyIndexBeyondList", false, "", false, 1, QR_NOT_FOUND},
                      NoDialogCase{"ChangeIndexBeyondList", true, "", false, 1, QR_NOT_FOUND},
                      NoDialogCase{"VerifyConnectFails", false, "SKF_ConnectDev=0x0A000023", false, 0, 0x0A000023},
                      NoDialogCase{"ChangeConnectFails", true, "SKF_ConnectDev=0x0A000023", false, 0, 0x0A000023},
                      NoDialogCase{"VerifyEnumFails", false, "SKF_EnumApplication=0x0A000001", false, 0, 0x0A000001},
                      NoDialogCase{"ChangeOpenAppFails", true, "SKF_OpenApplication=0x0A00002E", false, 0,
                                   0x0A00002E}),
    [](const ::testing::TestParamInfo<NoDialogCase>& info) { return std::string(info.param.what); });

TEST_F(KeyOps, NoLogLinesFromThePinOperations) {
    softkey::KeySpec spec = Key();
    spec.faults.push_back({"SKF_OpenApplication", "0x0A00002E"});
    AddKey(spec);
    EXPECT_EQ(0x0A00002Eu, VerifyKeyPin(0, nullptr, 19));
    EXPECT_EQ(0x0A00002Eu, ChangeKeyPin(nullptr, 0));
    EXPECT_EQ("", ReadLog());
}

// ---- the UI library missing, or missing a function --------------------------------------------

TEST_F(KeyOps, UiLibraryWithoutVerifyFunction) {
    UseVariant(L"ui-noverify");
    AddKey(Key());
    PrepareBlock("key1");
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "type:12345678");
    EXPECT_EQ(Hex(QR_UI_FUNC_MISSING), Hex(VerifyKeyPin(0, nullptr, 3)));
    EXPECT_TRUE(ReportLines().empty());
    ExpectAllClosed();
    EXPECT_FALSE(SlotCleared(1));
    // Only the verification is missing: the change still runs.
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "change:12345678:87654321");
    EXPECT_EQ(0u, ChangeKeyPin(nullptr, 0));
    EXPECT_EQ(1u, ReportLines().size());
    EXPECT_EQ("", ReadLog());
}

TEST_F(KeyOps, UiLibraryWithoutExport) {
    UseVariant(L"ui-noexport");
    AddKey(Key());
    EXPECT_EQ(Hex(QR_UI_FUNC_MISSING), Hex(VerifyKeyPin(0, nullptr, 19)));
    EXPECT_EQ(Hex(QR_UI_FUNC_MISSING), Hex(ChangeKeyPin(nullptr, 0)));
    ExpectAllClosed();
    // Loaded once: one error line for both calls.
    EXPECT_EQ(1u, LogCount("ERR load XelUI funcList error=0x0000007f"));
    EXPECT_EQ(1u, LogCount(" ERR "));
}

TEST_F(KeyOps, UiLibraryMissing) {
    // The token from its folder, then a search path without the stand-ins.
    ASSERT_NE(nullptr, LoadLibraryW((BinDir() + L"\\XelSKF_QOR_ZAF.dll").c_str()));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", system));
    AddKey(Key());
    EXPECT_EQ(Hex(QR_UI_FUNC_MISSING), Hex(VerifyKeyPin(0, nullptr, 19)));
    EXPECT_EQ(Hex(QR_UI_FUNC_MISSING), Hex(ChangeKeyPin(nullptr, 0)));
    EXPECT_EQ(nullptr, GetModuleHandleA("XelUI_QOR_ZAF.dll"));
    ExpectAllClosed();
    EXPECT_EQ(1u, LogCount("ERR load XelUI_QOR_ZAF.dll error,rv=0x0000007e"));
    EXPECT_EQ(1u, LogCount(" ERR "));
}

TEST_F(KeyOps, UiLibraryLoadedOnceFromItsName) {
    AddKey(Key());
    EXPECT_EQ(nullptr, GetModuleHandleA("XelUI_QOR_ZAF.dll")) << "loaded before the first dialog";
    SetEnvironmentVariableA("SOFTUI_SCRIPT", "cancel");
    EXPECT_EQ(kUiCancelled, VerifyKeyPin(0, nullptr, 19));
    HMODULE first = GetModuleHandleA("XelUI_QOR_ZAF.dll");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, GetUiLib().module);
    EXPECT_NE(nullptr, GetUiLib().table.slot[0]);
    EXPECT_NE(nullptr, GetUiLib().table.slot[1]);
    EXPECT_EQ(kUiCancelled, ChangeKeyPin(nullptr, 0));
    EXPECT_EQ(first, GetUiLib().module);
    EXPECT_EQ("", ReadLog());
}

// ---- rename -----------------------------------------------------------------------------------

TEST_F(KeyOps, RenameWritesTheLabelToKeyAndRecord) {
    AddKey(Key());
    EXPECT_EQ(0u, RenameKey(0, L"Office key"));
    EXPECT_EQ("Office key", softkey::ReadValue("key1", "device", "label"));
    DevRecord* record = nullptr;
    ASSERT_EQ(0u, ListGetDevByIndex(0, &record));
    EXPECT_STREQ(L"Office key", record->devLabel);
    EXPECT_EQ(0, memcmp(record->devInfo.Label, "Test Key", 8)) << "devInfo keeps the old label";
    ExpectAllClosed();
}

struct RenameCase {
    const char* what;
    const char* emptySlots;
    const char* fault;
    ULONG index;
    const wchar_t* name;
    ULONG result;
};

void PrintTo(const RenameCase& c, std::ostream* os) { *os << c.what; }

class RenameFailures : public KeyOps, public ::testing::WithParamInterface<RenameCase> {};

TEST_P(RenameFailures, KeepTheOldNameAndDisconnect) {
    const RenameCase& c = GetParam();
    SetEnvironmentVariableA("SOFTSKF_EMPTY_SLOTS", c.emptySlots);
    softkey::KeySpec spec = Key();
    if (*c.fault) {
        std::string f = c.fault;
        spec.faults.push_back({f.substr(0, f.find('=')), f.substr(f.find('=') + 1)});
    }
    AddKey(spec);
    EXPECT_EQ(Hex(c.result), Hex(RenameKey(c.index, c.name)));
    EXPECT_EQ("Test Key", softkey::ReadValue("key1", "device", "label"));
    DevRecord* record = nullptr;
    ASSERT_EQ(0u, ListGetDevByIndex(0, &record));
    EXPECT_STREQ(L"Test Key", record->devLabel);
    if (GetModuleHandleA("XelSKF_QOR_ZAF.dll")) ExpectAllClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RenameFailures,
    ::testing::Values(
        // 33 bytes: more than DEVINFO.Label holds, the key refuses it.
        RenameCase{"KeyRejectsTheName", "", "", 0, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", 0x0A000006},
        RenameCase{"KeyFailsToWrite", "", "SKF_SetLabel=0x0A000004", 0, L"New", 0x0A000004},
        RenameCase{"SetLabelMissing", "SKF_SetLabel", "", 0, L"New", QR_TOKEN_FUNC_MISSING},
        RenameCase{"ConnectFails", "", "SKF_ConnectDev=0x0A000023", 0, L"New", 0x0A000023},
        RenameCase{"IndexBeyondList", "", "", 1, L"New", QR_NOT_FOUND},
        RenameCase{"NullName", "", "", 0, nullptr, QR_NOT_FOUND}),
    [](const ::testing::TestParamInfo<RenameCase>& info) { return std::string(info.param.what); });

// ---- default-PIN query --------------------------------------------------------------------------

TEST_F(KeyOps, QueryDefaultPinReportsTheFlagBothWays) {
    softkey::KeySpec fresh = Key("key1");
    fresh.apps[0].userDefault = true;
    AddKey(fresh);
    AddKey(Key("key2"));
    BYTE flag = 0xCC;
    EXPECT_EQ(0u, QueryDefaultPin(softkey::DevicePathW("key1").c_str(), &flag));
    EXPECT_EQ(1, flag);
    flag = 0xCC;
    EXPECT_EQ(0u, QueryDefaultPin(softkey::DevicePathW("key2").c_str(), &flag));
    EXPECT_EQ(0, flag);
    // The path as the token lists it, in another letter case, reaches the same key.
    std::wstring lower = softkey::DevicePathW("key1");
    for (auto& ch : lower) ch = towlower(ch);
    flag = 0xCC;
    EXPECT_EQ(0u, QueryDefaultPin(lower.c_str(), &flag));
    EXPECT_EQ(1, flag);
    ExpectAllClosed();
    EXPECT_EQ("", ReadLog());
}

struct DefaultPinFailure {
    const char* what;
    const char* fault;
    ULONG result;
    const char* logLine;
};

void PrintTo(const DefaultPinFailure& c, std::ostream* os) { *os << c.what; }

class DefaultPinFailures : public KeyOps, public ::testing::WithParamInterface<DefaultPinFailure> {};

TEST_P(DefaultPinFailures, LogTheCallAndCloseEverything) {
    const DefaultPinFailure& c = GetParam();
    softkey::KeySpec spec = Key();
    spec.apps[0].userDefault = true;
    std::string f = c.fault;
    spec.faults.push_back({f.substr(0, f.find('=')), f.substr(f.find('=') + 1)});
    AddKey(spec);
    BYTE flag = 0xCC;
    EXPECT_EQ(Hex(c.result), Hex(QueryDefaultPin(softkey::DevicePathW("key1").c_str(), &flag)));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(1u, LogCount(std::string("ERR ") + c.logLine)) << ReadLog();
    ExpectAllClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DefaultPinFailures,
    ::testing::Values(
        DefaultPinFailure{"Connect", "SKF_ConnectDev=0x0A000023", 0x0A000023, "SKF_ConnectDev Error=0x0a000023"},
        DefaultPinFailure{"EnumApplication", "SKF_EnumApplication=0x0A000001", 0x0A000001,
                          "SKF_EnumApplication Error=0x0a000001"},
        DefaultPinFailure{"OpenApplication", "SKF_OpenApplication=0x0A00002E", 0x0A00002E,
                          "SKF_OpenApplication(APP1) Error=0x0a00002e"},
        DefaultPinFailure{"GetPINInfo", "SKF_GetPINInfo=0x0A000005", 0x0A000005,
                          "SKF_GetPINInfo(APP1) Error=0x0a000005"}),
    [](const ::testing::TestParamInfo<DefaultPinFailure>& info) { return std::string(info.param.what); });

TEST_F(KeyOps, QueryDefaultPinWithoutPath) {
    BYTE flag = 0xCC;
    EXPECT_EQ(Hex(QR_NULL_PATH), Hex(QueryDefaultPin(nullptr, &flag)));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(1u, LogCount("ERR ListInsertDev DevPath Error=0x10110023"));
}

TEST_F(KeyOps, QueryDefaultPinMissingFunction) {
    SetEnvironmentVariableA("SOFTSKF_EMPTY_SLOTS", "SKF_GetPINInfo");
    AddKey(Key());
    BYTE flag = 0xCC;
    EXPECT_EQ(Hex(QR_TOKEN_FUNC_MISSING), Hex(QueryDefaultPin(softkey::DevicePathW("key1").c_str(), &flag)));
    EXPECT_EQ(1u, LogCount("ERR SKF_GetPINInfo(APP1) Error=0xe0300001"));
    ExpectAllClosed();
}

// ---- OEM information -------------------------------------------------------------------------------

TEST_F(KeyOps, OemInfoReadsTheKeysBytesTraced) {
    softkey::KeySpec spec = Key();
    spec.oemHex = "51A0FF0007";
    softkey::WriteKey(spec);  // not in the device list: the query does not need it
    BYTE buf[128];
    memset(buf, 0xEE, sizeof buf);
    ULONG len = 32;
    EXPECT_EQ(0u, GetDevOemInfo(softkey::DevicePathW("key1").c_str(), buf, &len));
    ASSERT_EQ(5u, len);
    const BYTE want[] = {0x51, 0xA0, 0xFF, 0x00, 0x07};
    EXPECT_EQ(0, memcmp(want, buf, 5));
    EXPECT_EQ(0xEE, buf[5]);
    ExpectAllClosed();
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::string::npos, lines[0].find("FUNC -> GetDevOemInfo()"));
    EXPECT_NE(std::string::npos, lines[1].find("FUNC <- GetDevOemInfo(),use time:"));
}

TEST_F(KeyOps, OemInfoBadArgumentsTouchNothing) {
    softkey::WriteKey(Key());
    std::wstring path = softkey::DevicePathW("key1");
    BYTE buf[8];
    memset(buf, 0xEE, sizeof buf);
    ULONG len = 0;
    EXPECT_EQ(Hex(QR_NOT_FOUND), Hex(GetDevOemInfo(path.c_str(), buf, &len)));
    EXPECT_EQ(0u, len);
    len = 8;
    EXPECT_EQ(Hex(QR_NOT_FOUND), Hex(GetDevOemInfo(nullptr, buf, &len)));
    EXPECT_EQ(Hex(QR_NOT_FOUND), Hex(GetDevOemInfo(path.c_str(), nullptr, &len)));
    EXPECT_EQ(Hex(QR_NOT_FOUND), Hex(GetDevOemInfo(path.c_str(), buf, nullptr)));
    EXPECT_EQ(8u, len);
    for (BYTE b : buf) EXPECT_EQ(0xEE, b);
    // The key was never asked: the token library is not even loaded.
    EXPECT_EQ(nullptr, GetModuleHandleA("XelSKF_QOR_ZAF.dll"));
}

TEST_F(KeyOps, OemInfoFailuresDisconnect) {
    softkey::KeySpec spec = Key();
    spec.faults.push_back({"SKF_GetOEMInfo", "0x0A000001"});
    softkey::WriteKey(spec);
    BYTE buf[128] = {};
    ULONG len = 32;
    EXPECT_EQ(Hex(0x0A000001), Hex(GetDevOemInfo(softkey::DevicePathW("key1").c_str(), buf, &len)));
    ExpectAllClosed();
    EXPECT_EQ(Hex(0x0A000023), Hex(GetDevOemInfo(softkey::DevicePathW("absent").c_str(), buf, &len)));
    ExpectAllClosed();
}

TEST_F(KeyOps, OemInfoSlotMissing) {
    SetEnvironmentVariableA("SOFTSKF_EMPTY_SLOTS", "SKF_GetOEMInfo");
    softkey::WriteKey(Key());
    BYTE buf[128] = {};
    ULONG len = 32;
    EXPECT_EQ(Hex(QR_TOKEN_FUNC_MISSING), Hex(GetDevOemInfo(softkey::DevicePathW("key1").c_str(), buf, &len)));
    ExpectAllClosed();
}

// ---- the request record -------------------------------------------------------------------------------

TEST(PinDialogRequestLayout, HandlesTravelWhole) {
    static_assert(sizeof(PinDialogRequest::device) == sizeof(void*), "device handle cut");
    static_assert(sizeof(PinDialogRequest::application) == sizeof(void*), "application handle cut");
    static_assert(sizeof(PinDialogRequest::owner) == sizeof(void*), "owner cut");
    EXPECT_EQ(260u, sizeof(PinDialogRequest::deviceName));
#if defined(_WIN64)
    EXPECT_EQ(12u, offsetof(PinDialogRequest, deviceName));
    EXPECT_EQ(272u, offsetof(PinDialogRequest, device));
    EXPECT_EQ(280u, offsetof(PinDialogRequest, application));
    EXPECT_EQ(288u, sizeof(PinDialogRequest));
#else
    EXPECT_EQ(8u, offsetof(PinDialogRequest, deviceName));
    EXPECT_EQ(276u, sizeof(PinDialogRequest));
#endif
}

} // namespace
