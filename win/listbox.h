// win::ListBox: the list-box messages as member calls, over a window that
// someone else created (a dialog's control). Derive from it and Subclass() to
// handle the control's messages; owner-drawn list boxes get DrawItem and
// MeasureItem through the parent's reflection (win::ReflectToChild).
#pragma once

#include "win/window.h"

#include <string>

namespace win {

class ListBox : public Window {
public:
    ListBox() noexcept = default;
    explicit ListBox(HWND hwnd) noexcept : Window(hwnd) {}

    // Results are the list box's own: row index, LB_ERR (-1) or LB_ERRSPACE.
    int InsertString(int row, const std::wstring& text) const noexcept {
        return static_cast<int>(Send(LB_INSERTSTRING, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.c_str())));
    }
    int AddString(const std::wstring& text) const noexcept {
        return static_cast<int>(Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    // Remaining count, or LB_ERR for a row that does not exist.
    int DeleteString(int row) const noexcept { return static_cast<int>(Send(LB_DELETESTRING, static_cast<WPARAM>(row))); }
    void ResetContent() const noexcept { Send(LB_RESETCONTENT); }
    int GetCount() const noexcept { return static_cast<int>(Send(LB_GETCOUNT)); }
    int GetCurSel() const noexcept { return static_cast<int>(Send(LB_GETCURSEL)); }
    // -1 clears the selection (and returns LB_ERR, as the list box does).
    int SetCurSel(int row) const noexcept { return static_cast<int>(Send(LB_SETCURSEL, static_cast<WPARAM>(row))); }
    int SetItemData(int row, LPARAM data) const noexcept {
        return static_cast<int>(Send(LB_SETITEMDATA, static_cast<WPARAM>(row), data));
    }
    LPARAM GetItemData(int row) const noexcept { return Send(LB_GETITEMDATA, static_cast<WPARAM>(row)); }
    int SetItemHeight(int row, int height) const noexcept {
        return static_cast<int>(Send(LB_SETITEMHEIGHT, static_cast<WPARAM>(row), MAKELPARAM(height, 0)));
    }
    int GetItemHeight(int row) const noexcept { return static_cast<int>(Send(LB_GETITEMHEIGHT, static_cast<WPARAM>(row))); }
    bool GetItemRect(int row, RECT& rc) const noexcept {
        return Send(LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc)) != LB_ERR;
    }
    int GetTopIndex() const noexcept { return static_cast<int>(Send(LB_GETTOPINDEX)); }
    // The list box's own copy of a row's text (empty for a missing row).
    std::wstring GetString(int row) const;

protected:
    // Owner drawing, reached through the parent's reflection.
    virtual void DrawItem(const DRAWITEMSTRUCT& dis);
    virtual void MeasureItem(MEASUREITEMSTRUCT& mis);

    bool OnReflected(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

} // namespace win
