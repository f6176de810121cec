// Shows the main dialog's template with the custom controls filled with key
// and certificate rows from the text table, for screenshots:
//   listshot.exe LCID [SECONDS]     (1033 English, 2052 simplified Chinese)
// The texts and fonts are set as the main dialog sets them.
#include "tests/controls/host.h"
#include "text/langtext.h"
#include "win/format.h"

#include <cstdlib>
#include <string>

namespace {

std::wstring CertRow(const std::wstring& state, const wchar_t* subject, int y1, int m1, int d1, int y2, int m2, int d2) {
    return win::FormatW(GetLangText(L"MainDlg_ListCert").c_str(), state.c_str(), subject, y1, m1, d1, y2, m2, d2);
}

} // namespace

int main(int argc, char** argv) {
    const LCID lcid = argc > 1 ? static_cast<LCID>(std::atoi(argv[1])) : 1033;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    qtext::SetLcidForTest(lcid);
    const bool chinese = GetTextLanguage() != kLangEnglish;

    ControlHost host;
    host.paintBanner = true;
    if (!host.Create()) return 1;
    SetWindowPos(host.Hwnd(), nullptr, 40, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    win::Font font(CreateFontW(15, 0, 0, 0, FW_EXTRALIGHT, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SCRIPT,
                               chinese ? L"\u9ED1\u4F53" : L"Times New Roman"));
    host.devCaption.SetFont(font.Get());
    host.certCaption.SetFont(font.Get());
    host.SetText(GetLangText(L"MainDlg_Title"));
    host.SetItemText(IDC_STATIC_DEVLIST, GetLangText(L"MainDlg_Static_DevList"));
    host.SetItemText(IDC_STATIC_CERTLIST, GetLangText(L"MainDlg_Static_CertList"));
    host.SetItemText(IDC_BTN_CHGDEVNAME, GetLangText(L"MainDlg_BTN_ChgDevName"));
    host.SetItemText(IDC_BTN_VERIFYPIN, GetLangText(L"MainDlg_BTN_VerifyPIN"));
    host.SetItemText(IDC_BTN_CHGPIN, GetLangText(L"MainDlg_BTN_ChgPIN"));
    host.SetItemText(IDC_BTN_SHOWCERT, GetLangText(L"MainDlg_BTN_ShowCert"));
    host.SetItemText(IDC_BTN_REGCERT, GetLangText(L"MainDlg_BTN_RegCert"));
    host.SetItemText(IDC_BTN_SETTING, GetLangText(L"MainDlg_BTN_Setting"));

    const std::wstring devRow = GetLangText(L"MainDlg_ListDev");
    host.keys.InsertItem(0, IDI_KEY, win::FormatW(devRow.c_str(), L"USBKey", 10u, 10u));
    host.keys.InsertItem(1, IDI_KEY, win::FormatW(devRow.c_str(), L"", 6u, 2u));

    const wchar_t* subject = chinese ? L"\u5F20\u4E09" : L"Zhang San";
    host.certs.InsertItem(0, IDI_CERT_VALID,
                          CertRow(GetLangText(L"MainDlg_CertState_valid"), subject, 2024, 3, 5, 2029, 3, 5));
    host.certs.InsertItem(1, IDI_CERT_VALID,
                          CertRow(win::FormatW(GetLangText(L"MainDlg_CertState_WillExpire").c_str(), 12), subject,
                                  2021, 1, 10, 2027, 1, 22));
    host.certs.InsertItem(2, IDI_CERT_INVALID,
                          CertRow(GetLangText(L"MainDlg_CertState_invalid"), subject, 2016, 3, 5, 2019, 3, 5));
    host.keys.SetCurSel(0);
    host.certs.SetCurSel(0);
    SetFocus(host.keys.Hwnd());

    SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000u, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
        if (!win::Dialog::PumpDialogMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}
