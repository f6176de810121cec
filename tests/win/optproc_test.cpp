// Optional lookups: found when present, missing on request (in-process and
// through the environment at the first lookup).
#include "win/optproc.h"
#include "win/handles.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const wchar_t* dll;
    const char* name;
};
const Case kOptional[] = {
    {L"msimg32.dll", "GradientFill"},
    {L"user32.dll", "ChangeWindowMessageFilter"},
    {L"wtsapi32.dll", "WTSRegisterSessionNotification"},
    {L"wtsapi32.dll", "WTSUnRegisterSessionNotification"},
    {L"schannel.dll", "SslEmptyCacheW"},
    {L"wininet.dll", "IncrementUrlCacheHeaderData"},
    {L"kernel32.dll", "GetNativeSystemInfo"},
};

TEST(OptionalProc, EachProgramLookupCanBeMadeToMissAndBack) {
    for (const Case& c : kOptional) {
        SCOPED_TRACE(c.name);
        win::Module mod(LoadLibraryW(c.dll));
        ASSERT_TRUE(mod.Valid());
        EXPECT_EQ(GetProcAddress(mod.Get(), c.name), win::FindOptionalProc(mod.Get(), c.name));
        EXPECT_NE(nullptr, win::FindOptionalProc(mod.Get(), c.name));
        win::SetProcMissingForTest(c.name, true);
        EXPECT_EQ(nullptr, win::FindOptionalProc(mod.Get(), c.name));
        EXPECT_TRUE(win::IsProcMadeMissing(c.name));
        win::SetProcMissingForTest(c.name, false);
        EXPECT_NE(nullptr, win::FindOptionalProc(mod.Get(), c.name));
    }
}

TEST(OptionalProc, MissingOnlyTheNamedFunction) {
    win::Module k32(LoadLibraryW(L"kernel32.dll"));
    win::SetProcMissingForTest("GetNativeSystemInfo", true);
    EXPECT_EQ(nullptr, win::FindOptionalProc(k32.Get(), "GetNativeSystemInfo"));
    EXPECT_NE(nullptr, win::FindOptionalProc(k32.Get(), "GetSystemInfo"));
    win::ClearMissingProcsForTest();
    EXPECT_NE(nullptr, win::FindOptionalProc(k32.Get(), "GetNativeSystemInfo"));
}

TEST(OptionalProc, AbsentFunctionAndNullModule) {
    win::Module k32(LoadLibraryW(L"kernel32.dll"));
    EXPECT_EQ(nullptr, win::FindOptionalProc(k32.Get(), "NoSuchFunctionAnywhere"));
    EXPECT_EQ(nullptr, win::FindOptionalProc(nullptr, "GetNativeSystemInfo"));
    EXPECT_EQ(nullptr, win::FindOptionalProc(k32.Get(), nullptr));
}

TEST(OptionalProc, EnvironmentListIsReadAtTheFirstLookup) {
    // Every test case runs in a process of its own: this is the first lookup here.
    SetEnvironmentVariableW(L"QUENDRAL_MISSING_PROCS", L"GradientFill,GetNativeSystemInfo");
    win::Module k32(LoadLibraryW(L"kernel32.dll"));
    win::Module img(LoadLibraryW(L"msimg32.dll"));
    EXPECT_EQ(nullptr, win::FindOptionalProc(k32.Get(), "GetNativeSystemInfo"));
    EXPECT_EQ(nullptr, win::FindOptionalProc(img.Get(), "GradientFill"));
    EXPECT_NE(nullptr, win::FindOptionalProc(k32.Get(), "GetSystemInfo"));
}

} // namespace
