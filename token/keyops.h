// Key operations on one present key: PIN verification and change through the
// vendor's PIN-dialog library "XelUI_QOR_ZAF.dll", rename, the default-PIN
// query and the OEM-information query.
#pragma once

#include "token/skf.h"

constexpr ULONG kPinModeBeforeRename = 3;
constexpr ULONG kPinModeVerify = 19;

// The request handed to the PIN-dialog library. On 32-bit Windows this is the
// library's 276-byte record; on 64-bit the window and the two token handles
// are carried whole (cutting them to 32 bits would lose the upper half).
struct PinDialogRequest {
    HWND owner;
    ULONG mode;              // kPinModeBeforeRename or kPinModeVerify
    char deviceName[260];    // the key's device path, ANSI, zero-filled
    DEVHANDLE device;        // connected by the caller
    HAPPLICATION application;  // the key's first application, opened by the caller
};
#if defined(_WIN64)
static_assert(sizeof(PinDialogRequest::device) == 8 && sizeof(PinDialogRequest::application) == 8 &&
                  offsetof(PinDialogRequest, device) == 272 && sizeof(PinDialogRequest) == 288,
              "whole 64-bit handles");
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

// The PIN dialogs of the key at `index`, owned by `owner`. 0x10110013 for an
// index beyond the list, 1 for a key without application, a token-library
// code, 0xE0400001 when the UI library lacks the dialog, otherwise the UI
// library's result. The key is connected and its first application opened
// only for the dialog's run. After 0xD0100107 or 0xD0106983 (and after a
// successful change) the key's shared state slot is cleared.
ULONG VerifyKeyPin(ULONG index, HWND owner, ULONG mode);
ULONG ChangeKeyPin(HWND owner, ULONG index);
// Writes the key's label; on success also the record's devLabel (devInfo keeps
// the old Label). 0x10110013 for a bad index or a null name.
ULONG RenameKey(ULONG index, const wchar_t* newName);
// 0 with *isDefault 1 when the user PIN is still the default, else 0;
// 0x10110023 for a null path; failures are logged. Holds DevListLock.
ULONG QueryDefaultPin(const wchar_t* path, BYTE* isDefault);
// The key's OEM bytes (vendor slot 88); *len in: buffer size, out: byte count.
// 0x10110013 without touching the key when an argument is null or *len is 0.
ULONG GetDevOemInfo(const wchar_t* path, BYTE* oem, ULONG* len);
