// Subclassing: the object sees the control's messages first, can pass them on
// or keep them, and lets go of the window whichever of the two goes first.
// ReflectToChild hands a parent's owner-draw messages to the control object.
#include "win/listbox.h"
#include "win/window.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class EditHook : public win::Window {
public:
    bool blockSetText = false;
    int setTextSeen = 0;
    std::wstring textAfterDefault;

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
        if (msg != WM_SETTEXT) return false;
        ++setTextSeen;
        if (blockSetText) {
            result = FALSE;
            return true;
        }
        result = Default(msg, wp, lp);
        textAfterDefault = GetText();
        return true;
    }
};

HWND MakeEdit() {
    return CreateWindowExW(0, L"EDIT", L"start", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
}

TEST(Subclass, TheObjectSeesMessagesFirstAndCanKeepOrPassThem) {
    HWND edit = MakeEdit();
    ASSERT_TRUE(edit);
    EditHook hook;
    ASSERT_TRUE(hook.Subclass(edit));
    EXPECT_EQ(&hook, win::Window::FromHandle(edit));

    SetWindowTextW(edit, L"passed");
    EXPECT_EQ(1, hook.setTextSeen);
    EXPECT_EQ(L"passed", hook.textAfterDefault);  // Default() ran the edit's own procedure

    hook.blockSetText = true;
    SetWindowTextW(edit, L"kept back");
    EXPECT_EQ(2, hook.setTextSeen);
    EXPECT_EQ(L"passed", hook.GetText());
    DestroyWindow(edit);
}

TEST(Subclass, ASecondObjectCannotTakeAWindowAlreadyTaken) {
    HWND edit = MakeEdit();
    EditHook a, b;
    ASSERT_TRUE(a.Subclass(edit));
    EXPECT_FALSE(b.Subclass(edit));
    EXPECT_FALSE(a.Subclass(edit));
    EXPECT_FALSE(a.Attach(nullptr));  // not while subclassing
    EXPECT_FALSE(b.Subclass(nullptr));
    DestroyWindow(edit);
}

TEST(Subclass, ObjectGoneFirstLeavesAWorkingWindow) {
    HWND edit = MakeEdit();
    {
        EditHook hook;
        hook.blockSetText = true;
        ASSERT_TRUE(hook.Subclass(edit));
    }
    EXPECT_EQ(nullptr, win::Window::FromHandle(edit));
    EXPECT_TRUE(SetWindowTextW(edit, L"after"));
    wchar_t buf[16] = {};
    GetWindowTextW(edit, buf, 16);
    EXPECT_STREQ(L"after", buf);
    DestroyWindow(edit);
}

TEST(Subclass, WindowGoneFirstClearsTheObject) {
    EditHook hook;
    HWND edit = MakeEdit();
    ASSERT_TRUE(hook.Subclass(edit));
    DestroyWindow(edit);
    EXPECT_FALSE(hook.IsSubclassed());
    EXPECT_EQ(nullptr, hook.Hwnd());
    HWND other = MakeEdit();
    EXPECT_TRUE(hook.Subclass(other));  // free for another window
    DestroyWindow(other);
}

// --- reflection

class MeasuredList : public win::ListBox {
public:
    int drawn = 0;

protected:
    void MeasureItem(MEASUREITEMSTRUCT& mis) override { mis.itemHeight = 33; }
    void DrawItem(const DRAWITEMSTRUCT&) override { ++drawn; }
};

int g_menuMeasures = 0;
LRESULT CALLBACK ReflectingParent(HWND h, UINT m, WPARAM w, LPARAM l) {
    LRESULT result = 0;
    if (win::ReflectToChild(h, m, w, l, result)) return result;
    if (m == WM_MEASUREITEM) ++g_menuMeasures;
    return DefWindowProcW(h, m, w, l);
}

TEST(Reflect, OwnerDrawMessagesReachTheControlObject) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ReflectingParent;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuendralReflectTest";
    ASSERT_TRUE(RegisterClassW(&wc));
    HWND parent = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 200, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    HWND list = CreateWindowExW(0, L"LISTBOX", L"",
                                WS_CHILD | WS_VISIBLE | LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT,
                                0, 0, 200, 200, parent, reinterpret_cast<HMENU>(77), wc.hInstance, nullptr);
    ASSERT_TRUE(list);
    MeasuredList obj;
    ASSERT_TRUE(obj.Subclass(list));
    obj.InsertString(0, L"a");
    obj.InsertString(1, L"b");
    EXPECT_EQ(33, obj.GetItemHeight(0));
    EXPECT_EQ(33, obj.GetItemHeight(1));
    UpdateWindow(list);
    EXPECT_GE(obj.drawn, 2);
    EXPECT_EQ(L"b", obj.GetString(1));
    EXPECT_EQ(L"", obj.GetString(5));

    // A menu's measure request is never taken for a control's.
    MEASUREITEMSTRUCT menu = {};
    menu.CtlType = ODT_MENU;
    menu.CtlID = 77;
    SendMessageW(parent, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&menu));
    EXPECT_EQ(1, g_menuMeasures);
    EXPECT_EQ(0u, menu.itemHeight);
    DestroyWindow(parent);
}

} // namespace
