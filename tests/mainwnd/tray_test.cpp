// Tray icon, balloon notices, the dialog's visibility and the closing of the
// program's dialogs.
#include "mainwnd/tray.h"
#include "res/resource.h"
#include "tests/mainwnd/uitest.h"
#include "tests/support/testenv.h"
#include "text/langtext.h"
#include "token/devlist.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HICON AppIcon() { return LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)); }

// The stand-in dialog with a TrayNotices wired as the main dialog wires it.
class TrayFixture : public ::testing::Test {
protected:
    TrayFixture()
        : dialog([this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
              switch (msg) {
              case WM_TIMER:
                  tray.OnTimer(wp);
                  return false;  // and the default processing
              case WM_CLOSE:
                  tray.OnClose();
                  result = 0;
                  return true;
              case WM_WINDOWPOSCHANGING:
                  result = DefWindowProcW(dialog.Hwnd(), msg, wp, lp);  // the dialog's default
                  tray.OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lp));
                  return true;
              case kTrayCallbackMessage:
                  result = tray.OnTrayNotify(wp, lp);
                  return true;
              }
              return false;
          }) {}

    void SetUp() override {
        InitDevListLock();
        tray.Init(dialog.Hwnd(), AppIcon());
    }
    void TearDown() override {
        SetKeys(0);
        DeleteDevListLock();
    }
    static void SetKeys(size_t n) {
        DevListGuard guard;
        DevListStorage().clear();
        for (size_t i = 0; i < n; ++i) DevListStorage().push_back(std::make_unique<DevRecord>());
    }
    bool Visible() const { return IsWindowVisible(dialog.Hwnd()) != FALSE; }
    LRESULT DoubleClick() { return SendMessageW(dialog.Hwnd(), kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK); }

    uitest::TrayRecorder recorder{false};
    TrayNotices tray;
    uitest::MainDialogStandIn dialog;
};

TEST_F(TrayFixture, ANewBalloonReplacesTheOldOneAndKeepsItsOwnTime) {
    tray.ShowBalloon(L"Title A", L"Text A", 400);
    uitest::PumpFor(150);
    tray.ShowBalloon(L"Title B", L"Text B", 700);
    // A's own end (400 ms) passes without a hide: its timer was replaced.
    uitest::PumpFor(450);
    ASSERT_EQ(4u, recorder.calls.size());
    const auto& c = recorder.calls;
    EXPECT_EQ(L"", c[0].info);  // hide before A
    EXPECT_EQ(L"Text A", c[1].info);
    EXPECT_EQ(L"Title A", c[1].infoTitle);
    EXPECT_EQ(L"", c[2].info);  // B replaces A at once
    EXPECT_EQ(L"Text B", c[3].info);
    EXPECT_EQ(L"Title B", c[3].infoTitle);
    EXPECT_EQ(700u, c[3].timeout);
    EXPECT_EQ(static_cast<DWORD>(NIIF_INFO), c[3].infoFlags);
    for (const auto& call : c) {
        EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), call.message);
        EXPECT_TRUE(call.flags & NIF_INFO);
    }
    // Timer 2 takes B down after its 700 ms, once.
    EXPECT_TRUE(uitest::PumpUntil([&] { return recorder.calls.size() >= 5; }, 2000));
    uitest::PumpFor(300);
    ASSERT_EQ(5u, recorder.calls.size());
    EXPECT_EQ(L"", recorder.calls[4].info);
    DWORD shownFor = recorder.calls[4].tick - recorder.calls[3].tick;
    EXPECT_GE(shownFor, 650u);
    EXPECT_LT(shownFor, 1200u);
    EXPECT_EQ(L"", std::wstring(tray.Record().szInfo));
}

TEST_F(TrayFixture, OtherTimersDoNotTouchTheBalloon) {
    tray.ShowBalloon(L"T", L"X", 60000);
    size_t before = recorder.calls.size();
    tray.OnTimer(1);
    tray.OnTimer(3);
    EXPECT_EQ(before, recorder.calls.size());
    EXPECT_EQ(L"X", std::wstring(tray.Record().szInfo));
}

