// CCustomListBox: the owner-drawn list of the main dialog (keys, certificates).
// 45-pixel rows, each with an icon from the program's resources at its left and
// one to three lines of text (lines split by a lone CR), blue on white, light
// blue-grey when selected. It keeps its own row items parallel to the list
// box's rows and knows nothing about keys or certificates.
//
// Bind it to a dialog's list box (LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS) with
// Subclass(hwnd); the dialog reflects WM_DRAWITEM/WM_MEASUREITEM to it (the
// win::Dialog default does). Rows may be removed with LB_DELETESTRING and
// LB_RESETCONTENT sent straight to the control: the items follow.
#pragma once

#include "win/listbox.h"

#include <memory>
#include <string>
#include <vector>

struct ListItem {
    std::wstring text;
    COLORREF textColor = RGB(0, 100, 200);
    COLORREF backColor = RGB(255, 255, 255);
    WORD icon = 0;  // icon resource id, 0 for none
};

class CCustomListBox : public win::ListBox {
public:
    static constexpr int kRowHeight = 45;
    static constexpr COLORREF kSelectedBack = RGB(220, 228, 238);
    // Posted to the control when a click moved the selection:
    // wParam = previous row, lParam = new row.
    static constexpr UINT kMsgSelMoved = WM_USER + 0x1001;  // 0x1401

    CCustomListBox() noexcept = default;
    ~CCustomListBox() override;

    // Inserts a row item and the list box's own row at `row` (0..count).
    // Returns the list box's answer (the row, or LB_ERR / LB_ERRSPACE; on an
    // error no item is kept).
    int InsertItem(int row, WORD icon, const std::wstring& text);
    // Replaces the drawn text of an existing row and repaints; false for a
    // row that does not exist.
    bool SetItemText(int row, const std::wstring& text);

    size_t ItemCount() const noexcept { return items_.size(); }
    // The row item (null for a row that does not exist).
    const ListItem* Item(int row) const noexcept;

    // Row last clicked into by the user, shared by every instance.
    static int LastSelectedRow() noexcept;
    static void SetLastSelectedRow(int row) noexcept;

    // Draws one row into dis.hDC (public so a test can render into a DC of its own).
    void DrawItem(const DRAWITEMSTRUCT& dis) override;
    void MeasureItem(MEASUREITEMSTRUCT& mis) override;

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    std::vector<std::unique_ptr<ListItem>> items_;
};
