// ANSI <-> UTF-16 conversion in the system's ANSI code page. No terminator is
// added: callers zero-fill the destination first. The destination's capacity
// is given so that a long text is cut at a character boundary rather than
// written past the buffer; one byte (or unit) is always left for the caller's
// terminating zero.
#pragma once

#include <windows.h>

// 0, or GetLastError() of the conversion.
ULONG WideToAnsi(const wchar_t* src, int units, char* dst, int dstBytes, int* outBytes);
ULONG AnsiToWide(const char* src, int bytes, wchar_t* dst, int dstUnits, int* outUnits);
