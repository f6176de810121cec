// Key and certificate lists: certificate states and day counts, row texts in
// the three languages, selection following, the expiry notice.
#include "mainwnd/lists.h"
#include "mainwnd/tray.h"
#include "res/resource.h"
#include "tests/mainwnd/uitest.h"
#include "text/langtext.h"
#include "token/devlist.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

using uitest::AddDays;
using uitest::Date;

// ---- day counts ------------------------------------------------------------------

TEST(DaysSince1970, CountsLeapYearsAndFebruary) {
    EXPECT_EQ(1u, DaysSince1970(Date(1970, 1, 1)));
    EXPECT_EQ(366u, DaysSince1970(Date(1971, 1, 1)));
    EXPECT_EQ(29u, DaysSince1970(Date(2020, 3, 10)) - DaysSince1970(Date(2020, 2, 10)));
    EXPECT_EQ(28u, DaysSince1970(Date(2019, 3, 10)) - DaysSince1970(Date(2019, 2, 10)));
    EXPECT_EQ(2u, DaysSince1970(Date(2000, 3, 1)) - DaysSince1970(Date(2000, 2, 28)));  // 400: leap
    EXPECT_EQ(1u, DaysSince1970(Date(2100, 3, 1)) - DaysSince1970(Date(2100, 2, 28)));  // 100: not
    EXPECT_EQ(366u, DaysSince1970(Date(2021, 1, 1)) - DaysSince1970(Date(2020, 1, 1)));
    // The whole calendar agrees with the system's own day arithmetic.
    SYSTEMTIME d = Date(1999, 12, 25);
    ULONG first = DaysSince1970(d);
    for (int i = 1; i <= 3000; i += 7) {
        SYSTEMTIME later = AddDays(d, i);
        ASSERT_EQ(first + static_cast<ULONG>(i), DaysSince1970(later)) << later.wYear << "-" << later.wMonth;
    }
    // Years before 1970 add nothing; the day of the week is ignored.
    EXPECT_EQ(31u + 5u, DaysSince1970(Date(1960, 2, 5)));
    SYSTEMTIME withWeekday = Date(2020, 2, 10);
    withWeekday.wDayOfWeek = 6;
    EXPECT_EQ(DaysSince1970(Date(2020, 2, 10)), DaysSince1970(withWeekday));
    // A broken month counts the whole year and no more.
    EXPECT_EQ(DaysSince1970(Date(2020, 12, 31)) + 1, DaysSince1970(Date(2020, 13, 1)));
}

// ---- certificate states in three languages ----------------------------------------------

struct StateCase {
    const char* name;
    int fromDays;  // notBefore relative to today
    int toDays;    // notAfter relative to today
    CertStateKind kind;
    int days;
    // Expected state text per language: English, simplified, traditional.
    const wchar_t* text[3];
};

const StateCase kStates[] = {
    {"EndsToday", -100, 0, CertStateKind::Expiring, 0,
     {L"Certificate status: expire in 0 day(s)", L"证书状态:0天后过期，请及时更新", L"證書狀態:0天后過期，請及時更新"}},
    {"EndsTomorrow", -100, 1, CertStateKind::Expiring, 1,
     {L"Certificate status: expire in 1 day(s)", L"证书状态:1天后过期，请及时更新", L"證書狀態:1天后過期，請及時更新"}},
    {"EndsIn30Days", -100, 30, CertStateKind::Expiring, 30,
     {L"Certificate status: expire in 30 day(s)", L"证书状态:30天后过期，请及时更新",
      L"證書狀態:30天后過期，請及時更新"}},
    {"EndsIn31Days", -100, 31, CertStateKind::Valid, 0,
     {L"Certificate status: valid", L"证书状态:有效", L"證書狀態:有效"}},
    {"EndedYesterday", -100, -1, CertStateKind::Invalid, 0,
     {L"Certificate status: invalid", L"证书状态:无效", L"證書狀態:無效"}},
    {"StartsTomorrow", 1, 400, CertStateKind::Invalid, 0,
     {L"Certificate status: invalid", L"证书状态:无效", L"證書狀態:無效"}},
    {"StartedToday", 0, 400, CertStateKind::Valid, 0,
     {L"Certificate status: valid", L"证书状态:有效", L"證書狀態:有效"}},
};

struct LangCase {
    LCID lcid;
    int column;
};