TEST_F(TrayFixture, OverlongTextsAreCutToTheRecordsFields) {
    std::wstring text(300, L'x');
    std::wstring title(100, L't');
    // A surrogate pair across the cut is not split.
    std::wstring pairAtCut = std::wstring(62, L'p') + L"\xD83D\xDE00";
    tray.ShowBalloon(title.c_str(), text.c_str(), 1000);
    EXPECT_EQ(std::wstring(255, L'x'), std::wstring(tray.Record().szInfo));
    EXPECT_EQ(std::wstring(63, L't'), std::wstring(tray.Record().szInfoTitle));
    tray.ShowBalloon(pairAtCut.c_str(), L"y", 1000);
    EXPECT_EQ(std::wstring(62, L'p'), std::wstring(tray.Record().szInfoTitle));
}

TEST_F(TrayFixture, TheRecordIsTheVersion2LayoutWithTheTooltip) {
    const NOTIFYICONDATAW& r = tray.Record();
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAW_V2_SIZE), r.cbSize);
#if defined(_WIN64)
    EXPECT_EQ(952u, r.cbSize);
#endif
    EXPECT_EQ(dialog.Hwnd(), r.hWnd);
    EXPECT_EQ(128u, r.uID);
    EXPECT_EQ(7u, r.uFlags);
    EXPECT_EQ(0x465u, r.uCallbackMessage);
    EXPECT_EQ(3u, r.uTimeout);
    EXPECT_EQ(0x10u, r.dwInfoFlags);
    EXPECT_EQ(GetLangText(L"app_Tray_Txt"), std::wstring(r.szTip));
    EXPECT_FALSE(GetLangText(L"app_Tray_Txt").empty());
}

TEST_F(TrayFixture, AddingTheIconLeavesAnOldNoticeOut) {
    tray.ShowBalloon(L"T", L"left over", 60000);
    tray.AddIcon();
    ASSERT_EQ(1u, recorder.Count(NIM_ADD));
    const uitest::TrayCall* add = nullptr;
    for (const auto& c : recorder.calls)
        if (c.message == NIM_ADD) add = &c;
    ASSERT_NE(nullptr, add);
    EXPECT_FALSE(add->flags & NIF_INFO);
    EXPECT_TRUE(tray.Record().uFlags & NIF_INFO);  // kept for the next notices
}

