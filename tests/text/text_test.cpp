// Text table: language choice from the LCID, lookups, and the three
// languages compared through dumps made by separate processes.
#include "text/langtext.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <map>
#include <string>
#include <vector>

namespace {

using TextDump = std::map<std::string, std::string>;  // key -> UTF-8 text, escapes resolved

struct Dump {
    int language = 0;
    TextDump texts;
    std::vector<std::string> order;
};

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 'r' ? '\r' : n == 'n' ? '\n' : n == 't' ? '\t' : n;
    }
    return out;
}

// Runs text_dump.exe for one LCID in a process of its own and reads its output.
Dump DumpFor(const std::wstring& lcid) {
    std::wstring out = testenv::TempDirW() + L"dump-" + lcid + L".txt";
    std::wstring cmd = L"\"" + testenv::TestBinDir() + L"\\text_dump.exe\" " + lcid + L" \"" + out + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    Dump dump;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "CreateProcess text_dump failed: " << GetLastError();
        return dump;
    }
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(0u, code);
    std::string all = testenv::ReadFileBytes(out);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, 9, "language=") == 0) {
            dump.language = std::stoi(line.substr(9));
            continue;
        }
        size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            ADD_FAILURE() << "bad dump line: " << line;
            continue;
        }
        std::string key = line.substr(0, tab);
        EXPECT_EQ(0u, dump.texts.count(key)) << "key twice: " << key;
        dump.texts[key] = Unescape(line.substr(tab + 1));
        dump.order.push_back(key);
    }
    return dump;
}

// The argument kinds of a printf format: 'i' integer, 's' string, 'f' floating, 'c' character.
std::string ConversionKinds(const std::string& fmt) {
    std::string kinds;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%') continue;
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < fmt.size() && strchr("-+ #0123456789.*hlLqjzt", fmt[j])) ++j;
        if (j == fmt.size()) {
            kinds += '?';
            break;
        }
        char c = fmt[j];
        kinds += strchr("diuoxX", c) ? 'i' : strchr("sS", c) ? 's' : strchr("eEfgGaA", c) ? 'f' : c == 'c' ? 'c' : '?';
        i = j;
    }
    return kinds;
}

// What the callers pass, in order; every other key is shown without formatting.
const std::map<std::string, std::string> kCallerArguments = {
    {"MainDlg_CertState_WillExpire", "i"},
    {"MainDlg_ListDev", "sii"},
    {"MainDlg_ListCert", "ssiiiiii"},
    {"app_Tray_TxtInfoGenKeyPair", "i"},
    {"app_Tray_TxtInfoGenKeyPairSuccess", "i"},
    {"app_Tray_TxtInfoGenKeyPairFail", "i"},
    {"app_Tray_TipCertDate", "iii"},
    {"Dlg_About_txt", "s"},
    {"Dlg_ShowCert_ValidDate2", "iiiiii"},
    {"MessageBox_RegisterCert_error", "ss"},
    {"MessageBox_RegisterCert_success", "ss"},
};

// Each test runs in a process of its own; the three dumps come from three more.
class AllLanguages : public ::testing::Test {
protected:
    void SetUp() override {
        english = DumpFor(L"1033");
        simplified = DumpFor(L"2052");
        traditional = DumpFor(L"1028");
        ASSERT_FALSE(HasFailure());
    }
    Dump english, simplified, traditional;
};

} // namespace

TEST(LanguageForLcid, WholeLcidSelectsTheLanguage) {
    struct Case {
        LCID lcid;
        int language;
    } cases[] = {
        {2052, kLangSimplified},   {4100, kLangSimplified},   {1028, kLangTraditional}, {3076, kLangTraditional},
        {5124, kLangTraditional},  {1033, kLangEnglish},      {1041, kLangEnglish},     {2057, kLangEnglish},
        {1031, kLangEnglish},      {0, kLangEnglish},
        // Same primary language (Chinese) but not one of the five: English.
        {0x0004, kLangEnglish},    {0x7C04, kLangEnglish},    {0x00020804, kLangEnglish},
    };
    for (const Case& c : cases) EXPECT_EQ(c.language, LanguageForLcid(c.lcid)) << "LCID " << c.lcid;
}

struct LcidCase {
    LCID lcid;
    int language;
    const wchar_t* okText;
};

void PrintTo(const LcidCase& c, std::ostream* os) { *os << "LCID " << c.lcid; }

class TableForLcid : public ::testing::TestWithParam<LcidCase> {};

TEST_P(TableForLcid, IsBuiltInTheLanguageOfTheLcid) {
    qtext::SetLcidForTest(GetParam().lcid);
    EXPECT_EQ(GetParam().okText, GetLangText(L"DlgButton_OK"));
    EXPECT_EQ(GetParam().language, GetTextLanguage());
    EXPECT_EQ(52u, qtext::TableKeys().size());
}

INSTANTIATE_TEST_SUITE_P(Lcids, TableForLcid,
                         ::testing::Values(LcidCase{2052, kLangSimplified, L"确定"},
                                           LcidCase{4100, kLangSimplified, L"确定"},
                                           LcidCase{3076, kLangTraditional, L"確定"},
                                           LcidCase{5124, kLangTraditional, L"確定"},
                                           LcidCase{1041, kLangEnglish, L"OK"}),
                         [](const ::testing::TestParamInfo<LcidCase>& info) {
                             return "Lcid" + std::to_string(info.param.lcid);
                         });

TEST(TableLanguage, ChosenOnceForTheProcess) {
    qtext::SetLcidForTest(2052);
    std::wstring first = GetLangText(L"DlgButton_Cancel");
    qtext::SetLcidForTest(1033);  // too late: the table exists
    EXPECT_EQ(first, GetLangText(L"DlgButton_Cancel"));
    EXPECT_EQ(kLangSimplified, GetTextLanguage());
}

