// Key operations on one present key: PIN verification and change through the
// vendor's PIN-dialog library "XelUI_QOR_ZAF.dll", rename, the default-PIN
// query and the OEM-information query.
#pragma once

#include "token/skf.h"

constexpr ULONG kPinModeBeforeRename = 3;
constexpr ULONG kPinModeVerify = 19;

// The request handed to the PIN-dialog library. On 32-bit Windows this is the
// library's 276-byte record; on 64-bit the handles are carried whole.
struct PinDialogRequest {
    HWND owner;
    ULONG mode;
    char deviceName[260];
    DEVHANDLE device;
    HAPPLICATION application;
};
#if defined(_WIN64)
static_assert(sizeof(HWND) == 8, "64-bit handles");
#else
static_assert(sizeof(PinDialogRequest) == 276, "the library's record");
static_assert(offsetof(PinDialogRequest, device) == 268 && offsetof(PinDialogRequest, application) == 272,
              "the library's record");
#endif

typedef ULONG(WINAPI* PFN_UI_PinDialog)(PinDialogRequest* request);

struct UiFunctionTable {
    void* slot[2];  // 0 verify PIN, 1 change PIN
};
typedef ULONG(WINAPI* PFN_UI_GetFunctionList)(UiFunctionTable* table);

struct UiLib {
    HMODULE module;
    UiFunctionTable table;
};
UiLib& GetUiLib();

ULONG VerifyKeyPin(ULONG index, HWND owner, ULONG mode);
ULONG ChangeKeyPin(HWND owner, ULONG index);
ULONG RenameKey(ULONG index, const wchar_t* newName);
ULONG QueryDefaultPin(const wchar_t* path, BYTE* isDefault);
ULONG GetDevOemInfo(const wchar_t* path, BYTE* oem, ULONG* len);
