#include "stubs/skf/keyfiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace softskf {

namespace {

std::string ThisModuleDir() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModuleDir), &self);
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(std::string s) {
    for (auto& c : s) c = Lower(c);
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool EndsWithKey(const std::string& name) {
    return name.size() > 4 && SameTextNoCase(name.substr(name.size() - 4), ".key");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Profile files are ANSI unless they carry a Unicode byte-order mark.
std::string ToAnsi(const std::string& raw) {
    std::wstring wide;
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        wide.assign(reinterpret_cast<const wchar_t*>(raw.data() + 2), (raw.size() - 2) / 2);
    } else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        int n = MultiByteToWideChar(CP_UTF8, 0, raw.data() + 3, static_cast<int>(raw.size() - 3), nullptr, 0);
        wide.resize(static_cast<size_t>(n));
        if (n > 0) MultiByteToWideChar(CP_UTF8, 0, raw.data() + 3, static_cast<int>(raw.size() - 3), &wide[0], n);
    } else {
        return raw;
    }
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

} // namespace

std::string KeyDir() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableA("SOFTSKF_DIR", buf, sizeof buf);
    if (n > 0 && n < sizeof buf) {
        std::string dir(buf, n);
        while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
        return dir;
    }
    return ThisModuleDir() + "\\keys";
}

std::string LibraryIni() { return KeyDir() + "\\token.ini"; }

Ini Ini::Load(const std::string& path) {
    Ini ini;
    ini.path_ = path;
    std::string raw;
    if (!ReadWholeFile(path, &raw)) return ini;
    ini.exists_ = true;
    std::string text = ToAnsi(raw);
    std::map<std::string, std::string>* section = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = LowerText(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            section = &ini.sections_[name];
            continue;
        }
        size_t eq = line.find('=');
        if (!section || eq == std::string::npos) continue;
        std::string key = LowerText(Trim(line.substr(0, eq)));
        section->emplace(key, Unquote(Trim(line.substr(eq + 1))));  // the first one wins
    }
    return ini;
}

std::string Ini::Get(const std::string& section, const std::string& name, const std::string& def) const {
    auto s = sections_.find(LowerText(section));
    if (s == sections_.end()) return def;
    auto v = s->second.find(LowerText(name));
    return v == s->second.end() ? def : v->second;
}

int Ini::GetInt(const std::string& section, const std::string& name, int def) const {
    std::string v = Get(section, name);
    if (v.empty()) return def;
    char* end = nullptr;
    long x = strtol(v.c_str(), &end, 0);
    return end == v.c_str() ? def : static_cast<int>(x);
}

bool IniPut(const std::string& file, const std::string& section, const std::string& name, const std::string& value) {
    bool quote = false;
    if (!value.empty()) {
        char first = value.front(), last = value.back();
        quote = first == ' ' || first == '\t' || last == ' ' || last == '\t' ||
                ((first == '"' || first == '\'') && value.size() > 1 && last == first);
    }
    std::string stored = quote ? "\"" + value + "\"" : value;
    // Wine keeps parsed profile files in a per-process cache refreshed by the
    // file's write time, so a change another process made within the same tick
    // could be written back over. The documented all-null call drops the
    // cached copy first (Windows has nothing to drop).
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
    return WritePrivateProfileStringA(section.c_str(), name.c_str(), stored.c_str(), file.c_str()) != FALSE;
}

std::vector<KeyFile> ListKeys() {
    std::vector<KeyFile> keys;
    std::string dir = KeyDir();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.key").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return keys;
    std::vector<std::string> files;
    do {
        // "*.key" also matches longer extensions through short names on Windows.
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWithKey(fd.cFileName))
            files.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
    for (const auto& f : files) {
        KeyFile k;
        k.file = dir + "\\" + f;
        Ini ini = Ini::Load(k.file);
        // A writer rewriting the file leaves it empty for a moment.
        for (int attempt = 0; attempt < 5 && ini.Exists() && ini.Get("device", "name").empty(); ++attempt) {
            Sleep(2);
            ini = Ini::Load(k.file);
        }
        k.name = ini.Get("device", "name");
        if (k.name.empty()) continue;
        k.present = IsPresent(ini);
        k.ini = ini;
        keys.push_back(k);
    }
    return keys;
}

bool FindKey(const char* name, KeyFile* out) {
    if (!name) return false;
    for (const auto& k : ListKeys()) {
        if (SameTextNoCase(k.name, name)) {
            *out = k;
            return true;
        }
    }
    return false;
}

bool IsPresent(const Ini& key) { return key.Exists() && key.GetInt("device", "present", 1) != 0; }

bool SameTextNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::vector<std::string> SplitList(const std::string& commaList) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= commaList.size()) {
        size_t comma = commaList.find(',', pos);
        if (comma == std::string::npos) comma = commaList.size();
        std::string item = Trim(commaList.substr(pos, comma - pos));
        if (!item.empty()) out.push_back(item);
        pos = comma + 1;
    }
    return out;
}

std::string ResolveBeside(const std::string& keyFile, const std::string& relative) {
    bool absolute = (relative.size() > 1 && relative[1] == ':') || (!relative.empty() && relative[0] == '\\');
    if (absolute) return relative;
    size_t slash = keyFile.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : keyFile.substr(0, slash + 1)) + relative;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    // Shared with writers: a test may be rewriting the file right now.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) bytes->append(buf, n);
    CloseHandle(h);
    return true;
}

bool ParseHex(const std::string& hex, std::string* bytes) {
    std::string h = Trim(hex);
    if (h.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < h.size(); i += 2) {
        int hi = HexDigit(h[i]), lo = HexDigit(h[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

ULONG FaultFor(const Ini& key, const char* function, const std::vector<std::string>& qualifiers) {
    std::vector<std::string> names;
    for (size_t n = qualifiers.size(); n > 0; --n) {
        std::string name = function;
        for (size_t i = 0; i < n; ++i) name += "." + qualifiers[i];
        names.push_back(name);
    }
    names.push_back(function);
    const Ini library = Ini::Load(LibraryIni());
    for (const Ini* file : {&key, &library}) {
        for (const auto& name : names) {
            std::string v = file->Get("faults", name);
            if (v.empty()) continue;
            ULONG code = strtoul(v.c_str(), nullptr, 0);
            if (code != 0) return code;
        }
    }
    return 0;
}

} // namespace softskf
