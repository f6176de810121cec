#include "win/listbox.h"

#include <vector>

namespace win {

std::wstring ListBox::GetString(int row) const {
    LRESULT n = Send(LB_GETTEXTLEN, static_cast<WPARAM>(row));
    if (n == LB_ERR || n <= 0) return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1, L'\0');
    LRESULT got = Send(LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buf.data()));
    if (got == LB_ERR || got < 0) return std::wstring();
    return std::wstring(buf.data(), static_cast<size_t>(got));
}

void ListBox::DrawItem(const DRAWITEMSTRUCT&) {}

void ListBox::MeasureItem(MEASUREITEMSTRUCT&) {}

bool ListBox::OnReflected(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
    if (msg == WM_DRAWITEM) {
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        result = TRUE;
        return true;
    }
    if (msg == WM_MEASUREITEM) {
        MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lp));
        result = TRUE;
        return true;
    }
    return false;
}

} // namespace win
