// The program's binding of the token library, against the software token
// loaded by name: one load per process, the three ways a load goes wrong, empty
// slots, EnumPresentKeys and the name-list walker. Every test case runs in a
// process of its own, so each one sees the first GetTokenLib call.
#include "tests/support/softkey.h"
#include "tests/support/testenv.h"
#include "tests/token/tokfixture.h"
#include "token/results.h"
#include "token/tokenlib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>

using namespace tokfix;

namespace {

const char kDll[] = "XelSKF_QOR_ZAF.dll";

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    while (!s.empty() && s.back() == L'\\') s.pop_back();
    return s;
}

// Takes the stand-ins' folder out of this process's PATH, so the plain-name
// load finds nothing (tests run from tests/bin, the DLLs live in bin/).
void HideTokenLibrary() {
    wchar_t path[32768] = {};
    GetEnvironmentVariableW(L"PATH", path, 32768);
    std::wstring kept, all = path, bin = Lower(testenv::BinDir());
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t semi = all.find(L';', pos);
        if (semi == std::wstring::npos) semi = all.size();
        std::wstring item = all.substr(pos, semi - pos);
        if (!item.empty() && Lower(item) != bin) kept += (kept.empty() ? L"" : L";") + item;
        pos = semi + 1;
    }
    SetEnvironmentVariableW(L"PATH", kept.c_str());
}

bool AllSlotsNull(const TokenLib& lib) {
    for (void* p : lib.table.slot)
        if (p) return false;
    return true;
}

std::string ModulePath(HMODULE m) {
    char buf[MAX_PATH + 1] = {};
    GetModuleFileNameA(m, buf, MAX_PATH);
    return buf;
}

// Walks a UTF-16 list as EnumPresentKeys writes it.
std::vector<std::wstring> WideNames(const wchar_t* list, size_t units) {
    std::vector<std::wstring> out;
    size_t pos = 0;
    while (pos < units && list[pos]) {
        std::wstring name(list + pos);
        out.push_back(name);
        pos += name.size() + 1;
    }
    return out;
}

softkey::KeySpec Key(const std::string& id, bool present = true) {
    softkey::KeySpec k;
    k.id = id;
    k.present = present;
    k.serial = "SN-" + id;
    return k;
}

} // namespace

// ---- loading --------------------------------------------------------------------

TEST(TokenLibLoad, LoadsOnceAndKeepsTheFirstTable) {
    testenv::EnableLog();
    softkey::WriteKey(Key("key1"));
    softkey::WriteLibraryConfig("", "0x0A000001");  // leaves one log line per table fill

    TokenLib& first = GetTokenLib();
    ASSERT_NE(nullptr, first.module);
    EXPECT_EQ(GetModuleHandleA(kDll), first.module);
    ASSERT_NE(nullptr, first.table.slot[SLOT_SetLabel]);

    // A reload would pick this up and empty the slot.
    softkey::WriteLibraryConfig("SKF_SetLabel");
    TokenLib& second = GetTokenLib();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first.module, second.module);
    EXPECT_NE(nullptr, second.table.slot[SLOT_SetLabel]);
    EXPECT_EQ(1u, testenv::LogCount("Get XelSKF funcList error="));
}