class CertStateTest : public ::testing::TestWithParam<std::tuple<StateCase, LangCase>> {};

TEST_P(CertStateTest, StateIconAndRowText) {
    const StateCase& c = std::get<0>(GetParam());
    const LangCase& lang = std::get<1>(GetParam());
    qtext::SetLcidForTest(lang.lcid);

    // A fixed "today" across a month end and a leap day.
    SYSTEMTIME today = Date(2024, 2, 20);
    SYSTEMTIME from = AddDays(today, c.fromDays);
    SYSTEMTIME to = AddDays(today, c.toDays);
    int days = -1;
    EXPECT_EQ(c.kind, ClassifyCert(from, to, today, &days));
    if (c.kind == CertStateKind::Expiring) {
        EXPECT_EQ(c.days, days);
    }
    EXPECT_EQ(std::wstring(c.text[lang.column]), GetCertState(from, to, today));

    // The same state against the real clock, and the row the certificate list shows.
    SYSTEMTIME now = uitest::Today();
    CertRecord cert;
    wcscpy(cert.subjectName, L"Alice Example");
    cert.notBefore = AddDays(now, c.fromDays);
    cert.notAfter = AddDays(now, c.toDays);
    EXPECT_EQ(std::wstring(c.text[lang.column]), GetCertState(cert.notBefore, cert.notAfter));

    InitDevListLock();
    {
        auto rec = std::make_unique<DevRecord>();
        auto cont = std::make_unique<ContainerRecord>();
        auto owned = std::make_unique<CertRecord>();
        *owned = CertRecord{};
        wcscpy(owned->subjectName, cert.subjectName);
        owned->notBefore = cert.notBefore;
        owned->notAfter = cert.notAfter;
        cont->certs.push_back(std::move(owned));
        rec->containers.push_back(std::move(cont));
        DevListGuard guard;
        DevListStorage().push_back(std::move(rec));
    }
    uitest::MainDialogStandIn dialog;
    KeyCertLists lists;
    lists.Attach(dialog.Hwnd(), &dialog.keys, &dialog.certs, nullptr);
    lists.FillCertList(0);
    ASSERT_EQ(1u, dialog.certs.ItemCount());
    const ListItem* item = dialog.certs.Item(0);
    EXPECT_EQ(c.kind == CertStateKind::Invalid ? IDI_CERT_INVALID : IDI_CERT_VALID, item->icon);
    const SYSTEMTIME& b = cert.notBefore;
    const SYSTEMTIME& a = cert.notAfter;
    static const wchar_t* const kRow[3] = {L"%s\rSubject:%s\rValid Period:%4d-%2d-%2d~%4d-%2d-%2d",
                                           L"%s\r持有者:%s\r有效期:%4d-%2d-%2d到%4d-%2d-%2d",
                                           L"%s\r持有者:%s\r有效期:%4d-%2d-%2d到%4d-%2d-%2d"};
    wchar_t expected[512];
    _snwprintf(expected, 512, kRow[lang.column], c.text[lang.column], L"Alice Example", b.wYear, b.wMonth, b.wDay,
               a.wYear, a.wMonth, a.wDay);
    EXPECT_EQ(std::wstring(expected), item->text);
    {
        DevListGuard guard;
        EXPECT_EQ(reinterpret_cast<LPARAM>(DevListStorage()[0]->containers[0]->certs[0].get()),
                  dialog.certs.GetItemData(0));
        DevListStorage().clear();
    }
    DeleteDevListLock();
}

INSTANTIATE_TEST_SUITE_P(
    Table, CertStateTest,
    ::testing::Combine(::testing::ValuesIn(kStates),
                       ::testing::Values(LangCase{1033, 0}, LangCase{2052, 1}, LangCase{1028, 2})),
    [](const ::testing::TestParamInfo<std::tuple<StateCase, LangCase>>& i) {
        return std::string(std::get<0>(i.param).name) + "_Lcid" + std::to_string(std::get<1>(i.param).lcid);
    });

TEST(CertRowText, PadsTheDatesAsTheTemplateSays) {
    qtext::SetLcidForTest(1033);
    CertRecord cert;
    wcscpy(cert.subjectName, L"CN Test");
    cert.notBefore = Date(2020, 1, 2);
    cert.notAfter = Date(2027, 11, 30);
    EXPECT_EQ(L"Certificate status: valid\rSubject:CN Test\rValid Period:2020- 1- 2~2027-11-30",
              CertRowText(L"Certificate status: valid", cert));
}

