// The compiled resources against the design's templates: every control's id,
// class, place, size and the style bits that decide what the user sees
// (visible, disabled, owner drawing, read-only...), read from the template
// bytes themselves; the icons' and the banner's sizes.
#include "res/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Item {
    DWORD exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring cls, text;
};
struct Template {
    DWORD exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption, face;
    WORD pointSize = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* p) : p_(p) {}
    WORD Word() { WORD v; memcpy(&v, p_, 2); p_ += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, p_, 4); p_ += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    // sz_Or_Ord; ordinals of the predefined classes come back as their names.
    std::wstring SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) {
            WORD ord = Word();
            switch (ord) {
            case 0x80: return L"button";
            case 0x81: return L"edit";
            case 0x82: return L"static";
            case 0x83: return L"listbox";
            default: return L"#" + std::to_wstring(ord);
            }
        }
        std::wstring s;
        for (WORD c = first; c; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4) ++p_;
    }
    void Skip(size_t n) { p_ += n; }

private:
    const BYTE* p_;
};

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

bool LoadTemplate(UINT id, Template& t) {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!res) return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
    Reader r(base);
    if (r.Word() != 1 || r.Word() != 0xFFFF) return false;  // DLGTEMPLATEEX only
    r.Dword();  // help id
    t.exStyle = r.Dword();
    t.style = r.Dword();
    WORD count = r.Word();
    t.x = r.Short(); t.y = r.Short(); t.cx = r.Short(); t.cy = r.Short();
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    t.caption = r.SzOrOrd();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        r.Word();  // weight
        r.Skip(2);  // italic, charset
        t.face = r.SzOrOrd();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword(base);
        Item it;
        r.Dword();  // help id
        it.exStyle = r.Dword();
        it.style = r.Dword();
        it.x = r.Short(); it.y = r.Short(); it.cx = r.Short(); it.cy = r.Short();
        it.id = r.Dword();
        it.cls = Lower(r.SzOrOrd());
        it.text = r.SzOrOrd();
        WORD extra = r.Word();
        r.Skip(extra);
        t.items.push_back(it);
    }
    return true;
}

struct Want {
    int id;
    const wchar_t* cls;
    short x, y, cx, cy;
    bool visible;
    bool enabled;
    DWORD mustHave;  // further style bits
    const wchar_t* text = nullptr;  // the template's own text, when the design names one
};

constexpr DWORD kList = LBS_NOTIFY | LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT | WS_BORDER |
                        WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kRoEdit = ES_READONLY | ES_AUTOHSCROLL | WS_BORDER;

struct TemplateCase {
    UINT id;
    short cx, cy;
    bool visible;
    DWORD exStyle;
    std::vector<Want> items;
};

