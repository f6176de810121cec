// Optional system functions looked up by name at run time; tests can make a
// lookup miss.
//
// Every optional lookup of the program goes through FindOptionalProc
// (GradientFill, ChangeWindowMessageFilter, WTSRegisterSessionNotification,
// WTSUnRegisterSessionNotification, SslEmptyCacheW, IncrementUrlCacheHeaderData,
// GetNativeSystemInfo), so the "function absent" paths can be exercised where
// the system has them all (Wine does).
//
// Test seam: SetProcMissingForTest(name, true) makes every later lookup of that
// name return null in this process. A whole-program test can do the same for
// a child process through the environment variable QUENDRAL_MISSING_PROCS, a
// comma-separated list of names, read at the first lookup.
#pragma once

#include <windows.h>

namespace win {

// GetProcAddress(module, name), or null when module is null, the function is
// absent or the name was made to miss.
FARPROC FindOptionalProc(HMODULE module, const char* name) noexcept;

template <class Fn>
Fn OptionalProc(HMODULE module, const char* name) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(FindOptionalProc(module, name)));
}

void SetProcMissingForTest(const char* name, bool missing) noexcept;
void ClearMissingProcsForTest() noexcept;
bool IsProcMadeMissing(const char* name) noexcept;

} // namespace win