class KeyRowTextTest : public ::testing::TestWithParam<LangCase> {};

TEST_P(KeyRowTextTest, ThreeLinesWithTheRetryCounts) {
    qtext::SetLcidForTest(GetParam().lcid);
    DevRecord rec;
    rec.pinMaxRetry = 10;
    rec.pinRemainRetry = 3;
    static const wchar_t* const kExpected[3] = {
        L"USBKey\r  Max PIN Retry Count 10\r  Remain PIN Retry Count 3",
        L"USBKey\r  PIN码最大重试次数10次\r  PIN码剩余重试次数3次",
        L"USBKey\r  PIN碼最大重試次數10次\r  PIN碼剩餘重試次數3次",
    };
    EXPECT_EQ(std::wstring(kExpected[GetParam().column]), KeyRowText(kArrivedKeyFirstLine, rec));
    std::wstring empty = KeyRowText(L"", rec);
    EXPECT_EQ(std::wstring(kExpected[GetParam().column]).substr(6), empty);
}

INSTANTIATE_TEST_SUITE_P(Languages, KeyRowTextTest,
                         ::testing::Values(LangCase{1033, 0}, LangCase{2052, 1}, LangCase{1028, 2}),
                         [](const ::testing::TestParamInfo<LangCase>& i) { return "Lcid" + std::to_string(i.param.lcid); });

// ---- selection following -------------------------------------------------------------

// Keys in the device list, each with its certificates (subject names), all valid.
class ListsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qtext::SetLcidForTest(1033);
        InitDevListLock();
        lists.Attach(dialog.Hwnd(), &dialog.keys, &dialog.certs, &tray);
        tray.Init(dialog.Hwnd(), LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)));
    }
    void TearDown() override {
        {
            DevListGuard guard;
            DevListStorage().clear();
        }
        DeleteDevListLock();
    }
    // Appends a key; certificates are (subject, days until notAfter).
    DevRecord* AddKey(const std::vector<std::vector<std::pair<std::wstring, int>>>& containers, ULONG remain = 6) {
        auto rec = std::make_unique<DevRecord>();
        rec->pinRemainRetry = remain;
        SYSTEMTIME now = uitest::Today();
        for (const auto& certs : containers) {
            auto cont = std::make_unique<ContainerRecord>();
            for (const auto& c : certs) {
                auto cert = std::make_unique<CertRecord>();
                wcsncpy(cert->subjectName, c.first.c_str(), 255);
                cert->notBefore = AddDays(now, -365);
                cert->notAfter = AddDays(now, c.second);
                cont->certs.push_back(std::move(cert));
            }
            rec->containers.push_back(std::move(cont));
        }
        DevListGuard guard;
        DevListStorage().push_back(std::move(rec));
        return DevListStorage().back().get();
    }
    void RemoveKey(size_t index) {
        DevListGuard guard;
        DevListStorage().erase(DevListStorage().begin() + static_cast<long>(index));
    }
    std::wstring Subject(int row) const {
        const ListItem* item = dialog.certs.Item(row);
        if (!item) return L"";
        size_t a = item->text.find(L"Subject:");
        size_t b = item->text.find(L'\r', a);
        return item->text.substr(a + 8, b - a - 8);
    }
    std::wstring FirstLine(int row) const {
        const ListItem* item = dialog.keys.Item(row);
        return item ? item->text.substr(0, item->text.find(L'\r')) : L"?";
    }

    uitest::TrayRecorder recorder{false};
    uitest::MainDialogStandIn dialog;
    TrayNotices tray;
    KeyCertLists lists;
};

