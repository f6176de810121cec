#include "mainwnd/lists.h"

#include "mainwnd/tray.h"
#include "res/resource.h"
#include "text/langtext.h"
#include "win/format.h"
#include "win/handles.h"

const wchar_t kArrivedKeyFirstLine[] = L"USBKey";

namespace {

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The record at `row`, or null when the row is outside the list. The lock is
// held only for the lookup; records are freed on this thread only.
DevRecord* FetchRecord(int row) {
    if (row < 0) return nullptr;
    DevListGuard guard;
    if (static_cast<ULONG>(row) >= ListGetDevCount()) return nullptr;
    DevRecord* rec = nullptr;
    if (ListGetDevByIndex(static_cast<ULONG>(row), &rec) != 0) return nullptr;
    return rec;
}

void EnableItem(HWND dlg, int id, bool on) { EnableWindow(GetDlgItem(dlg, id), on ? TRUE : FALSE); }

} // namespace

ULONG DaysSince1970(const SYSTEMTIME& date) {
    static const ULONG kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    ULONG days = 0;
    for (unsigned y = 1970; y < date.wYear; ++y) days += IsLeapYear(y) ? 366 : 365;
    for (unsigned m = 1; m < date.wMonth && m <= 12; ++m) {
        days += kMonthDays[m - 1];
        if (m == 2 && IsLeapYear(date.wYear)) ++days;
    }
    return days + date.wDay;
}

CertStateKind ClassifyCert(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter, const SYSTEMTIME& today,
                           int* days) {
    ULONG now = DaysSince1970(today);
    ULONG from = DaysSince1970(notBefore);
    ULONG to = DaysSince1970(notAfter);
    if (from > now || to < now) return CertStateKind::Invalid;
    ULONG d = to - now;
    if (d <= 30) {
        if (days) *days = static_cast<int>(d);
        return CertStateKind::Expiring;
    }
    return CertStateKind::Valid;
}

std::wstring GetCertState(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter, const SYSTEMTIME& today) {
    int days = 0;
    switch (ClassifyCert(notBefore, notAfter, today, &days)) {
    case CertStateKind::Invalid:
        return GetLangText(L"MainDlg_CertState_invalid");
    case CertStateKind::Expiring:
        return win::FormatW(GetLangText(L"MainDlg_CertState_WillExpire").c_str(), days);
    case CertStateKind::Valid:
        break;
    }
    return GetLangText(L"MainDlg_CertState_valid");
}

std::wstring GetCertState(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter) {
    SYSTEMTIME today;
    GetLocalTime(&today);
    return GetCertState(notBefore, notAfter, today);
}

std::wstring KeyRowText(const wchar_t* firstLine, const DevRecord& record) {
    return win::FormatW(GetLangText(L"MainDlg_ListDev").c_str(), firstLine ? firstLine : L"",
                        static_cast<unsigned>(record.pinMaxRetry), static_cast<unsigned>(record.pinRemainRetry));
}

std::wstring CertRowText(const std::wstring& state, const CertRecord& cert) {
    const SYSTEMTIME& b = cert.notBefore;
    const SYSTEMTIME& a = cert.notAfter;
    return win::FormatW(GetLangText(L"MainDlg_ListCert").c_str(), state.c_str(), cert.subjectName,
                        static_cast<int>(b.wYear), static_cast<int>(b.wMonth), static_cast<int>(b.wDay),
                        static_cast<int>(a.wYear), static_cast<int>(a.wMonth), static_cast<int>(a.wDay));
}

void KeyCertLists::Attach(HWND dialog, CCustomListBox* keyList, CCustomListBox* certList, TrayNotices* tray) {
    dialog_ = dialog;
    keys_ = keyList;
    certs_ = certList;
    tray_ = tray;
}

void KeyCertLists::AddKeyRow(int row) {
    DevRecord* rec = FetchRecord(row);
    if (!rec) return;
    selectedKeyRow = keys_->GetCurSel();
    keys_->InsertItem(row, IDI_KEY, KeyRowText(kArrivedKeyFirstLine, *rec));
    if (selectedKeyRow == -1) {
        keys_->SetCurSel(0);
        OnKeySelChange();
    }
}

void KeyCertLists::RefreshKeyRow(int row) {
    DevRecord* rec = FetchRecord(row);
    if (!rec) return;
    selectedKeyRow = keys_->GetCurSel();
    std::wstring text = KeyRowText(L"", *rec);
    keys_->DeleteString(row);
    keys_->InsertItem(row, IDI_KEY, text);
    if (row == selectedKeyRow) {
        keys_->SetCurSel(row);
        FillCertList(row);
    }
}