TEST(TokenLibLoad, MissingLibraryIsLoggedAndEveryWrapperReportsMissing) {
    testenv::EnableLog();
    softkey::WriteKey(Key("key1"));
    HideTokenLibrary();
    char found[MAX_PATH] = {};
    ASSERT_EQ(0u, SearchPathA(nullptr, kDll, nullptr, MAX_PATH, found, nullptr)) << "still on PATH: " << found;

    TokenLib& lib = GetTokenLib();
    EXPECT_EQ(nullptr, lib.module);
    EXPECT_TRUE(AllSlotsNull(lib));
    EXPECT_TRUE(testenv::LogHas("load XelSKF_QOR_ZAF.dll error,rv=0x0000007e")) << testenv::ReadLog();

    DEVHANDLE dev = nullptr;
    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, TokConnectDev(softkey::DevicePath("key1").c_str(), &dev));
    EXPECT_EQ(nullptr, dev);
    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, TokSetLabel(dev, "x"));
    BYTE oem[32];
    ULONG len = sizeof oem;
    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, TokGetOemInfo(dev, oem, &len));
    TokDisConnectDev(dev);  // skipped, not called through a null slot
    TokCloseApplication(nullptr);
    TokCloseContainer(nullptr);
    ULONG size = 4096;
    wchar_t out[2048];
    EXPECT_EQ(2u, EnumPresentKeys(&size, out));
    EXPECT_EQ(0u, size);

    // Not retried, even once the library could be found.
    SetEnvironmentVariableW(L"PATH", (testenv::BinDir() + L";C:\\windows\\system32").c_str());
    EXPECT_EQ(nullptr, GetTokenLib().module);
    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, TokConnectDev(softkey::DevicePath("key1").c_str(), &dev));
    EXPECT_EQ(1u, testenv::LogCount("load XelSKF_QOR_ZAF.dll error"));
}

TEST(TokenLibLoad, LibraryWithoutTheExportLeavesTheTableEmpty) {
    testenv::EnableLog();
    softkey::WriteKey(Key("key1"));
    std::wstring variant = testenv::BinDir() + L"\\..\\variants\\noexport";
    ASSERT_TRUE(SetDllDirectoryW(variant.c_str()));

    TokenLib& lib = GetTokenLib();
    ASSERT_NE(nullptr, lib.module);
    EXPECT_NE(std::string::npos, ModulePath(lib.module).find("noexport")) << ModulePath(lib.module);
    EXPECT_TRUE(AllSlotsNull(lib));
    EXPECT_TRUE(testenv::LogHas("load XelSKF funcList error.")) << testenv::ReadLog();
    EXPECT_FALSE(testenv::LogHas("load XelSKF_QOR_ZAF.dll error"));

    DEVHANDLE dev = nullptr;
    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, TokConnectDev(softkey::DevicePath("key1").c_str(), &dev));
}

TEST(TokenLibLoad, FailingExportIsLoggedAndItsTableStillUsed) {
    testenv::EnableLog();
    softkey::WriteKey(Key("key1"));
    softkey::WriteLibraryConfig("", "0x0A000001");

    ASSERT_NE(nullptr, GetTokenLib().module);
    EXPECT_TRUE(testenv::LogHas("Get XelSKF funcList error=0x0a000001")) << testenv::ReadLog();

    Dev dev(softkey::DevicePath("key1"));
    ASSERT_EQ(0u, dev.rv);
    DEVINFO info = {};
    ASSERT_EQ(0u, TokGetDevInfo(dev.h, &info));
    EXPECT_STREQ("SN-key1", info.SerialNumber);
}

// ---- one empty slot -------------------------------------------------------------------

struct EmptySlotCase {
    const char* slotName;
    int slot;
    // Calls the wrapper of the emptied slot; the handles are those that could be opened.
    std::function<ULONG(DEVHANDLE, HAPPLICATION, HCONTAINER)> call;
};
void PrintTo(const EmptySlotCase& c, std::ostream* os) { *os << c.slotName; }


class EmptySlot : public ::testing::TestWithParam<EmptySlotCase> {};

