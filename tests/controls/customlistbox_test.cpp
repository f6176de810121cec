// CCustomListBox on the main dialog's own template: row height, the row-item
// bookkeeping whichever way rows go, the drawing (read back as pixels) and
// the click notification with the class-wide last row.
#include "tests/controls/host.h"
#include "tests/controls/pixels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kSelected = RGB(220, 228, 238);
constexpr COLORREF kInk = RGB(0, 100, 200);

class ListFixture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Create());
        CCustomListBox::SetLastSelectedRow(-1);
    }
    ControlHost host;
    CCustomListBox& list = host.keys;
};

TEST_F(ListFixture, EveryRowIs45PixelsHigh) {
    ASSERT_EQ(0, list.InsertItem(0, IDI_KEY, L"a"));
    ASSERT_EQ(1, list.InsertItem(1, 0, L"b\rc\rd"));
    ASSERT_EQ(0, list.InsertItem(0, IDI_CERT_VALID, L"e"));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(45, list.GetItemHeight(row)) << row;
}

// --- bookkeeping: a table of edit sequences and the rows they must leave

struct Op {
    enum Kind { Insert, Delete, Reset } kind;
    int row;
    const wchar_t* text;
    int expectedResult;  // of the insert / delete call
};
struct SequenceCase {
    const char* name;
    std::vector<Op> ops;
    std::vector<std::wstring> rows;
};

const SequenceCase kSequences[] = {
    {"delete row 0 of three, insert a new row 0",
     {{Op::Insert, 0, L"A", 0}, {Op::Insert, 1, L"B", 1}, {Op::Insert, 2, L"C", 2}, {Op::Delete, 0, nullptr, 2},
      {Op::Insert, 0, L"D", 0}},
     {L"D", L"B", L"C"}},
    {"reset, then two rows",
     {{Op::Insert, 0, L"A", 0}, {Op::Insert, 1, L"B", 1}, {Op::Reset, 0, nullptr, 0}, {Op::Insert, 0, L"X", 0},
      {Op::Insert, 1, L"Y", 1}},
     {L"X", L"Y"}},
    {"insert in the middle",
     {{Op::Insert, 0, L"A", 0}, {Op::Insert, 1, L"C", 1}, {Op::Insert, 1, L"B", 1}},
     {L"A", L"B", L"C"}},
    {"delete last and first",
     {{Op::Insert, 0, L"A", 0}, {Op::Insert, 1, L"B", 1}, {Op::Insert, 2, L"C", 2}, {Op::Delete, 2, nullptr, 2},
      {Op::Delete, 0, nullptr, 1}},
     {L"B"}},
    {"delete of a row that does not exist changes nothing",
     {{Op::Insert, 0, L"A", 0}, {Op::Delete, 5, nullptr, LB_ERR}, {Op::Delete, -1, nullptr, LB_ERR}},
     {L"A"}},
    {"insert beyond the end or before the start is refused",
     {{Op::Insert, 1, L"A", LB_ERR}, {Op::Insert, -1, L"B", LB_ERR}, {Op::Insert, 0, L"C", 0},
      {Op::Insert, 2, L"D", LB_ERR}},
     {L"C"}},
};

TEST_F(ListFixture, ItemsFollowTheRowsWhicheverWayTheyAreRemoved) {
    for (const SequenceCase& c : kSequences) {
        SCOPED_TRACE(c.name);
        list.ResetContent();
        for (const Op& op : c.ops) {
            switch (op.kind) {
            case Op::Insert:
                EXPECT_EQ(op.expectedResult, list.InsertItem(op.row, IDI_KEY, op.text));
                break;
            case Op::Delete:  // straight to the control, as the dialog does
                EXPECT_EQ(op.expectedResult,
                          SendMessageW(list.Hwnd(), LB_DELETESTRING, static_cast<WPARAM>(op.row), 0));
                break;
            case Op::Reset:
                SendMessageW(list.Hwnd(), LB_RESETCONTENT, 0, 0);
                break;
            }
        }
        ASSERT_EQ(c.rows.size(), list.ItemCount());
        ASSERT_EQ(static_cast<int>(c.rows.size()), list.GetCount());
        for (size_t i = 0; i < c.rows.size(); ++i) {
            const int row = static_cast<int>(i);
            ASSERT_NE(nullptr, list.Item(row));
            EXPECT_EQ(c.rows[i], list.Item(row)->text) << row;
            EXPECT_EQ(c.rows[i], list.GetString(row)) << row;
        }
        EXPECT_EQ(nullptr, list.Item(static_cast<int>(c.rows.size())));
    }
}

