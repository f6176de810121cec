#include "tests/support/testenv.h"

#include <cstdio>
#include <cstring>

namespace testenv {

std::string TempDir() {
    char buf[MAX_PATH + 1] = {};
    GetTempPathA(sizeof buf, buf);
    return buf;
}

std::wstring TempDirW() { return Widen(TempDir()); }

std::string LogPath() { return TempDir() + "xellog_QOR_ZAF\\XelQuendral.log"; }

void EnableLog() { CreateDirectoryA((TempDir() + "xellog_QOR_ZAF").c_str(), nullptr); }

void DisableLog() {
    DeleteFileA(LogPath().c_str());
    RemoveDirectoryA((TempDir() + "xellog_QOR_ZAF").c_str());
}

std::string ReadLog() { return ReadFileBytes(Widen(LogPath())); }

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string all = ReadLog();
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(all.substr(pos));
            break;
        }
        lines.push_back(all.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

bool LogHas(const std::string& text) { return ReadLog().find(text) != std::string::npos; }

size_t LogCount(const std::string& text) {
    std::string all = ReadLog();
    size_t n = 0;
    for (size_t p = all.find(text); p != std::string::npos; p = all.find(text, p + text.size())) ++n;
    return n;
}

std::wstring BinDir() { return QUENDRAL_BIN_DIR; }
std::wstring TestDataDir() { return QUENDRAL_TESTDATA_DIR; }
std::wstring TestBinDir() { return QUENDRAL_TEST_BIN_DIR; }

std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return n == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return {};
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

void MakeDirs(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace testenv
