#include "controls/customlistbox.h"

#include "win/handles.h"

namespace {
int g_lastSelectedRow = -1;  // shared by every list of the class, as designed
} // namespace

CCustomListBox::~CCustomListBox() {
    // Unhook before the items go, so no late message sees a half-destroyed object.
    Unsubclass();
}

int CCustomListBox::LastSelectedRow() noexcept {
    return g_lastSelectedRow;
}

void CCustomListBox::SetLastSelectedRow(int row) noexcept {
    g_lastSelectedRow = row;
}

const ListItem* CCustomListBox::Item(int row) const noexcept {
    if (row < 0 || static_cast<size_t>(row) >= items_.size()) return nullptr;
    return items_[static_cast<size_t>(row)].get();
}

int CCustomListBox::InsertItem(int row, WORD icon, const std::wstring& text) {
    if (row < 0 || static_cast<size_t>(row) > items_.size()) return LB_ERR;
    auto item = std::make_unique<ListItem>();
    item->text = text;
    item->icon = icon;
    // The item goes in first: the list box measures and may draw the row while inserting.
    items_.insert(items_.begin() + row, std::move(item));
    int r = InsertString(row, text);
    if (r < 0) items_.erase(items_.begin() + row);
    return r;
}

bool CCustomListBox::SetItemText(int row, const std::wstring& text) {
    if (row < 0 || static_cast<size_t>(row) >= items_.size()) return false;
    items_[static_cast<size_t>(row)]->text = text;
    Invalidate(true);
    return true;
}

void CCustomListBox::MeasureItem(MEASUREITEMSTRUCT& mis) {
    mis.itemHeight = kRowHeight;
}

void CCustomListBox::DrawItem(const DRAWITEMSTRUCT& dis) {
    if (items_.empty() || dis.itemID == static_cast<UINT>(-1) || dis.itemID >= items_.size()) return;
    const ListItem& item = *items_[dis.itemID];
    HDC dc = dis.hDC;
    const COLORREF oldText = GetTextColor(dc);
    const COLORREF oldBack = GetBkColor(dc);

    // Whatever the action asked for, the whole row is drawn; no focus rectangle.
    const COLORREF back = (dis.itemState & ODS_SELECTED) ? kSelectedBack : item.backColor;
    SetTextColor(dc, item.textColor);
    SetBkColor(dc, back);
    {
        win::Brush brush(CreateSolidBrush(back));
        FillRect(dc, &dis.rcItem, brush.Get());
    }

    int iconWidth = 0;
    if (item.icon) {
        win::Icon icon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(item.icon),
                                                     IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
        if (icon) {
            DrawIcon(dc, dis.rcItem.left, dis.rcItem.top, icon.Get());
            ICONINFO info = {};
            if (GetIconInfo(icon.Get(), &info)) {
                win::Bitmap color(info.hbmColor);
                win::Bitmap mask(info.hbmMask);
                BITMAP bm = {};
                if (color && GetObjectW(color.Get(), sizeof bm, &bm)) iconWidth = bm.bmWidth;
                else if (mask && GetObjectW(mask.Get(), sizeof bm, &bm)) iconWidth = bm.bmWidth;
            }
        }
    }

    RECT text = dis.rcItem;
    text.left += iconWidth;
    DrawTextW(dc, item.text.c_str(), -1, &text, DT_WORDBREAK | DT_VCENTER);

    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBack);
}

bool CCustomListBox::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case LB_DELETESTRING:
        if (wp < items_.size()) items_.erase(items_.begin() + static_cast<ptrdiff_t>(wp));
        result = Default(msg, wp, lp);
        return true;
    case LB_RESETCONTENT:
        items_.clear();
        result = Default(msg, wp, lp);
        return true;
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wp);
        RECT rc = ClientRect();
        const int w = rc.right - rc.left, h = rc.bottom - rc.top;
        if (w > 0 && h > 0) {
            // Off-screen first, then one block transfer: no flicker.
            win::MemoryDC mem(CreateCompatibleDC(dc));
            win::Bitmap bmp(CreateCompatibleBitmap(dc, w, h));
            if (mem && bmp) {
                win::SelectGuard sel(mem.Get(), bmp.Get());
                FillRect(mem.Get(), &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
                BitBlt(dc, 0, 0, w, h, mem.Get(), 0, 0, SRCCOPY);
            } else {
                FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            }
        }
        result = TRUE;
        return true;
    }
    case WM_LBUTTONDOWN: {
        result = Default(msg, wp, lp);  // the selection moves first
        const int sel = GetCurSel();
        if (sel != -1 && sel != g_lastSelectedRow) {
            Post(kMsgSelMoved, static_cast<WPARAM>(g_lastSelectedRow), sel);
            g_lastSelectedRow = sel;
        }
        return true;
    }
    case kMsgSelMoved: {
        const int previous = static_cast<int>(wp);
        const int current = static_cast<int>(lp);
        if (previous != -1) SetItemHeight(previous, kRowHeight);
        if (current != -1) SetItemHeight(current, kRowHeight);
        Invalidate(true);
        result = 0;
        return true;
    }
    default:
        return false;
    }
}
