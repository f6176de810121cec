// Binding of the vendor token library "XelSKF_QOR_ZAF.dll": loaded by name on
// first use, reached only through the table its "SKF_GetFunctionList" fills.
// A wrapper whose slot is empty returns QR_TOKEN_FUNC_MISSING without calling.
#pragma once

#include "token/skf.h"

struct TokenLib {
    HMODULE module;
    SkfFunctionTable table;
};

// The process-wide holder; the first call loads the library (once, never retried).
TokenLib& GetTokenLib();

ULONG TokEnumDev(BOOL presentOnly, char* nameList, ULONG* size);
ULONG TokConnectDev(const char* name, DEVHANDLE* dev);
void TokDisConnectDev(DEVHANDLE dev);
ULONG TokSetLabel(DEVHANDLE dev, const char* label);
ULONG TokGetDevInfo(DEVHANDLE dev, DEVINFO* info);
ULONG TokGetPINInfo(HAPPLICATION app, ULONG pinType, ULONG* maxRetry, ULONG* remainRetry, BOOL* defaultPin);
ULONG TokEnumApplication(DEVHANDLE dev, char* nameList, ULONG* size);
ULONG TokOpenApplication(DEVHANDLE dev, const char* name, HAPPLICATION* app);
void TokCloseApplication(HAPPLICATION app);
ULONG TokOpenContainer(HAPPLICATION app, const char* name, HCONTAINER* container);
void TokCloseContainer(HCONTAINER container);
ULONG TokEnumContainer(HAPPLICATION app, char* nameList, ULONG* size);
ULONG TokExportCertificate(HCONTAINER container, BOOL sign, BYTE* cert, ULONG* certLen);
ULONG TokGetOemInfo(DEVHANDLE dev, BYTE* oem, ULONG* len);

// Lists the keys present as a UTF-16 multi-string (see the result codes):
// 1 size null; 2 enumeration missing or failed (size 0); 3 caller's size below
// the list's byte length (size set to it); 0 with out null: size = byte length;
// 0 with out: the list converted, size = UTF-16 units written.
ULONG EnumPresentKeys(ULONG* size, wchar_t* out);

// Walks a zero-separated name list ended by an empty name; calls fn(name) for
// each. Stops at the end of `bytes` even when the list is not terminated.
template <typename Fn>
void ForEachName(const char* list, size_t bytes, Fn fn) {
    size_t pos = 0;
    while (pos < bytes && list[pos] != 0) {
        const char* name = list + pos;
        size_t len = 0;
        while (pos + len < bytes && name[len] != 0) ++len;
        if (pos + len >= bytes) break;  // unterminated tail: not a name
        fn(name);
        pos += len + 1;
    }
}