TEST_F(ListsFixture, FirstKeyIsSelectedSecondIsAppendedWithoutChangingTheSelection) {
    AddKey({{{L"A sign", 400}, {L"A exch", 400}}, {{L"A2 sign", 400}}});
    lists.AddKeyRow(0);
    ASSERT_EQ(1, dialog.keys.GetCount());
    EXPECT_EQ(0, dialog.keys.GetCurSel());
    EXPECT_EQ(0, lists.selectedKeyRow);
    EXPECT_EQ(L"USBKey", FirstLine(0));
    EXPECT_EQ(IDI_KEY, dialog.keys.Item(0)->icon);
    // Containers in order, signature before exchange; the first certificate selected.
    ASSERT_EQ(3, dialog.certs.GetCount());
    EXPECT_EQ(L"A sign", Subject(0));
    EXPECT_EQ(L"A exch", Subject(1));
    EXPECT_EQ(L"A2 sign", Subject(2));
    EXPECT_EQ(0, dialog.certs.GetCurSel());
    EXPECT_TRUE(dialog.Enabled(IDC_BTN_SHOWCERT));
    EXPECT_TRUE(dialog.Enabled(IDC_BTN_REGCERT));

    AddKey({{{L"B sign", 400}}});
    lists.AddKeyRow(1);
    ASSERT_EQ(2, dialog.keys.GetCount());
    EXPECT_EQ(0, dialog.keys.GetCurSel());
    EXPECT_EQ(L"USBKey", FirstLine(1));
    ASSERT_EQ(3, dialog.certs.GetCount());
    EXPECT_EQ(L"A sign", Subject(0));
}

TEST_F(ListsFixture, RemovingTheSelectedKeyOfTwoSelectsTheOther) {
    AddKey({{{L"A sign", 400}}});
    lists.AddKeyRow(0);
    AddKey({{{L"B sign", 400}, {L"B exch", 400}}});
    lists.AddKeyRow(1);
    ASSERT_EQ(0, dialog.keys.GetCurSel());

    RemoveKey(0);
    lists.RebuildKeyRows(0);
    ASSERT_EQ(1, dialog.keys.GetCount());
    EXPECT_EQ(1u, dialog.keys.ItemCount());
    EXPECT_EQ(0, dialog.keys.GetCurSel());
    EXPECT_EQ(L"", FirstLine(0));  // made again: empty first line
    ASSERT_EQ(2, dialog.certs.GetCount());
    EXPECT_EQ(L"B sign", Subject(0));
    EXPECT_EQ(L"B exch", Subject(1));
}

TEST_F(ListsFixture, RemovingAKeyBeforeTheSelectedOneKeepsTheRowNumber) {
    AddKey({{{L"A", 400}}});
    lists.AddKeyRow(0);
    AddKey({{{L"B", 400}}});
    lists.AddKeyRow(1);
    AddKey({{{L"C", 400}}});
    lists.AddKeyRow(2);
    dialog.keys.SetCurSel(1);
    lists.OnKeySelChange();
    ASSERT_EQ(L"B", Subject(0));

    RemoveKey(0);
    lists.RebuildKeyRows(0);
    EXPECT_EQ(1, dialog.keys.GetCurSel());
    EXPECT_EQ(L"C", Subject(0));

    // Selected row past the end afterwards: nothing selected, no certificates.
    RemoveKey(0);
    lists.RebuildKeyRows(0);
    EXPECT_EQ(1, dialog.keys.GetCount());
    EXPECT_EQ(-1, dialog.keys.GetCurSel());
    EXPECT_EQ(0, dialog.certs.GetCount());
}

TEST_F(ListsFixture, SelectingTheSelectedKeyAgainDoesNotRefill) {
    AddKey({{{L"A1", 400}, {L"A2", 400}}});
    lists.AddKeyRow(0);
    AddKey({{{L"B1", 400}}});
    lists.AddKeyRow(1);
    dialog.certs.DeleteString(1);  // mark the list: a refill would bring the row back
    lists.OnKeySelChange();
    EXPECT_EQ(1, dialog.certs.GetCount());
    dialog.keys.SetCurSel(1);
    lists.OnKeySelChange();
    EXPECT_EQ(1, lists.selectedKeyRow);
    ASSERT_EQ(1, dialog.certs.GetCount());
    EXPECT_EQ(L"B1", Subject(0));
    dialog.keys.SetCurSel(-1);
    lists.OnKeySelChange();
    EXPECT_EQ(-1, lists.selectedKeyRow);
    EXPECT_EQ(L"B1", Subject(0));
}

TEST_F(ListsFixture, AKeyWithoutCertificatesDisablesTheCertificateButtons) {
    AddKey({{{L"A", 400}}});
    lists.AddKeyRow(0);
    ASSERT_TRUE(dialog.Enabled(IDC_BTN_SHOWCERT));
    AddKey({});
    lists.AddKeyRow(1);
    dialog.keys.SetCurSel(1);
    lists.OnKeySelChange();
    EXPECT_EQ(0, dialog.certs.GetCount());
    EXPECT_FALSE(dialog.Enabled(IDC_BTN_SHOWCERT));
    EXPECT_FALSE(dialog.Enabled(IDC_BTN_REGCERT));
}