TEST_F(ListFixture, SetItemTextChangesOnlyTheDrawnText) {
    list.InsertItem(0, IDI_KEY, L"old");
    EXPECT_TRUE(list.SetItemText(0, L"new"));
    EXPECT_EQ(L"new", list.Item(0)->text);
    EXPECT_EQ(L"old", list.GetString(0));  // the list box keeps its own copy
    EXPECT_FALSE(list.SetItemText(1, L"x"));
    EXPECT_FALSE(list.SetItemText(-1, L"x"));
    EXPECT_EQ(IDI_KEY, list.Item(0)->icon);
    EXPECT_EQ(kInk, list.Item(0)->textColor);
    EXPECT_EQ(kWhite, list.Item(0)->backColor);
}

// --- drawing into a DC of our own

class DrawFixture : public ListFixture {
protected:
    static constexpr int kW = 240;
    // Draws row `row` of the list into a fresh canvas, as the list box would.
    void Draw(PixelCanvas& canvas, bool selected, UINT itemId) {
        DRAWITEMSTRUCT dis = {};
        dis.CtlType = ODT_LISTBOX;
        dis.CtlID = IDC_LIST_DEV;
        dis.itemID = itemId;
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = selected ? ODS_SELECTED : 0;
        dis.hwndItem = list.Hwnd();
        dis.hDC = canvas.Dc();
        dis.rcItem = RECT{0, 0, kW, 45};
        win::SelectGuard font(canvas.Dc(), list.GetFont());
        list.DrawItem(dis);
        GdiFlush();
    }
    void DrawRow(PixelCanvas& canvas, int row, bool selected = false) { Draw(canvas, selected, static_cast<UINT>(row)); }

    static bool IsBack(COLORREF c) { return c == kWhite || c == kSelected; }
    // Rows (y) holding text ink anywhere at x >= fromX.
    static std::vector<int> InkRows(const PixelCanvas& c, int fromX = 0) {
        std::vector<int> rows;
        for (int y = 0; y < c.Height(); ++y)
            for (int x = fromX; x < c.Width(); ++x)
                if (!IsBack(c.At(x, y))) {
                    rows.push_back(y);
                    break;
                }
        return rows;
    }
};

TEST_F(DrawFixture, BackgroundIsWhiteOrTheSelectionColourAndTextIsBlue) {
    list.InsertItem(0, 0, L"Certificate");
    for (bool selected : {false, true}) {
        SCOPED_TRACE(selected ? "selected" : "not selected");
        PixelCanvas canvas(kW, 45);
        DrawRow(canvas, 0, selected);
        const COLORREF back = selected ? kSelected : kWhite;
        EXPECT_EQ(back, canvas.At(kW - 1, 44));
        EXPECT_EQ(back, canvas.At(kW - 1, 0));
        EXPECT_EQ(back, canvas.At(0, 44));
        bool ink = false;
        for (int y = 0; y < 45 && !ink; ++y)
            for (int x = 0; x < kW && !ink; ++x) ink = canvas.At(x, y) == kInk;
        EXPECT_TRUE(ink);
    }
}