const TemplateCase kTemplates[] = {
    {IDD_QUENDRAL_DIALOG, 403, 240, true, WS_EX_TOPMOST | WS_EX_APPWINDOW,
     {
         {1008, L"static", 7, 13, 118, 13, true, true, 0, L"USBKEY LIST"},
         {1000, L"listbox", 7, 31, 120, 202, true, true, kList},
         {1001, L"listbox", 133, 90, 187, 143, true, true, kList},
         {1002, L"button", 330, 71, 68, 18, false, false, 0, L"CHG USBKEY NAME"},
         {1003, L"button", 328, 89, 68, 18, true, true, 0, L"VERIFY PIN"},
         {1004, L"button", 328, 123, 68, 18, true, true, 0, L"CHG PIN"},
         {1005, L"button", 328, 157, 68, 18, true, true, 0, L"SHOW CERT"},
         {1006, L"button", 328, 186, 68, 18, false, false, 0, L"REG CERT"},
         {1007, L"button", 328, 209, 68, 18, false, false, 0, L"SETTING"},
         {1010, L"static", 134, 2, 268, 65, true, true, SS_CENTERIMAGE},
         {1009, L"static", 133, 72, 185, 13, true, true, 0, L"CERT LIST"},
     }},
    {IDD_CHGDEVNAME, 222, 111, false, 0,
     {
         {1013, L"static", 7, 16, 74, 11, true, true, SS_RIGHT},
         {1011, L"edit", 84, 16, 122, 14, true, true, kRoEdit | WS_TABSTOP},
         {1014, L"static", 7, 40, 74, 11, true, true, SS_RIGHT},
         {1012, L"edit", 84, 40, 122, 14, true, true, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
         {1015, L"static", 7, 65, 208, 8, true, true, SS_CENTER},
         {IDOK, L"button", 51, 89, 50, 14, true, true, BS_DEFPUSHBUTTON},
         {IDCANCEL, L"button", 143, 89, 50, 14, true, true, 0},
     }},
    {IDD_SETTING, 222, 111, false, 0,
     {
         {1012, L"button", 29, 22, 177, 10, true, true, BS_AUTOCHECKBOX | WS_TABSTOP},
         {IDOK, L"button", 51, 90, 50, 14, true, true, BS_DEFPUSHBUTTON},
         {IDCANCEL, L"button", 139, 90, 50, 14, true, true, 0},
     }},
    {IDD_SHOWCERT, 260, 175, false, 0,
     {
         {1004, L"static", 19, 20, 39, 8, true, true, 0},
         {1000, L"edit", 59, 17, 183, 14, true, true, kRoEdit},
         {1005, L"static", 19, 41, 39, 8, true, true, 0},
         {1003, L"edit", 59, 39, 183, 14, true, true, kRoEdit},
         {1008, L"static", 19, 63, 39, 8, true, true, 0},
         {1009, L"edit", 59, 60, 183, 14, true, true, kRoEdit},
         {1010, L"static", 19, 84, 39, 8, true, true, 0},
         {1011, L"edit", 59, 81, 183, 14, true, true, kRoEdit},
         {1006, L"static", 19, 105, 39, 8, true, true, 0},
         {1001, L"edit", 59, 102, 183, 14, true, true, kRoEdit},
         {1007, L"static", 19, 127, 39, 8, true, true, 0},
         {1002, L"edit", 59, 124, 183, 14, true, true, kRoEdit},
         {IDOK, L"button", 193, 150, 50, 14, true, true, BS_DEFPUSHBUTTON},
     }},
    {IDD_ABOUTBOX, 240, 84, false, 0,
     {
         {IDC_STATIC, L"static", 14, 14, 21, 20, true, true, SS_ICON},
         {1016, L"static", 45, 14, 176, 41, true, true, 0},
         {IDOK, L"button", 183, 63, 50, 14, true, true, BS_DEFPUSHBUTTON},
     }},
};

TEST(Resources, DialogTemplatesAreTheDesignedOnes) {
    for (const TemplateCase& c : kTemplates) {
        SCOPED_TRACE("template " + std::to_string(c.id));
        Template t;
        ASSERT_TRUE(LoadTemplate(c.id, t));
        EXPECT_EQ(c.cx, t.cx);
        EXPECT_EQ(c.cy, t.cy);
        const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
        EXPECT_EQ(frame, t.style & frame);
        EXPECT_EQ(c.visible, (t.style & WS_VISIBLE) != 0);
        EXPECT_EQ(c.exStyle, t.exStyle & (WS_EX_TOPMOST | WS_EX_APPWINDOW));
        EXPECT_EQ(8, t.pointSize);
        EXPECT_EQ(L"MS Shell Dlg", t.face);
        if (c.id == IDD_QUENDRAL_DIALOG) {
            EXPECT_EQ(L"Quendral", t.caption);
        }
        ASSERT_EQ(c.items.size(), t.items.size());
        for (size_t i = 0; i < c.items.size(); ++i) {  // in the design's order, which is the tab order
            const Want& w = c.items[i];
            const Item& it = t.items[i];
            SCOPED_TRACE("control " + std::to_string(w.id));
            EXPECT_EQ(static_cast<DWORD>(w.id), it.id);
            EXPECT_EQ(w.cls, it.cls);
            EXPECT_EQ(w.x, it.x);
            EXPECT_EQ(w.y, it.y);
            EXPECT_EQ(w.cx, it.cx);
            EXPECT_EQ(w.cy, it.cy);
            EXPECT_EQ(w.visible, (it.style & WS_VISIBLE) != 0);
            EXPECT_EQ(!w.enabled, (it.style & WS_DISABLED) != 0);
            EXPECT_EQ(w.mustHave, it.style & w.mustHave);
            if (w.text) {
                EXPECT_EQ(w.text, it.text);
            }
        }
    }
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

TEST(Resources, TheMainDialogTemplateCreatesItsControlsWhereDesigned) {
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_QUENDRAL_DIALOG), nullptr,
                                  NoDialogProc, 0);
    ASSERT_TRUE(dlg);
    RECT want = {0, 0, 403, 240};
    MapDialogRect(dlg, &want);
    RECT client = {};
    GetClientRect(dlg, &client);
    EXPECT_EQ(want.right, client.right);
    EXPECT_EQ(want.bottom, client.bottom);
    for (const Want& w : kTemplates[0].items) {
        SCOPED_TRACE(w.id);
        HWND item = GetDlgItem(dlg, w.id);
        ASSERT_TRUE(item);
        // The dialog manager maps the place and the size apart.
        RECT m = {w.x, w.y, w.cx, w.cy};
        MapDialogRect(dlg, &m);
        RECT r = {m.left, m.top, m.left + m.right, m.top + m.bottom};
        RECT got = {};
        GetWindowRect(item, &got);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(r.left, got.left);
        EXPECT_EQ(r.top, got.top);
        EXPECT_EQ(r.right, got.right);
        EXPECT_EQ(r.bottom, got.bottom);
        EXPECT_EQ(w.enabled, IsWindowEnabled(item) != FALSE);
    }
    DestroyWindow(dlg);
}

TEST(Resources, TheAboutBoxShowsTheProgramIcon) {
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr,
                                  NoDialogProc, 0);
    ASSERT_TRUE(dlg);
    HWND icon = GetWindow(dlg, GW_CHILD);  // the first control
    ASSERT_TRUE(icon);
    EXPECT_NE(0, SendMessageW(icon, STM_GETICON, 0, 0));
    DestroyWindow(dlg);
}

TEST(Resources, IconsAre32By32AndTheBannerIs402By108With24Bits) {
    for (UINT id : {IDI_MAINFRAME, IDI_CERT_VALID, IDI_CERT_INVALID, IDI_KEY}) {
        SCOPED_TRACE(id);
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
        ASSERT_TRUE(icon);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm = {};
        ASSERT_TRUE(info.hbmColor);
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(32, bm.bmWidth);
        EXPECT_EQ(32, bm.bmHeight);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(IDB_BANNER), reinterpret_cast<LPCWSTR>(RT_BITMAP));
    ASSERT_TRUE(res);
    const auto* bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, res)));
    EXPECT_EQ(402, bih->biWidth);
    EXPECT_EQ(108, bih->biHeight);
    EXPECT_EQ(24, bih->biBitCount);
}

} // namespace
