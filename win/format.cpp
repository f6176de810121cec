#include "win/format.h"

#include <cwchar>
#include <cstdio>
#include <vector>

namespace win {

std::wstring FormatV(const wchar_t* fmt, va_list args) {
    if (!fmt) return std::wstring();
    va_list count;
    va_copy(count, args);
    int n = _vscwprintf(fmt, count);
    va_end(count);
    if (n <= 0) return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1, L'\0');
    va_list out;
    va_copy(out, args);
    int written = _vsnwprintf(buf.data(), buf.size(), fmt, out);
    va_end(out);
    if (written < 0) return std::wstring();
    return std::wstring(buf.data(), static_cast<size_t>(written));
}

std::wstring FormatW(const wchar_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::wstring s = FormatV(fmt, args);
    va_end(args);
    return s;
}

} // namespace win
