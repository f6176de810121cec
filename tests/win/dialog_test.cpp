// win::Dialog through real windows: the modal loop, its end codes, the
// keyboard filter hook, default handling, owner disabling, modeless runs.
#include "win/dialog.h"

#include "tests/win/testdlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

constexpr UINT WM_TEST_STEP = WM_APP + 1;
constexpr UINT_PTR kWatchdogTimer = 99;
constexpr INT_PTR kWatchdogCode = -99;

// A dialog whose behaviour each test fills in. A watchdog ends a run that
// would otherwise hang the test.
class TestDialog : public win::Dialog {
public:
    explicit TestDialog(UINT id = IDD_TEST_PLAIN) : Dialog(id) {}

    std::function<void(TestDialog&)> onInit;
    std::function<void(TestDialog&)> onStep;  // WM_TEST_STEP
    std::function<bool(TestDialog&, UINT, WPARAM, LPARAM, LRESULT&)> onMessage;
    std::function<bool(MSG&)> preTranslate;
    int initCalls = 0;
    bool controlsAtInit = false;
    LONG_PTR userAtInit = 0;
    bool destroySeen = false;
    std::vector<UINT> commands;

    void PostStep() { PostMessageW(Hwnd(), WM_TEST_STEP, 0, 0); }
    LRESULT CallDefault(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }

protected:
    BOOL OnInitDialog() override {
        ++initCalls;
        controlsAtInit = Item(IDC_TEST_EDIT) != nullptr && Item(IDOK) != nullptr;
        userAtInit = GetWindowLongPtrW(Hwnd(), DWLP_USER);
        SetTimer(Hwnd(), kWatchdogTimer, 10000, nullptr);
        if (onInit) onInit(*this);
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
        if (msg == WM_TIMER && wp == kWatchdogTimer) {
            KillTimer(Hwnd(), kWatchdogTimer);
            EndDialog(kWatchdogCode);
            return true;
        }
        if (msg == WM_TEST_STEP && onStep) {
            onStep(*this);
            return true;
        }
        if (msg == WM_DESTROY) destroySeen = true;
        if (msg == WM_COMMAND) commands.push_back(LOWORD(wp));
        return onMessage && onMessage(*this, msg, wp, lp, result);
    }
    bool PreTranslateMessage(MSG& msg) override { return preTranslate && preTranslate(msg); }
};

TEST(Dialog, ModalRunEndsWithTheGivenCodeAfterInitialisation) {
    TestDialog dlg;
    HWND seen = nullptr;
    dlg.onInit = [](TestDialog& d) { d.PostStep(); };
    dlg.onStep = [&](TestDialog& d) {
        seen = d.Hwnd();
        EXPECT_TRUE(d.IsModalRunning());
        EXPECT_TRUE(IsWindowVisible(d.Hwnd()));  // shown although the template is not visible
        EXPECT_EQ(&d, win::Dialog::FromDialogHandle(d.Hwnd()));
        d.EndDialog(1234);
    };
    EXPECT_EQ(1234, dlg.DoModal());
    EXPECT_EQ(1, dlg.initCalls);
    EXPECT_TRUE(dlg.controlsAtInit);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<win::Dialog*>(&dlg)), dlg.userAtInit);
    EXPECT_TRUE(dlg.destroySeen);
    ASSERT_NE(nullptr, seen);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ(nullptr, dlg.Hwnd());
    EXPECT_FALSE(dlg.IsModalRunning());
}

TEST(Dialog, TheSameObjectRunsTwice) {
    TestDialog dlg;
    int run = 0;
    dlg.onInit = [&](TestDialog& d) { d.EndDialog(++run); };
    EXPECT_EQ(1, dlg.DoModal());
    EXPECT_EQ(2, dlg.DoModal());
}

