#include "win/optproc.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace win {
namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
bool g_envRead = false;

std::set<std::string>& Missing() {
    static std::set<std::string> names;
    return names;
}

// Under g_lock (exclusive).
void ReadEnvironmentOnce() {
    if (g_envRead) return;
    g_envRead = true;
    char buf[1024] = {};
    DWORD n = GetEnvironmentVariableA("QUENDRAL_MISSING_PROCS", buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return;
    std::string list(buf, n);
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        std::string name = list.substr(pos, comma - pos);
        if (!name.empty()) Missing().insert(name);
        pos = comma + 1;
    }
}

} // namespace

bool IsProcMadeMissing(const char* name) noexcept {
    if (!name) return false;
    AcquireSRWLockExclusive(&g_lock);
    ReadEnvironmentOnce();
    bool missing = Missing().count(name) != 0;
    ReleaseSRWLockExclusive(&g_lock);
    return missing;
}

FARPROC FindOptionalProc(HMODULE module, const char* name) noexcept {
    if (!module || !name || IsProcMadeMissing(name)) return nullptr;
    return GetProcAddress(module, name);
}

void SetProcMissingForTest(const char* name, bool missing) noexcept {
    if (!name) return;
    AcquireSRWLockExclusive(&g_lock);
    ReadEnvironmentOnce();
    if (missing)
        Missing().insert(name);
    else
        Missing().erase(name);
    ReleaseSRWLockExclusive(&g_lock);
}

void ClearMissingProcsForTest() noexcept {
    AcquireSRWLockExclusive(&g_lock);
    g_envRead = true;
    Missing().clear();
    ReleaseSRWLockExclusive(&g_lock);
}

} // namespace win