TEST_F(DrawFixture, IconSitsAtTheTopLeftAndTheTextStarts32PixelsFurtherRight) {
    list.InsertItem(0, 0, L"Key 1");
    list.InsertItem(1, IDI_KEY, L"Key 1");
    PixelCanvas plain(kW, 45), withIcon(kW, 45);
    DrawRow(plain, 0);
    DrawRow(withIcon, 1);

    // The icon: exactly what DrawIcon of icon 131 puts at (0, 0) on white.
    PixelCanvas ref(32, 32, kWhite);
    win::Icon icon(static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KEY), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
    ASSERT_TRUE(icon);
    DrawIcon(ref.Dc(), 0, 0, icon.Get());
    int iconPixels = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            ASSERT_EQ(ref.At(x, y), withIcon.At(x, y)) << x << "," << y;
            if (ref.At(x, y) != kWhite) ++iconPixels;
        }
    EXPECT_GT(iconPixels, 100);

    // The text: the plain row's picture, moved 32 pixels right.
    int ink = 0;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x + 32 < kW; ++x) {
            ASSERT_EQ(plain.At(x, y), withIcon.At(x + 32, y)) << x << "," << y;
            if (plain.At(x, y) != kWhite) ++ink;
        }
    EXPECT_GT(ink, 10);
    // and without icon it starts at the left edge
    bool inkNearLeft = false;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 3; ++x) inkNearLeft = inkNearLeft || plain.At(x, y) != kWhite;
    EXPECT_TRUE(inkNearLeft);
}

TEST_F(DrawFixture, CarriageReturnsStartNewLinesFromTheTopOfTheRow) {
    list.InsertItem(0, 0, L"three\rtwo\rone");
    list.InsertItem(1, 0, L"three two one");
    PixelCanvas lines(kW, 45), single(kW, 45);
    DrawRow(lines, 0);
    DrawRow(single, 1);
    auto bands = [](const std::vector<int>& rows) {
        std::vector<std::pair<int, int>> out;
        for (int y : rows) {
            if (!out.empty() && out.back().second == y - 1)
                out.back().second = y;
            else
                out.push_back({y, y});
        }
        return out;
    };
    auto threeLines = bands(InkRows(lines));
    auto oneLine = bands(InkRows(single));
    ASSERT_EQ(1u, oneLine.size());
    ASSERT_EQ(3u, threeLines.size());
    EXPECT_LT(threeLines[0].first, 6);  // multi-line text is not centred: it starts at the top
    EXPECT_EQ(oneLine[0].first, threeLines[0].first);
    EXPECT_LE(threeLines[2].second, 44);
}

TEST_F(DrawFixture, RowsWithoutItemDrawNothing) {
    list.InsertItem(0, IDI_KEY, L"x");
    const COLORREF magenta = RGB(255, 0, 255);
    for (UINT id : {1u, 7u, static_cast<UINT>(-1)}) {
        PixelCanvas canvas(kW, 45, magenta);
        Draw(canvas, true, id);
        for (int y = 0; y < 45; y += 4)
            for (int x = 0; x < kW; x += 4) ASSERT_EQ(magenta, canvas.At(x, y)) << id;
    }
}

TEST_F(DrawFixture, TheDcKeepsItsColours) {
    list.InsertItem(0, IDI_KEY, L"x");
    PixelCanvas canvas(kW, 45);
    SetTextColor(canvas.Dc(), RGB(1, 2, 3));
    SetBkColor(canvas.Dc(), RGB(4, 5, 6));
    DrawRow(canvas, 0, true);
    EXPECT_EQ(RGB(1, 2, 3), GetTextColor(canvas.Dc()));
    EXPECT_EQ(RGB(4, 5, 6), GetBkColor(canvas.Dc()));
}

// --- the real window on the screen

