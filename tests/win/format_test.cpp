// Wide formatting with the semantics the text-table templates are written for.
#include "win/format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatW, PercentSTakesAWideStringAndHsANarrowOne) {
    EXPECT_EQ(L"key \x4E2D\x6587 ok", win::FormatW(L"key %s %hs", L"\x4E2D\x6587", "ok"));
    EXPECT_EQ(L"wide", win::FormatW(L"%ls", L"wide"));
    EXPECT_EQ(L"x", win::FormatW(L"%c", L'x'));
}

TEST(FormatW, ListTemplatesOfTheTextTable) {
    // MainDlg_ListCert and MainDlg_ListDev (English), Dlg_ShowCert_ValidDate2.
    EXPECT_EQ(L"Certificate status: valid\rSubject:Zhang San\rValid Period:2016- 3- 5~2019-12-31",
              win::FormatW(L"%s\rSubject:%s\rValid Period:%4d-%2d-%2d~%4d-%2d-%2d", L"Certificate status: valid",
                           L"Zhang San", 2016, 3, 5, 2019, 12, 31));
    EXPECT_EQ(L"USBKey\r  Max PIN Retry Count 10\r  Remain PIN Retry Count 4294967295",
              win::FormatW(L"%s\r  Max PIN Retry Count %u\r  Remain PIN Retry Count %u", L"USBKey", 10u, 0xFFFFFFFFu));
    EXPECT_EQ(L"From 2016- 3- 5 to 2019- 3- 5",
              win::FormatW(L"From %04d-%2d-%2d to %04d-%2d-%2d", 2016, 3, 5, 2019, 3, 5));
    EXPECT_EQ(L"2019-03-05", win::FormatW(L"%04d-%02d-%02d", 2019, 3, 5));
}

TEST(FormatW, LongResultsAreNotCut) {
    std::wstring big(5000, L'a');
    std::wstring out = win::FormatW(L"[%s]", big.c_str());
    ASSERT_EQ(5002u, out.size());
    EXPECT_EQ(L'[', out.front());
    EXPECT_EQ(L']', out.back());
}

TEST(FormatW, EmptyAndNullFormats) {
    EXPECT_EQ(L"", win::FormatW(L""));
    EXPECT_EQ(L"", win::FormatW(nullptr));
    EXPECT_EQ(L"100%", win::FormatW(L"%d%%", 100));
}

TEST(FormatW, SixtyFourBitIntegers) {
    EXPECT_EQ(L"18446744073709551615", win::FormatW(L"%I64u", 0xFFFFFFFFFFFFFFFFull));
    EXPECT_EQ(L"-5", win::FormatW(L"%lld", -5ll));
}

} // namespace