TEST(TableLanguage, WithoutTheSeamFollowsTheSystemLocale) {
    EXPECT_EQ(LanguageForLcid(GetSystemDefaultLCID()), GetTextLanguage());
}

TEST(GetLangText, KeysOutsideTheTableYieldEmptyText) {
    qtext::SetLcidForTest(1033);
    ASSERT_EQ(L"Verify PIN", GetLangText(L"MainDlg_BTN_VerifyPIN"));
    const wchar_t* misses[] = {
        L"Tip_error_title", L"mainDlg_BTN_VerifyPIN", L"MAINDLG_BTN_VERIFYPIN", L"MainDlg_BTN_VerifyPIN ",
        L" MainDlg_BTN_VerifyPIN", L"MainDlg_BTN_VerifyPI", L"", L"Verify PIN",
    };
    for (const wchar_t* key : misses) EXPECT_EQ(L"", GetLangText(key)) << "key [" << testenv::Narrow(key) << "]";
    EXPECT_EQ(L"", GetLangText(nullptr));
}

TEST(GetLangText, ReturnsIndependentCopies) {
    std::wstring a = GetLangText(L"MainDlg_Title");
    ASSERT_FALSE(a.empty());
    std::wstring b = GetLangText(L"MainDlg_Title");
    a[0] = L'#';
    a += L"changed";
    EXPECT_EQ(b, GetLangText(L"MainDlg_Title"));
    EXPECT_NE(a, GetLangText(L"MainDlg_Title"));
}

class ListCertRows : public ::testing::TestWithParam<LCID> {};

TEST_P(ListCertRows, FormatToThreeLinesSeparatedByCarriageReturn) {
    qtext::SetLcidForTest(GetParam());
    std::wstring fmt = GetLangText(L"MainDlg_ListCert");
    ASSERT_FALSE(fmt.empty());
    wchar_t row[1024] = {};
    // MS-style wide formatting: %s takes a wide string.
    int n = _snwprintf(row, 1023, fmt.c_str(), L"STATE", L"SUBJECT", 2024, 1, 2, 2026, 3, 4);
    ASSERT_GT(n, 0);
    std::wstring text = row;
    std::vector<std::wstring> lines;
    size_t pos = 0;
    for (size_t cr; (cr = text.find(L'\r', pos)) != std::wstring::npos; pos = cr + 1) lines.push_back(text.substr(pos, cr - pos));
    lines.push_back(text.substr(pos));
    ASSERT_EQ(3u, lines.size()) << testenv::Narrow(text);
    EXPECT_EQ(std::wstring::npos, text.find(L'\n'));
    EXPECT_EQ(L"STATE", lines[0]);
    EXPECT_NE(std::wstring::npos, lines[1].find(L"SUBJECT"));
    EXPECT_NE(std::wstring::npos, lines[2].find(L"2024- 1- 2"));
    EXPECT_NE(std::wstring::npos, lines[2].find(L"2026- 3- 4"));
}

INSTANTIATE_TEST_SUITE_P(Languages, ListCertRows, ::testing::Values(1033, 2052, 1028));

TEST_F(AllLanguages, SameKeysWithTextsInEveryLanguage) {
    const Dump* dumps[] = {&english, &simplified, &traditional};
    EXPECT_EQ(kLangEnglish, english.language);
    EXPECT_EQ(kLangSimplified, simplified.language);
    EXPECT_EQ(kLangTraditional, traditional.language);
    for (const Dump* d : dumps) {
        EXPECT_EQ(52u, d->texts.size());
        for (const auto& kv : d->texts) EXPECT_FALSE(kv.second.empty()) << d->language << " " << kv.first;
        std::vector<std::string> keys;
        for (const auto& kv : english.texts) keys.push_back(kv.first);
        std::vector<std::string> theirs;
        for (const auto& kv : d->texts) theirs.push_back(kv.first);
        EXPECT_EQ(keys, theirs) << d->language;
    }
    // The table is ordered by code unit: "Dlg..." before "MainDlg..." before "app...".
    std::vector<std::string> sorted = english.order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, english.order);
}

TEST_F(AllLanguages, ConversionsMatchTheCallersArguments) {
    for (const auto& kv : english.texts) {
        auto expected = kCallerArguments.find(kv.first);
        std::string want = expected == kCallerArguments.end() ? "" : expected->second;
        EXPECT_EQ(want, ConversionKinds(english.texts[kv.first])) << "en " << kv.first;
        EXPECT_EQ(want, ConversionKinds(simplified.texts[kv.first])) << "zh-Hans " << kv.first;
        EXPECT_EQ(want, ConversionKinds(traditional.texts[kv.first])) << "zh-Hant " << kv.first;
    }
}

TEST_F(AllLanguages, ListItemsBreakWithCarriageReturnsAndMessageBoxesWithLineFeeds) {
    const Dump* dumps[] = {&english, &simplified, &traditional};
    for (const Dump* d : dumps) {
        for (const auto& kv : d->texts) {
            bool listItem = kv.first == "MainDlg_ListDev" || kv.first == "MainDlg_ListCert";
            size_t crs = std::count(kv.second.begin(), kv.second.end(), '\r');
            EXPECT_EQ(listItem ? 2u : 0u, crs) << d->language << " " << kv.first;
            if (listItem) {
                EXPECT_EQ(std::string::npos, kv.second.find('\n'));
            }
        }
        EXPECT_NE(std::string::npos, d->texts.at("MessageBox_RegisterCert_error").find("\n\n"));
    }
}