TEST_P(EmptySlot, OnlyThatWrapperReportsMissing) {
    const EmptySlotCase& c = GetParam();
    softkey::KeySpec key = Key("key1");
    key.label = "Before";
    key.apps[0].containers = {{"C1", "sign-der", "exch-der"}};
    softkey::WriteKey(key);
    softkey::WriteLibraryConfig(c.slotName);

    TokenLib& lib = GetTokenLib();
    ASSERT_EQ(nullptr, lib.table.slot[c.slot]);
    for (int s : {SLOT_ConnectDev, SLOT_GetDevInfo, SLOT_EnumApplication, SLOT_OpenApplication})
        if (s != c.slot) {
            EXPECT_NE(nullptr, lib.table.slot[s]) << s;
        }

    Dev dev(softkey::DevicePath("key1"));
    ASSERT_EQ(0u, dev.rv);
    App app(dev.h, "APP1");
    HAPPLICATION happ = app.h;
    HCONTAINER hcon = nullptr;
    if (happ) TokOpenContainer(happ, "C1", &hcon);

    EXPECT_EQ(QR_TOKEN_FUNC_MISSING, c.call(dev.h, happ, hcon));

    // The rest of the table works.
    DEVINFO info = {};
    if (c.slot != SLOT_GetDevInfo) {
        ASSERT_EQ(0u, TokGetDevInfo(dev.h, &info));
        EXPECT_EQ(0, memcmp("Before", info.Label, 7)) << "the label must not have been written";
    }
    char list[256] = {};
    ULONG size = sizeof list;
    if (c.slot != SLOT_EnumApplication) {
        EXPECT_EQ(0u, TokEnumApplication(dev.h, list, &size));
    }
    if (hcon) TokCloseContainer(hcon);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, EmptySlot,
    ::testing::Values(
        EmptySlotCase{"SKF_SetLabel", SLOT_SetLabel,
                      [](DEVHANDLE d, HAPPLICATION, HCONTAINER) { return TokSetLabel(d, "After"); }},
        EmptySlotCase{"SKF_GetDevInfo", SLOT_GetDevInfo,
                      [](DEVHANDLE d, HAPPLICATION, HCONTAINER) {
                          DEVINFO i;
                          return TokGetDevInfo(d, &i);
                      }},
        EmptySlotCase{"SKF_EnumApplication", SLOT_EnumApplication,
                      [](DEVHANDLE d, HAPPLICATION, HCONTAINER) {
                          char l[64];
                          ULONG n = sizeof l;
                          return TokEnumApplication(d, l, &n);
                      }},
        EmptySlotCase{"SKF_OpenApplication", SLOT_OpenApplication,
                      [](DEVHANDLE d, HAPPLICATION, HCONTAINER) {
                          HAPPLICATION a = nullptr;
                          return TokOpenApplication(d, "APP1", &a);
                      }},
        EmptySlotCase{"SKF_GetPINInfo", SLOT_GetPINInfo,
                      [](DEVHANDLE, HAPPLICATION a, HCONTAINER) {
                          ULONG m, r;
                          return TokGetPINInfo(a, SKF_USER_PIN, &m, &r, nullptr);
                      }},
        EmptySlotCase{"SKF_EnumContainer", SLOT_EnumContainer,
                      [](DEVHANDLE, HAPPLICATION a, HCONTAINER) {
                          char l[64];
                          ULONG n = sizeof l;
                          return TokEnumContainer(a, l, &n);
                      }},
        EmptySlotCase{"SKF_OpenContainer", SLOT_OpenContainer,
                      [](DEVHANDLE, HAPPLICATION a, HCONTAINER) {
                          HCONTAINER c = nullptr;
                          return TokOpenContainer(a, "C1", &c);
                      }},
        EmptySlotCase{"SKF_ExportCertificate", SLOT_ExportCertificate,
                      [](DEVHANDLE, HAPPLICATION, HCONTAINER c) {
                          BYTE b[64];
                          ULONG n = sizeof b;
                          return TokExportCertificate(c, TRUE, b, &n);
                      }},
        EmptySlotCase{"SKF_GetOEMInfo", SLOT_GetOemInfo,
                      [](DEVHANDLE d, HAPPLICATION, HCONTAINER) {
                          BYTE b[32];
                          ULONG n = sizeof b;
                          return TokGetOemInfo(d, b, &n);
                      }}),
    [](const ::testing::TestParamInfo<EmptySlotCase>& info) { return std::string(info.param.slotName + 4); });

// Close wrappers over an empty slot skip the call: the connection stays open
// in the library rather than the program crashing.
TEST(EmptySlotClose, DisconnectIsSkipped) {
    softkey::WriteKey(Key("key1"));
    softkey::WriteLibraryConfig("SKF_DisConnectDev");
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(0u, TokConnectDev(softkey::DevicePath("key1").c_str(), &dev));
    TokDisConnectDev(dev);
    EXPECT_EQ(1u, softkey::GetOpenCounts().devices);
}

