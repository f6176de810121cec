// Helper process: builds the text table for the LCID given (or the system's)
// and writes every entry as UTF-8 "key<TAB>text" lines, with \r, \n, \t and
// \\ escaped, after a first line "language=<id>".
// Usage: text_dump.exe <lcid|system> <output file>
#include "text/langtext.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::string Escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    std::wstring which = argv[1];
    if (which != L"system") qtext::SetLcidForTest(static_cast<LCID>(wcstoul(argv[1], nullptr, 0)));
    FILE* f = _wfopen(argv[2], L"wb");
    if (!f) return 3;
    fprintf(f, "language=%d\n", GetTextLanguage());
    for (const std::wstring& key : qtext::TableKeys())
        fprintf(f, "%s\t%s\n", Utf8(key).c_str(), Escaped(Utf8(GetLangText(key.c_str()))).c_str());
    fclose(f);
    return 0;
}
