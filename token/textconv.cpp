#include "token/textconv.h"

ULONG WideToAnsi(const wchar_t* src, int units, char* dst, int dstBytes, int* outBytes) {
    if (outBytes) *outBytes = 0;
    if (!src || !dst || dstBytes <= 1 || units < 0) return ERROR_INVALID_PARAMETER;
    // Drop characters from the end until the result fits, keeping surrogate pairs whole.
    while (units > 0) {
        int need = WideCharToMultiByte(CP_ACP, 0, src, units, nullptr, 0, nullptr, nullptr);
        if (need <= 0) return GetLastError();
        if (need <= dstBytes - 1) break;
        --units;
        if (units > 0 && IS_HIGH_SURROGATE(src[units - 1])) --units;
    }
    if (units == 0) return 0;
    int n = WideCharToMultiByte(CP_ACP, 0, src, units, dst, dstBytes - 1, nullptr, nullptr);
    if (n <= 0) return GetLastError();
    if (outBytes) *outBytes = n;
    return 0;
}

ULONG AnsiToWide(const char* src, int bytes, wchar_t* dst, int dstUnits, int* outUnits) {
    if (outUnits) *outUnits = 0;
    if (!src || !dst || dstUnits <= 1 || bytes < 0) return ERROR_INVALID_PARAMETER;
    while (bytes > 0) {
        int need = MultiByteToWideChar(CP_ACP, 0, src, bytes, nullptr, 0);
        if (need <= 0) return GetLastError();
        if (need <= dstUnits - 1) break;
        --bytes;
        // Do not split a double-byte character.
        if (bytes > 0 && IsDBCSLeadByte(static_cast<BYTE>(src[bytes - 1]))) --bytes;
    }
    if (bytes == 0) return 0;
    int n = MultiByteToWideChar(CP_ACP, 0, src, bytes, dst, dstUnits - 1);
    if (n <= 0) return GetLastError();
    if (outUnits) *outUnits = n;
    return 0;
}