TEST_F(ListFixture, OnScreenTheSelectedRowIsBlueGreyAndTheAreaBelowTheRowsWhite) {
    // A coloured list background from the dialog: the control must paint over it.
    win::Brush pink(CreateSolidBrush(RGB(255, 200, 200)));
    host.listBrush = pink.Get();
    list.InsertItem(0, IDI_KEY, L"USBKey");
    list.InsertItem(1, IDI_KEY, L"Second");
    list.SetCurSel(0);
    RedrawWindow(host.Hwnd(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();
    RECT rc = list.ClientRect();
    ASSERT_GT(rc.bottom, 120);
    PixelCanvas screen(rc.right, rc.bottom);
    ASSERT_TRUE(screen.CaptureClient(list.Hwnd()));
    EXPECT_EQ(kSelected, screen.At(rc.right - 3, 40));
    EXPECT_EQ(kWhite, screen.At(rc.right - 3, 45 + 40));
    int iconPixels = 0;  // the icon is there, in the row's top-left 32 x 32
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) iconPixels += screen.At(x, y) != kSelected;
    EXPECT_GT(iconPixels, 100);
    for (int y = 0; y < 45; ++y) EXPECT_EQ(kSelected, screen.At(rc.right - 3, y)) << y;  // right of the text
    for (int y = 95; y < rc.bottom; y += 3)
        for (int x = 0; x < rc.right; x += 3) ASSERT_EQ(kWhite, screen.At(x, y)) << x << "," << y;
    host.listBrush = nullptr;
}

// --- clicks

class ClickFixture : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        for (int i = 0; i < 3; ++i) list.InsertItem(i, IDI_KEY, L"row");
        host.certs.InsertItem(0, IDI_CERT_VALID, L"cert");
        host.certs.InsertItem(1, IDI_CERT_VALID, L"cert");
    }
    static void Click(CCustomListBox& box, int row) {
        const LPARAM at = MAKELPARAM(20, row * 45 + 20);
        SendMessageW(box.Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(box.Hwnd(), WM_LBUTTONUP, 0, at);
    }
    // The notification posted to the control, taken off the queue.
    static bool TakeNotice(CCustomListBox& box, int& previous, int& current) {
        MSG msg;
        if (!PeekMessageW(&msg, box.Hwnd(), CCustomListBox::kMsgSelMoved, CCustomListBox::kMsgSelMoved, PM_REMOVE))
            return false;
        previous = static_cast<int>(msg.wParam);
        current = static_cast<int>(msg.lParam);
        return true;
    }
};

TEST_F(ClickFixture, AClickThatMovesTheSelectionPostsPreviousAndNewRow) {
    int previous = 0, current = 0;
    Click(list, 1);
    EXPECT_EQ(1, list.GetCurSel());
    ASSERT_TRUE(TakeNotice(list, previous, current));
    EXPECT_EQ(-1, previous);
    EXPECT_EQ(1, current);
    EXPECT_EQ(1, CCustomListBox::LastSelectedRow());

    Click(list, 1);  // the row already selected
    EXPECT_FALSE(TakeNotice(list, previous, current));

    Click(list, 0);
    ASSERT_TRUE(TakeNotice(list, previous, current));
    EXPECT_EQ(1, previous);
    EXPECT_EQ(0, current);
    EXPECT_FALSE(TakeNotice(list, previous, current));  // one notice per click
}

TEST_F(ClickFixture, SelectionByTheDialogOrTheKeyboardLeavesTheLastRowAlone) {
    int previous = 0, current = 0;
    Click(list, 2);
    ASSERT_TRUE(TakeNotice(list, previous, current));
    list.SetCurSel(0);
    SendMessageW(list.Hwnd(), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(2, CCustomListBox::LastSelectedRow());
    EXPECT_FALSE(TakeNotice(list, previous, current));
}

TEST_F(ClickFixture, TheLastRowIsSharedByBothLists) {
    int previous = 0, current = 0;
    Click(list, 1);
    ASSERT_TRUE(TakeNotice(list, previous, current));
    Click(host.certs, 1);  // same row number in the other list: counts as already selected
    EXPECT_EQ(1, host.certs.GetCurSel());
    EXPECT_FALSE(TakeNotice(host.certs, previous, current));
    Click(host.certs, 0);
    ASSERT_TRUE(TakeNotice(host.certs, previous, current));
    EXPECT_EQ(1, previous);
    EXPECT_EQ(0, current);
}

TEST_F(ClickFixture, TheNoticeRestoresTheRowHeightOfBothRows) {
    list.SetItemHeight(0, 10);
    list.SetItemHeight(2, 12);
    EXPECT_EQ(0, SendMessageW(list.Hwnd(), CCustomListBox::kMsgSelMoved, 0, 2));
    EXPECT_EQ(45, list.GetItemHeight(0));
    EXPECT_EQ(45, list.GetItemHeight(2));
    list.SetItemHeight(1, 10);
    SendMessageW(list.Hwnd(), CCustomListBox::kMsgSelMoved, static_cast<WPARAM>(-1), 1);
    EXPECT_EQ(45, list.GetItemHeight(1));
    // rows that do not exist are ignored
    EXPECT_EQ(0, SendMessageW(list.Hwnd(), CCustomListBox::kMsgSelMoved, 9, 17));
}

} // namespace
