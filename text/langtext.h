// The three-language text table: every user-visible text by key, in the
// language chosen once per process from the system's default locale.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr int kLangEnglish = 1033;
constexpr int kLangSimplified = 2052;
constexpr int kLangTraditional = 1028;

// The table's language for a system default LCID (the whole LCID is compared).
int LanguageForLcid(LCID lcid);
// A copy of the key's text, or an empty string for a key not in the table.
// Keys compare by exact code units: no case folding, no trimming.
std::wstring GetLangText(const wchar_t* key);
// The language the table was built in (builds it if needed).
int GetTextLanguage();

namespace qtext {
// Test seam: the LCID to use instead of GetSystemDefaultLCID; only before the first lookup.
void SetLcidForTest(LCID lcid);
// The keys of the built table in map order (builds it if needed); for tests and dumps.
std::vector<std::wstring> TableKeys();
}