TEST(Dialog, EndDuringInitialisationNeverShowsTheDialog) {
    TestDialog dlg;
    bool shown = false;
    dlg.onInit = [](TestDialog& d) { d.EndDialog(IDCANCEL); };
    dlg.onMessage = [&](TestDialog&, UINT msg, WPARAM wp, LPARAM, LRESULT&) {
        if (msg == WM_SHOWWINDOW && wp) shown = true;
        return false;
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_FALSE(shown);
}

struct KeyCase {
    const char* name;
    WPARAM key;
    bool swallowKeys;
    INT_PTR expected;  // kStepCode: the key did nothing, the test's own step ended the run
};
constexpr INT_PTR kStepCode = 77;
const KeyCase kKeys[] = {
    {"enter presses OK", VK_RETURN, false, IDOK},
    {"escape cancels", VK_ESCAPE, false, IDCANCEL},
    {"enter swallowed by the filter", VK_RETURN, true, kStepCode},
    {"escape swallowed by the filter", VK_ESCAPE, true, kStepCode},
};

TEST(Dialog, KeysPassThePreTranslateFilterBeforeTheDialogManager) {
    for (const KeyCase& c : kKeys) {
        SCOPED_TRACE(c.name);
        TestDialog dlg;
        int filtered = 0;
        dlg.preTranslate = [&](MSG& msg) {
            if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
                ++filtered;
                return c.swallowKeys;
            }
            return false;
        };
        dlg.onInit = [&](TestDialog& d) {
            // The key goes to the focused edit, as typing would; the step after it ends the run.
            PostMessageW(d.Item(IDC_TEST_EDIT), WM_KEYDOWN, c.key, 1);
            d.PostStep();
        };
        dlg.onStep = [](TestDialog& d) { d.EndDialog(kStepCode); };
        EXPECT_EQ(c.expected, dlg.DoModal());
        EXPECT_EQ(1, filtered);
    }
}

