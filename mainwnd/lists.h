// The main dialog's two lists: the keys present (control 1000) and the
// certificates of the selected key (control 1001), each certificate with its
// state (valid, expiring within 30 days, invalid) and validity period; the
// expiry notice of an arriving key; the banner painting.
//
// KeyCertLists is the part of the main dialog that fills both lists and
// follows the selection. The dialog owns the two CCustomListBox objects
// (subclassed onto its controls) and the tray, and hands them in with Attach.
// Rows mirror the device list (token/devlist.h) through the calls below, all
// on the dialog's thread.
#pragma once

#include <windows.h>

#include <string>

#include "controls/customlistbox.h"
#include "token/devlist.h"

class TrayNotices;

// First line of the row added when a key arrives; rows made again later have
// an empty first line. The same in every language.
extern const wchar_t kArrivedKeyFirstLine[];  // "USBKey"

enum class CertStateKind { Valid, Expiring, Invalid };

// Days from 1970-01-01 counted as the sum of whole years and months before the
// date plus its day of the month (so 1970-01-01 is 1). Years before 1970 add
// nothing; the day of the week is ignored.
ULONG DaysSince1970(const SYSTEMTIME& date);

// Invalid when notBefore lies after today or notAfter before it; expiring when
// notAfter is 0 to 30 days away (*days set); else valid.
CertStateKind ClassifyCert(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter, const SYSTEMTIME& today,
                           int* days);
// The state's text in the chosen language; today from GetLocalTime.
std::wstring GetCertState(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter);
std::wstring GetCertState(const SYSTEMTIME& notBefore, const SYSTEMTIME& notAfter, const SYSTEMTIME& today);

// Row texts from the text table's templates (lines split by a lone CR).
std::wstring KeyRowText(const wchar_t* firstLine, const DevRecord& record);
std::wstring CertRowText(const std::wstring& state, const CertRecord& cert);

class KeyCertLists {
public:
    KeyCertLists() = default;
    KeyCertLists(const KeyCertLists&) = delete;
    KeyCertLists& operator=(const KeyCertLists&) = delete;

    // The dialog's window (buttons 1005/1006 are found by id), its two lists
    // and the tray for the expiry notice (may be null: no notice).
    void Attach(HWND dialog, CCustomListBox* keyList, CCustomListBox* certList, TrayNotices* tray);

    // Every operation taking a row does nothing for a row outside the device list.
    void AddKeyRow(int row);       // a key was appended at `row`
    void RefreshKeyRow(int row);   // the key's record changed
    void RebuildKeyRows(int row);  // the key that was at `row` was removed; -1: nothing
    void FillCertList(int row);
    void OnKeySelChange();         // LBN_SELCHANGE of the key list
    void CheckCertExpiry(int row); // first expiring certificate in row order -> notice

    // The key row whose certificates are listed, as last read from the key list.
    int selectedKeyRow = -1;

private:
    HWND dialog_ = nullptr;
    CCustomListBox* keys_ = nullptr;
    CCustomListBox* certs_ = nullptr;
    TrayNotices* tray_ = nullptr;
};

// WM_PAINT helpers of the main dialog.
// Minimised: erase the icon background and draw `icon` centred in the client area.
void PaintMinimisedIcon(HWND dialog, HDC dc, HICON icon);
// After the dialog's own painting: bitmap 135 of the executable copied to the
// top-left corner of control 1010 at its own size.
void PaintBanner(HWND dialog);