// ---- EnumPresentKeys ------------------------------------------------------------------

struct KeySetCase {
    const char* name;
    std::vector<std::pair<std::string, bool>> keys;  // id, present
};
void PrintTo(const KeySetCase& c, std::ostream* os) { *os << c.name; }


class PresentKeys : public ::testing::TestWithParam<KeySetCase> {};

TEST_P(PresentKeys, ListsExactlyThePresentKeys) {
    softkey::KeyDir();  // this process's own folder, even when it holds no key
    std::vector<std::wstring> expected;
    std::string expectedAnsi;
    for (const auto& k : GetParam().keys) {
        softkey::WriteKey(Key(k.first, k.second));
        if (k.second) {
            expected.push_back(softkey::DevicePathW(k.first));
            expectedAnsi += softkey::DevicePath(k.first) + '\0';
        }
    }
    expectedAnsi += '\0';

    // What the library itself reports as present.
    char raw[2048] = {};
    ULONG rawSize = sizeof raw;
    ASSERT_EQ(0u, TokEnumDev(TRUE, raw, &rawSize));
    ASSERT_EQ(expectedAnsi, std::string(raw, rawSize));

    wchar_t out[2048];
    wmemset(out, L'#', 2048);
    ULONG size = 2048;
    ASSERT_EQ(0u, EnumPresentKeys(&size, out));
    EXPECT_EQ(expectedAnsi.size(), size);
    EXPECT_EQ(expected, WideNames(out, size));
    // Separators and the final empty string are part of the result.
    EXPECT_EQ(L'\0', out[size - 1]);
    if (size >= 2) {
        EXPECT_EQ(L'\0', out[size - 2]);
    }
    EXPECT_EQ(L'#', out[size]) << "nothing written past the list";
}

INSTANTIATE_TEST_SUITE_P(KeySets, PresentKeys,
                         ::testing::Values(KeySetCase{"None", {}}, KeySetCase{"One", {{"key1", true}}},
                                           KeySetCase{"ThreeOneAbsent",
                                                      {{"key1", true}, {"key2", false}, {"key3", true}}}),
                         [](const ::testing::TestParamInfo<KeySetCase>& info) { return info.param.name; });

// A key whose name makes the list exactly 40 bytes: 38 characters, its zero,
// the final zero.
class FortyByteList : public ::testing::Test {
protected:
    void SetUp() override {
        softkey::KeySpec k = Key("key1");
        k.name = "\\\\?\\USBSTOR#CDROM&VEN_VESTRA#012345678";
        ASSERT_EQ(38u, k.name.size());
        softkey::WriteKey(k);
        name_ = testenv::Widen(k.name);
    }
    std::wstring name_;
};

TEST_F(FortyByteList, SizeTooSmallReturnsThreeWithTheByteLength) {
    for (ULONG given : {0u, 10u, 39u}) {
        wchar_t out[64];
        wmemset(out, L'#', 64);
        ULONG size = given;
        EXPECT_EQ(3u, EnumPresentKeys(&size, out)) << given;
        EXPECT_EQ(40u, size) << given;
        EXPECT_EQ(L'#', out[0]) << "nothing written";
    }
}

TEST_F(FortyByteList, SizeQueryWithoutBuffer) {
    ULONG size = 4096;
    EXPECT_EQ(0u, EnumPresentKeys(&size, nullptr));
    EXPECT_EQ(40u, size);
}

TEST_F(FortyByteList, ExactSizeGetsTheConvertedList) {
    wchar_t out[41];
    wmemset(out, L'#', 41);
    ULONG size = 40;
    ASSERT_EQ(0u, EnumPresentKeys(&size, out));
    EXPECT_EQ(40u, size);
    EXPECT_EQ(name_ + L'\0' + L'\0', std::wstring(out, 40));
    EXPECT_EQ(L'#', out[40]);
}