TEST_F(TrayFixture, DoubleClickTogglesTheDialogOtherClicksDoNothing) {
    SetKeys(1);
    // The template is visible, yet the dialog came up hidden and stays so.
    EXPECT_FALSE(Visible());
    ShowWindow(dialog.Hwnd(), SW_SHOW);
    SetWindowPos(dialog.Hwnd(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    EXPECT_FALSE(Visible());  // hidden start: allowShow is 0
    EXPECT_EQ(0, tray.allowShow);

    for (UINT m : {WM_LBUTTONUP, WM_LBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE}) {
        EXPECT_EQ(1, SendMessageW(dialog.Hwnd(), kTrayCallbackMessage, kTrayIconId, m));
        EXPECT_FALSE(Visible()) << m;
        EXPECT_EQ(0, tray.allowShow) << m;
    }
    EXPECT_EQ(1, DoubleClick());
    EXPECT_TRUE(Visible());
    EXPECT_EQ(1, tray.allowShow);
    EXPECT_EQ(1, DoubleClick());
    EXPECT_FALSE(Visible());
    EXPECT_EQ(1, DoubleClick());
    EXPECT_TRUE(Visible());
}

TEST_F(TrayFixture, CloseOnlyHidesTheIconStaysAndADoubleClickBringsItBack) {
    SetKeys(1);
    tray.AddIcon();
    DoubleClick();
    ASSERT_TRUE(Visible());
    SendMessageW(dialog.Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(Visible());
    EXPECT_TRUE(IsWindow(dialog.Hwnd()));
    EXPECT_EQ(0u, recorder.Count(NIM_DELETE));
    DoubleClick();
    EXPECT_TRUE(Visible());
}

TEST_F(TrayFixture, ButtonsFollowTheKeysAndTheCertificateList) {
    SetKeys(1);
    DoubleClick();
    for (int id : {1002, 1003, 1004, 1007}) EXPECT_TRUE(dialog.Enabled(id)) << id;
    for (int id : {1005, 1006}) EXPECT_FALSE(dialog.Enabled(id)) << id;
    EXPECT_EQ(dialog.Item(IDC_LIST_DEV), GetFocus());

    dialog.certs.InsertItem(0, IDI_CERT_VALID, L"cert");
    tray.UpdateButtonStates();
    for (int id = 1002; id <= 1007; ++id) EXPECT_TRUE(dialog.Enabled(id)) << id;

    SetKeys(0);
    tray.UpdateButtonStates();
    for (int id = 1002; id <= 1006; ++id) EXPECT_FALSE(dialog.Enabled(id)) << id;
    EXPECT_TRUE(dialog.Enabled(1007));
}

TEST_F(TrayFixture, AShowRequestWithoutAKeyLeavesTheDialogHidden) {
    for (int id = 1002; id <= 1007; ++id) EnableWindow(dialog.Item(id), TRUE);
    tray.ShowMainWindow();
    EXPECT_FALSE(Visible());
    EXPECT_EQ(1, tray.allowShow);
    for (int id = 1002; id <= 1006; ++id) EXPECT_FALSE(dialog.Enabled(id)) << id;
    EXPECT_TRUE(dialog.Enabled(1007));
}

TEST_F(TrayFixture, AShowRequestShowsAndRestoresTheDialog) {
    SetKeys(1);
    tray.ShowMainWindow();
    EXPECT_TRUE(Visible());
    ShowWindow(dialog.Hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(dialog.Hwnd()));
    tray.ShowMainWindow();
    EXPECT_FALSE(IsIconic(dialog.Hwnd()));
    EXPECT_TRUE(Visible());
}

// ---- the real shell ---------------------------------------------------------------

TEST(TrayShell, TheIconExistsOnlyBetweenAddAndDelete) {
    InitDevListLock();
    uitest::TrayRecorder recorder(true);
    uitest::TestWindow window;
    TrayNotices tray;
    tray.Init(window.Hwnd(), AppIcon());

    tray.ShowBalloon(L"before", L"no icon yet", 2000);
    ASSERT_EQ(2u, recorder.calls.size());
    EXPECT_FALSE(recorder.calls[1].result) << "a notice without the icon has no effect";

    tray.AddIcon();
    EXPECT_TRUE(recorder.calls.back().result) << "NIM_ADD with cbSize " << recorder.calls.back().cbSize;
    EXPECT_TRUE(tray.IconAdded());
    tray.ShowBalloon(GetLangText(L"app_Tray_TxtInfoTitle").c_str(), GetLangText(L"app_Tray_TxtInfoCome").c_str(),
                     2000);
    EXPECT_TRUE(recorder.calls.back().result);

    tray.CloseAllDlgs();
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), recorder.calls.back().message);
    EXPECT_TRUE(recorder.calls.back().result);
    EXPECT_FALSE(tray.IconAdded());
    tray.HideBalloon();
    EXPECT_FALSE(recorder.calls.back().result);
    DeleteDevListLock();
}

// ---- closing dialogs by title -----------------------------------------------------

TEST(CloseDlgByTitle, ADialogThatRefusesGetsElevenRequests) {
    uitest::StdDialog stubborn(L"Stubborn", true);
    CloseDlgByTitle(L"Stubborn");
    EXPECT_EQ(11, stubborn.closeRequests);
    EXPECT_TRUE(stubborn.Alive());
}

TEST(CloseDlgByTitle, ClosesEveryDialogWithTheTrimmedTitle) {
    uitest::StdDialog a(L"Verify USB Key PIN", false);
    uitest::StdDialog b(L"Verify USB Key PIN", false);
    uitest::StdDialog other(L"Verify USB Key PIN 2", false);
    CloseDlgByTitle(L" \t Verify USB Key PIN  ");
    EXPECT_FALSE(a.Alive());
    EXPECT_FALSE(b.Alive());
    EXPECT_TRUE(other.Alive());
    EXPECT_EQ(0, other.closeRequests);
}

TEST(CloseDlgByTitle, BlankOrUnknownTitlesSendNothing) {
    uitest::StdDialog blank(L"", true);
    uitest::StdDialog spaces(L"   ", true);
    CloseDlgByTitle(L"   ");
    CloseDlgByTitle(L"");
    CloseDlgByTitle(nullptr);
    CloseDlgByTitle(L"No window has this title");
    EXPECT_EQ(0, blank.closeRequests);
    EXPECT_EQ(0, spaces.closeRequests);
}

TEST(CloseDlgByTitle, WindowsOfOtherClassesAreLeftAlone) {
    int closes = 0;
    uitest::TestWindow plain(
        [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT& r) {
            if (msg != WM_CLOSE) return false;
            ++closes;
            r = 0;
            return true;
        },
        L"Settings");
    CloseDlgByTitle(L"Settings");
    EXPECT_EQ(0, closes);
}

TEST(CloseDlgByTitle, DialogsOfOtherProcessesAreLeftAlone) {
    // dlghost shows a standard dialog with the title and exits with the number
    // of WM_CLOSE requests it got.
    std::wstring host = testenv::TestBinDir() + L"\\dlghost.exe";
    std::wstring title = L"Settings " + std::to_wstring(GetCurrentProcessId());
    HANDLE p = uitest::StartProcess(host, L"\"" + title + L"\" 1500");
    ASSERT_NE(nullptr, p);
    ASSERT_TRUE(uitest::PumpUntil([&] { return FindWindowW(L"#32770", title.c_str()) != nullptr; }, 10000));
    CloseDlgByTitle(title.c_str());
    ASSERT_EQ(WAIT_OBJECT_0, uitest::WaitProcessPumping(p, 20000));
    DWORD code = 99;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    EXPECT_EQ(0u, code);
}

class CloseAllDlgsTest : public ::testing::TestWithParam<LCID> {};

TEST_P(CloseAllDlgsTest, ClosesInTitleOrderHidesTheMainDialogAndRemovesTheIcon) {
    qtext::SetLcidForTest(GetParam());
    InitDevListLock();
    const wchar_t* const keys[] = {L"Dlg_About_Title",     L"Dlg_ShowCert_Title", L"Dlg_ChgDevName_Title",
                                   L"Dlg_VerifyPIN_Title", L"Dlg_ChgPIN_Title",   L"Dlg_Setting_Title"};
    std::vector<std::wstring> order;
    std::vector<std::unique_ptr<uitest::StdDialog>> dialogs;
    // Opened in reverse, so the closing order is the function's, not the windows'.
    for (int i = 5; i >= 0; --i) {
        std::wstring title = GetLangText(keys[i]);
        auto d = std::make_unique<uitest::StdDialog>(title, false);
        d->onClose = [&order, title] { order.push_back(title); };
        dialogs.push_back(std::move(d));
    }
    uitest::StdDialog mainDlg(GetLangText(L"MainDlg_Title"), true);
    uitest::TrayRecorder recorder(false);
    TrayNotices tray;
    tray.Init(mainDlg.Hwnd(), AppIcon());
    tray.allowShow = 1;
    mainDlg.onClose = [&] {
        order.push_back(L"main");
        tray.OnClose();
    };
    ShowWindow(mainDlg.Hwnd(), SW_SHOW);
    tray.AddIcon();

    tray.CloseAllDlgs();

    // In both Chinese languages two button texts equal the PIN dialog titles;
    // the titles themselves are distinct.
    std::vector<std::wstring> expected;
    for (const wchar_t* k : keys) expected.push_back(GetLangText(k));
    expected.insert(expected.end(), 11, L"main");
    EXPECT_EQ(expected, order);
    for (const auto& d : dialogs) EXPECT_FALSE(d->Alive());
    EXPECT_FALSE(IsWindowVisible(mainDlg.Hwnd()));
    EXPECT_TRUE(mainDlg.Alive());
    ASSERT_FALSE(recorder.calls.empty());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), recorder.calls.back().message);
    DeleteDevListLock();
}

INSTANTIATE_TEST_SUITE_P(Languages, CloseAllDlgsTest, ::testing::Values(1033, 2052, 1028),
                         [](const ::testing::TestParamInfo<LCID>& i) { return "Lcid" + std::to_string(i.param); });

} // namespace
