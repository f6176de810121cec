#include "text/langtext.h"

#include <map>

namespace {

struct TextRow {
    const wchar_t* key;
    const wchar_t* english;
    const wchar_t* simplified;
    const wchar_t* traditional;
};

#include "text/texttable.inc"

// std::wstring orders by plain code-unit value, which is what lookups need.
using TextMap = std::map<std::wstring, std::wstring>;

struct LangTextTable {
    int languageId = kLangEnglish;
    TextMap texts;
};

bool g_lcidOverridden = false;
LCID g_lcidForTest = 0;

// Only the UI thread looks texts up, so a plain flag guards the first build.
bool g_built = false;

LangTextTable& Table() {
    static LangTextTable table;  // destroyed at process exit
    return table;
}

void SelectLanguage(LangTextTable& table) {
    LCID lcid = g_lcidOverridden ? g_lcidForTest : GetSystemDefaultLCID();
    table.languageId = LanguageForLcid(lcid);
}

void BuildTextTable() {
    LangTextTable& table = Table();
    table.texts.clear();
    SelectLanguage(table);
    for (const TextRow& row : kTextRows) {
        const wchar_t* text = table.languageId == kLangEnglish      ? row.english
                              : table.languageId == kLangSimplified ? row.simplified
                                                                    : row.traditional;
        table.texts.emplace(row.key, text);
    }
    g_built = true;
}

LangTextTable& BuiltTable() {
    if (!g_built) BuildTextTable();
    return Table();
}

} // namespace

int LanguageForLcid(LCID lcid) {
    switch (lcid) {
    case 0x0804:  // Chinese, PRC
    case 0x1004:  // Chinese, Singapore
        return kLangSimplified;
    case 0x0404:  // Chinese, Taiwan
    case 0x0C04:  // Chinese, Hong Kong SAR
    case 0x1404:  // Chinese, Macao SAR
        return kLangTraditional;
    default:
        return kLangEnglish;
    }
}

std::wstring GetLangText(const wchar_t* key) {
    if (!key) return std::wstring();
    const TextMap& texts = BuiltTable().texts;
    auto it = texts.find(key);
    return it == texts.end() ? std::wstring() : it->second;
}

int GetTextLanguage() { return BuiltTable().languageId; }

namespace qtext {

void SetLcidForTest(LCID lcid) {
    g_lcidOverridden = true;
    g_lcidForTest = lcid;
}

std::vector<std::wstring> TableKeys() {
    std::vector<std::wstring> keys;
    for (const auto& entry : BuiltTable().texts) keys.push_back(entry.first);
    return keys;
}

} // namespace qtext