TEST(PresentKeysCodes, NullSizeIsOne) {
    softkey::WriteKey(Key("key1"));
    wchar_t out[64];
    EXPECT_EQ(1u, EnumPresentKeys(nullptr, out));
}

TEST(PresentKeysCodes, NamesConvertFromTheAnsiCodePage) {
    softkey::KeySpec k = Key("key1");
    k.name = "\\\\?\\KEY\x80\xC9#1";
    softkey::WriteKey(k);
    wchar_t out[64] = {};
    ULONG size = 64;
    ASSERT_EQ(0u, EnumPresentKeys(&size, out));
    std::wstring expected = testenv::Widen(k.name);
    ASSERT_NE(L'\x80', expected[7]) << "the code page maps 0x80 to another character";
    EXPECT_EQ(expected + L'\0' + L'\0', std::wstring(out, size));
}

// SKF_EnumDev failing, or missing from the table: 2 and size 0.
struct EnumFailCase {
    const char* name;
    const char* emptySlots;
    const char* enumDevFault;
};
void PrintTo(const EnumFailCase& c, std::ostream* os) { *os << c.name; }


class PresentKeysEnumFails : public ::testing::TestWithParam<EnumFailCase> {};

TEST_P(PresentKeysEnumFails, ReturnsTwoWithSizeZero) {
    softkey::WriteKey(Key("key1"));
    softkey::WriteLibraryConfig(GetParam().emptySlots);
    if (*GetParam().enumDevFault) softkey::SetLibraryFault("SKF_EnumDev", GetParam().enumDevFault);
    wchar_t out[2048];
    for (wchar_t* buf : {out, static_cast<wchar_t*>(nullptr)}) {
        ULONG size = 2048;
        EXPECT_EQ(2u, EnumPresentKeys(&size, buf));
        EXPECT_EQ(0u, size);
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, PresentKeysEnumFails,
                         ::testing::Values(EnumFailCase{"Failing", "", "0x0A000001"},
                                           EnumFailCase{"Missing", "SKF_EnumDev", ""}),
                         [](const ::testing::TestParamInfo<EnumFailCase>& info) { return info.param.name; });

// ---- ForEachName ----------------------------------------------------------------------

struct WalkCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> names;
};
void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }


class NameWalk : public ::testing::TestWithParam<WalkCase> {};

// Ends the process at once on a fault: Wine's crash handling would otherwise
// hang the test until its time-out.
LONG WINAPI FailFast(EXCEPTION_POINTERS* info) {
    fprintf(stderr, "exception 0x%08lx: read past the list\n", info->ExceptionRecord->ExceptionCode);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The list sits at the very end of a readable page: a read past `bytes`
// faults instead of passing unnoticed.
TEST_P(NameWalk, YieldsNamesUpToTheEmptyOneAndStaysInside) {
    const std::string& bytes = GetParam().bytes;
    SetUnhandledExceptionFilter(FailFast);
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    size_t page = si.dwPageSize;
    char* base = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    char* list = base + page - bytes.size();
    memcpy(list, bytes.data(), bytes.size());

    EXPECT_EQ(GetParam().names, Names(list, bytes.size()));
    VirtualFree(base, 0, MEM_RELEASE);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, NameWalk,
    ::testing::Values(WalkCase{"OnlyTheEmptyName", std::string("\0", 1), {}},
                      WalkCase{"Nothing", std::string(), {}},
                      WalkCase{"TwoNames", std::string("A\0BC\0\0", 6), {"A", "BC"}},
                      WalkCase{"StopsAtTheEmptyName", std::string("A\0\0B\0\0", 6), {"A"}},
                      WalkCase{"UnterminatedTail", std::string("AB\0CD", 5), {"AB"}},
                      WalkCase{"NoTerminatorAtAll", std::string("ABC"), {}},
                      WalkCase{"LastNameWithoutListEnd", std::string("A\0B\0", 4), {"A", "B"}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.name; });
