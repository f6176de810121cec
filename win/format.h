// Wide printf-style formatting into a std::wstring.
//
// Uses msvcrt's _vsnwprintf/_vscwprintf, whatever __USE_MINGW_ANSI_STDIO says
// (libstdc++ turns that on for C++, and MinGW's own printf family then reads a
// plain %s in a wide format as a narrow string). Here, as on Windows: %s and
// %c take wide strings/characters, %hs/%hc narrow ones, %ls wide; %u, %d,
// %4d, %02d, %x as usual; 64-bit integers need %I64d / %I64u / %llu.
// The texts of the text table are written for exactly these semantics.
#pragma once

#include <cstdarg>
#include <string>

namespace win {

// Never truncates; an invalid format yields an empty string.
std::wstring FormatW(const wchar_t* fmt, ...);
std::wstring FormatV(const wchar_t* fmt, va_list args);

} // namespace win
