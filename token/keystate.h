// The family's shared key-state block "NORV_VESTRA_SM_QOR_ZAF" (5 slots of
// 532 bytes, each starting with a zero-terminated ANSI key name) and its
// mutex "NORV_VESTRA_SMLOCK_QOR_ZAF". This program only creates the block and
// zeroes slots.
#pragma once

#include <windows.h>

constexpr DWORD kKeyStateSlotSize = 532;
constexpr DWORD kKeyStateSlots = 5;
constexpr DWORD kKeyStateBlockSize = kKeyStateSlotSize * kKeyStateSlots;

// 0 exists (now or before); 1 creation failed; 2 created but mapping failed.
ULONG CreateKeyStateBlock();
// The mutex, held once by the caller; null when it could neither be opened nor created.
HANDLE AcquireKeyStateLock();
// Zeroes the first slot whose key name equals `name`. Null name: nothing.
void ClearKeyState(const char* name);