void KeyCertLists::RebuildKeyRows(int row) {
    if (row < 0) return;
    int s = keys_->GetCurSel();
    selectedKeyRow = s;
    if (s == row) {
        certs_->ResetContent();
        s = -1;
    }
    keys_->DeleteString(row);
    if (s == -1) s = 0;
    certs_->ResetContent();
    keys_->ResetContent();
    for (int i = 0;; ++i) {
        DevRecord* rec = FetchRecord(i);
        if (!rec) break;
        keys_->InsertItem(i, IDI_KEY, KeyRowText(L"", *rec));
    }
    // The same row number: past the end nothing is selected and no certificate is listed.
    keys_->SetCurSel(s);
    FillCertList(s);
}

void KeyCertLists::FillCertList(int row) {
    DevRecord* rec = FetchRecord(row);
    if (!rec) return;
    certs_->ResetContent();
    SYSTEMTIME today;
    GetLocalTime(&today);
    int n = 0;
    for (const auto& container : rec->containers) {
        for (const auto& cert : container->certs) {
            int days = 0;
            CertStateKind kind = ClassifyCert(cert->notBefore, cert->notAfter, today, &days);
            std::wstring state = GetCertState(cert->notBefore, cert->notAfter, today);
            int at = certs_->InsertItem(n, kind == CertStateKind::Invalid ? IDI_CERT_INVALID : IDI_CERT_VALID,
                                        CertRowText(state, *cert));
            if (at < 0) continue;
            certs_->SetItemData(at, reinterpret_cast<LPARAM>(cert.get()));
            ++n;
        }
    }
    bool any = n > 0;
    if (any) certs_->SetCurSel(0);
    EnableItem(dialog_, IDC_BTN_SHOWCERT, any);
    EnableItem(dialog_, IDC_BTN_REGCERT, any);
}

void KeyCertLists::OnKeySelChange() {
    int s = keys_->GetCurSel();
    if (s < 0) {
        selectedKeyRow = s;
        return;
    }
    if (s != selectedKeyRow) {
        selectedKeyRow = s;
        FillCertList(s);
    }
}

void KeyCertLists::CheckCertExpiry(int row) {
    DevRecord* rec = FetchRecord(row);
    if (!rec || !tray_) return;
    SYSTEMTIME today;
    GetLocalTime(&today);
    for (const auto& container : rec->containers) {
        for (const auto& cert : container->certs) {
            if (ClassifyCert(cert->notBefore, cert->notAfter, today, nullptr) != CertStateKind::Expiring) continue;
            const SYSTEMTIME& a = cert->notAfter;
            std::wstring text = win::FormatW(GetLangText(L"app_Tray_TipCertDate").c_str(), static_cast<int>(a.wYear),
                                             static_cast<int>(a.wMonth), static_cast<int>(a.wDay));
            tray_->ShowBalloon(GetLangText(L"app_Tray_TxtInfoTitle").c_str(), text.c_str(), kNoticeCertExpiryMs);
            return;
        }
    }
}

void PaintMinimisedIcon(HWND dialog, HDC dc, HICON icon) {
    SendMessageW(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cx = GetSystemMetrics(SM_CXICON);
    int cy = GetSystemMetrics(SM_CYICON);
    RECT rc;
    GetClientRect(dialog, &rc);
    int x = (rc.right - rc.left - cx + 1) / 2;
    int y = (rc.bottom - rc.top - cy + 1) / 2;
    DrawIcon(dc, x, y, icon);
}

void PaintBanner(HWND dialog) {
    HWND ctl = GetDlgItem(dialog, IDC_STATIC_BANNER);
    if (!ctl) return;
    UpdateWindow(ctl);
    win::WindowDC dc(ctl);
    if (!dc) return;
    win::Bitmap bmp(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BANNER)));
    if (!bmp) return;
    BITMAP info = {};
    GetObjectW(bmp.Get(), sizeof info, &info);
    win::MemoryDC mem(CreateCompatibleDC(dc.Get()));
    if (!mem) return;
    win::SelectGuard select(mem.Get(), bmp.Get());
    BitBlt(dc.Get(), 0, 0, info.bmWidth, info.bmHeight, mem.Get(), 0, 0, SRCCOPY);
}