TEST_F(ListsFixture, RefreshRedoesTheRowAndRefillsWhenSelected) {
    DevRecord* a = AddKey({{{L"A", 400}}});
    lists.AddKeyRow(0);
    DevRecord* b = AddKey({{{L"B", 400}}});
    lists.AddKeyRow(1);
    a->pinRemainRetry = 2;
    a->containers[0]->certs[0]->subjectName[0] = L'Z';
    lists.RefreshKeyRow(0);
    EXPECT_EQ(L"\r  Max PIN Retry Count 6\r  Remain PIN Retry Count 2", dialog.keys.Item(0)->text);
    EXPECT_EQ(2u, dialog.keys.ItemCount());
    EXPECT_EQ(0, dialog.keys.GetCurSel());
    EXPECT_EQ(L"Z", Subject(0));

    b->pinRemainRetry = 1;
    lists.RefreshKeyRow(1);
    EXPECT_EQ(L"\r  Max PIN Retry Count 6\r  Remain PIN Retry Count 1", dialog.keys.Item(1)->text);
    EXPECT_EQ(0, dialog.keys.GetCurSel());
    EXPECT_EQ(L"Z", Subject(0));
}

TEST_F(ListsFixture, RowsOutsideTheDeviceListChangeNothing) {
    AddKey({{{L"A", 400}}});
    lists.AddKeyRow(0);
    lists.AddKeyRow(1);
    lists.AddKeyRow(-3);
    lists.RefreshKeyRow(4);
    lists.FillCertList(1);
    lists.CheckCertExpiry(2);
    lists.RebuildKeyRows(-1);
    EXPECT_EQ(1, dialog.keys.GetCount());
    EXPECT_EQ(1, dialog.certs.GetCount());
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(ListsFixture, ExpiryNoticeForTheFirstExpiringCertificateOnly) {
    AddKey({{{L"valid", 400}, {L"invalid", -3}}, {{L"soon", 12}, {L"sooner", 2}}});
    lists.CheckCertExpiry(0);
    std::vector<uitest::TrayCall> shown;
    for (const auto& c : recorder.calls)
        if (!c.info.empty()) shown.push_back(c);
    ASSERT_EQ(1u, shown.size());
    SYSTEMTIME end = AddDays(uitest::Today(), 12);
    wchar_t expected[256];
    _snwprintf(expected, 256, L"Your certificate will expire till %04d-%02d-%02d, please update it soon!", end.wYear,
               end.wMonth, end.wDay);
    EXPECT_EQ(std::wstring(expected), shown[0].info);
    EXPECT_EQ(L"USB Key Tip", shown[0].infoTitle);
    EXPECT_EQ(30000u, shown[0].timeout);
}

TEST_F(ListsFixture, NoExpiryNoticeWhenAllCertificatesAreValidOrInvalid) {
    AddKey({{{L"valid", 400}, {L"old", -1}}, {{L"future", 31}}});
    lists.CheckCertExpiry(0);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(PaintBanner, CopiesBitmap135ToTheBannersTopLeftCorner) {
    uitest::MainDialogStandIn dialog;
    ASSERT_TRUE(IsWindowVisible(dialog.Hwnd()));
    uitest::PumpFor(200);
    HWND banner = dialog.Item(IDC_STATIC_BANNER);
    RECT rc;
    GetClientRect(banner, &rc);
    PaintBanner(dialog.Hwnd());

    HBITMAP bmp = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BANNER));
    ASSERT_NE(nullptr, bmp);
    BITMAP info = {};
    GetObjectW(bmp, sizeof info, &info);
    EXPECT_EQ(402, info.bmWidth);
    EXPECT_EQ(108, info.bmHeight);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    HDC dc = GetDC(banner);
    int checked = 0, same = 0;
    for (int y = 0; y < rc.bottom && y < info.bmHeight; y += 7) {
        for (int x = 0; x < rc.right && x < info.bmWidth; x += 11) {
            ++checked;
            same += GetPixel(dc, x, y) == GetPixel(mem, x, y) ? 1 : 0;
        }
    }
    ReleaseDC(banner, dc);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bmp);
    ASSERT_GT(checked, 50);
    EXPECT_EQ(checked, same);
}

} // namespace
