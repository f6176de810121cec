// The program's own result codes. Library and CryptoAPI codes pass up unchanged.
#pragma once

#include <windows.h>

constexpr ULONG QR_OK = 0;
constexpr ULONG QR_BAD_PARAM = 0x10110011;         // a required argument is null
constexpr ULONG QR_NOT_FOUND = 0x10110013;         // index out of range, not found, bad arguments
constexpr ULONG QR_LIST_EMPTY = 0x10110014;        // delete from an empty device list
constexpr ULONG QR_PATH_NOT_LISTED = 0x10110021;   // device path not in the list
constexpr ULONG QR_NULL_PATH = 0x10110023;         // null device path
constexpr ULONG QR_TOKEN_FUNC_MISSING = 0xE0300001; // token-library function missing
constexpr ULONG QR_UI_FUNC_MISSING = 0xE0400001;    // PIN-dialog-library function missing