TEST(Dialog, OverriddenOkAndCancelAreWhatEnterAndTheCloseBoxRun) {
    struct Keeper : TestDialog {
        int ok = 0, cancel = 0;
        void OnOK() override { ++ok; }
        void OnCancel() override { ++cancel; }
    } dlg;
    dlg.onInit = [](TestDialog& d) {
        PostMessageW(d.Item(IDC_TEST_EDIT), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(d.Hwnd(), WM_CLOSE, 0, 0);
        d.PostStep();
    };
    // The close box's IDCANCEL comes through the queue: wait for it.
    int tries = 0;
    dlg.onStep = [&](TestDialog& d) {
        if ((dlg.ok == 1 && dlg.cancel == 1) || ++tries > 100)
            d.EndDialog(kStepCode);
        else
            d.PostStep();
    };
    EXPECT_EQ(kStepCode, dlg.DoModal());
    EXPECT_EQ(1, dlg.ok);
    EXPECT_EQ(1, dlg.cancel);
}

TEST(Dialog, CloseBoxCancelsByDefault) {
    TestDialog dlg;
    dlg.onInit = [](TestDialog& d) { PostMessageW(d.Hwnd(), WM_CLOSE, 0, 0); };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
}

TEST(Dialog, UnhandledMessagesGetTheDialogManagersDefault) {
    TestDialog dlg;
    LRESULT defId = 0;
    dlg.onInit = [](TestDialog& d) { d.PostStep(); };
    dlg.onStep = [&](TestDialog& d) {
        defId = SendMessageW(d.Hwnd(), DM_GETDEFID, 0, 0);
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ(DC_HASDEFID, HIWORD(defId));
    EXPECT_EQ(IDOK, LOWORD(defId));
}

// The main dialog's hidden start: default processing first, then the show flag goes.
TEST(Dialog, WindowPosGuardKeepsAVisibleTemplateHidden) {
    for (bool guard : {true, false}) {
        SCOPED_TRACE(guard ? "guard" : "no guard");
        TestDialog dlg(IDD_TEST_VISIBLE);
        int defaults = 0;
        bool visibleAtStep = true;
        dlg.onMessage = [&](TestDialog& d, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
            if (msg != WM_WINDOWPOSCHANGING || !guard) return false;
            result = d.CallDefault(msg, wp, lp);
            ++defaults;
            reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~SWP_SHOWWINDOW;
            return true;
        };
        dlg.onInit = [](TestDialog& d) { d.PostStep(); };
        dlg.onStep = [&](TestDialog& d) {
            visibleAtStep = IsWindowVisible(d.Hwnd()) != FALSE;
            d.ShowWindow(SW_SHOW);  // asked again: still refused with the guard
            visibleAtStep = visibleAtStep || IsWindowVisible(d.Hwnd());
            d.EndDialog(IDOK);
        };
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_EQ(!guard, visibleAtStep);
        if (guard) {
            EXPECT_GT(defaults, 0);
        }
    }
}

TEST(Dialog, OwnerIsDisabledWhileTheModalDialogRuns) {
    TestDialog owner;
    ASSERT_TRUE(owner.Create());
    ASSERT_TRUE(IsWindowEnabled(owner.Hwnd()));
    TestDialog dlg;
    bool ownerEnabledDuring = true;
    HWND ownerOfDialog = nullptr;
    dlg.onInit = [](TestDialog& d) { d.PostStep(); };
    dlg.onStep = [&](TestDialog& d) {
        ownerEnabledDuring = IsWindowEnabled(owner.Hwnd()) != FALSE;
        ownerOfDialog = GetWindow(d.Hwnd(), GW_OWNER);
        d.EndDialog(IDOK);
    };
    // A child control as the owner: its top-level window is used.
    EXPECT_EQ(IDOK, dlg.DoModal(owner.Item(IDC_TEST_EDIT)));
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_EQ(owner.Hwnd(), ownerOfDialog);
    EXPECT_TRUE(IsWindowEnabled(owner.Hwnd()));
    owner.DestroyWindow();
}

TEST(Dialog, NestedModalRunsEndOneAtATime) {
    TestDialog outer;
    INT_PTR innerResult = 0;
    bool outerAliveAfterInner = false;
    outer.onInit = [](TestDialog& d) { d.PostStep(); };
    outer.onStep = [&](TestDialog& d) {
        TestDialog inner;
        inner.onInit = [](TestDialog& i) { i.PostStep(); };
        inner.onStep = [](TestDialog& i) { i.EndDialog(5); };
        innerResult = inner.DoModal(d.Hwnd());
        outerAliveAfterInner = IsWindow(d.Hwnd()) && d.IsModalRunning();
        d.EndDialog(6);
    };
    EXPECT_EQ(6, outer.DoModal());
    EXPECT_EQ(5, innerResult);
    EXPECT_TRUE(outerAliveAfterInner);
}

TEST(Dialog, EndingTheOuterDialogFromAnInnerOneWaitsForTheInner) {
    TestDialog outer;
    INT_PTR innerResult = 0;
    outer.onInit = [](TestDialog& d) { d.PostStep(); };
    outer.onStep = [&](TestDialog& d) {
        TestDialog inner;
        inner.onInit = [](TestDialog& i) { i.PostStep(); };
        int steps = 0;
        inner.onStep = [&](TestDialog& i) {
            if (++steps == 1) {
                d.EndDialog(8);  // the outer one, while the inner loop runs
                i.PostStep();
            } else {
                i.EndDialog(9);
            }
        };
        innerResult = inner.DoModal(d.Hwnd());
    };
    EXPECT_EQ(8, outer.DoModal());
    EXPECT_EQ(9, innerResult);
}

TEST(Dialog, QuitMessageEndsTheLoopAndIsPostedAgain) {
    TestDialog dlg;
    dlg.onInit = [](TestDialog&) { PostQuitMessage(3); };
    EXPECT_EQ(-1, dlg.DoModal());
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
}

TEST(Dialog, MissingTemplateFails) {
    TestDialog dlg(4242);
    EXPECT_EQ(-1, dlg.DoModal());
    EXPECT_EQ(0, dlg.initCalls);
    EXPECT_FALSE(dlg.Create());
}

TEST(Dialog, ModelessDialogLivesUntilDestroyed) {
    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    HWND h = dlg.Hwnd();
    ASSERT_TRUE(IsWindow(h));
    EXPECT_EQ(1, dlg.initCalls);
    EXPECT_FALSE(dlg.IsModalRunning());
    EXPECT_FALSE(dlg.Create());  // one window per object
    dlg.SetItemText(IDC_TEST_EDIT, L"abc \x4E2D");
    EXPECT_EQ(L"abc \x4E2D", dlg.GetItemText(IDC_TEST_EDIT));
    dlg.EnableItem(IDOK, false);
    EXPECT_FALSE(dlg.IsItemEnabled(IDOK));
    dlg.ShowItem(IDCANCEL, false);
    EXPECT_FALSE(dlg.IsItemVisible(IDCANCEL));
    EXPECT_EQ(L"", dlg.GetItemText(4711));  // no such control
    dlg.DestroyWindow();
    EXPECT_TRUE(dlg.destroySeen);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(nullptr, dlg.Hwnd());
}

TEST(Dialog, ModelessEndDialogDestroysTheWindow) {
    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    HWND h = dlg.Hwnd();
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(IDCANCEL, dlg.Result());
}

TEST(Dialog, DestroyingTheObjectDestroysAModelessWindow) {
    HWND h = nullptr;
    {
        TestDialog dlg;
        ASSERT_TRUE(dlg.Create());
        h = dlg.Hwnd();
    }
    EXPECT_FALSE(IsWindow(h));
}

TEST(Dialog, PumpDialogMessageIgnoresWindowsThatAreNotOurDialogs) {
    HWND plain = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MSG msg = {};
    msg.hwnd = plain;
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_RETURN;
    EXPECT_FALSE(win::Dialog::PumpDialogMessage(msg));
    EXPECT_EQ(nullptr, win::Dialog::FromDialogHandle(plain));
    DestroyWindow(plain);
}

} // namespace
