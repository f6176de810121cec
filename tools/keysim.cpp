// keysim: plays the system and the family's tools against a running Quendral.
//
//   keysim [--hwnd 0xHANDLE] plug <id>          key <id> present, CD-ROM interface arrival broadcast
//   keysim [--hwnd 0xHANDLE] pull <id>          key <id> absent, removal broadcast
//   keysim [--hwnd 0xHANDLE] copydata <code> <dwData> <id>
//                                               a family tool's WM_COPYDATA with the key's ANSI name
//   keysim [--hwnd 0xHANDLE] session <code>     WM_WTSSESSION_CHANGE (7 lock, 8 unlock, ...)
//   keysim find                                 prints the running instance's window
//
// <id> names the software token's key file <SOFTSKF_DIR>\<id>.key (without
// SOFTSKF_DIR: the folder "keys" beside this program, where the token looks
// too). The window is the one carrying the instance property, unless --hwnd
// names one. Exit codes: 0 sent, 1 usage, 2 no window, 3 key file unusable.
#include "app/instance.h"

#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const GUID kCdromInterface = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

int Usage() {
    fprintf(stderr,
            "usage: keysim [--hwnd 0xHANDLE] plug <id> | pull <id> | copydata <code> <dwData> <id> | "
            "session <code> | find\n");
    return 1;
}

std::wstring KeyFolder() {
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(L"SOFTSKF_DIR", buf, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) return buf;
    GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
    std::wstring dir = buf;
    size_t slash = dir.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring(L".") : dir.substr(0, slash)) + L"\\keys";
}

std::wstring KeyFile(const std::wstring& id) { return KeyFolder() + L"\\" + id + L".key"; }

// The key's device name, upper-cased as the system's broadcast carries it.
bool ReadDeviceName(const std::wstring& file, std::wstring* name) {
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    wchar_t buf[1024] = {};
    GetPrivateProfileStringW(L"device", L"name", L"", buf, 1024, file.c_str());
    std::wstring n = buf;
    for (wchar_t& c : n)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (n.empty()) return false;
    *name = n;
    return true;
}

bool SetPresent(const std::wstring& file, bool present) {
    return WritePrivateProfileStringW(L"device", L"present", present ? L"1" : L"0", file.c_str()) != FALSE;
}

LRESULT SendInterfaceBroadcast(HWND hwnd, WPARAM event, const std::wstring& name) {
    const size_t off = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const size_t size = off + (name.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned long long> storage((size + 7) / 8, 0);  // 8-byte aligned
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    rec->dbcc_size = static_cast<DWORD>(size);
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = kCdromInterface;
    memcpy(rec->dbcc_name, name.c_str(), name.size() * sizeof(wchar_t));
    return SendMessageW(hwnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(rec));
}

HWND FindInstance() {
    HWND found = nullptr;
    EnumWindows(FindRunningInstance, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);

    HWND hwnd = nullptr;
    if (args.size() >= 2 && args[0] == L"--hwnd") {
        hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(args[1].c_str(), nullptr, 0)));
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage();
    const std::wstring cmd = args[0];

    if (!hwnd) hwnd = FindInstance();
    if (cmd == L"find") {
        if (!hwnd) return 2;
        printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
        return 0;
    }
    if (!hwnd || !IsWindow(hwnd)) {
        fprintf(stderr, "keysim: no running instance\n");
        return 2;
    }

    if ((cmd == L"plug" || cmd == L"pull") && args.size() == 2) {
        std::wstring file = KeyFile(args[1]);
        std::wstring name;
        if (!ReadDeviceName(file, &name)) {
            fprintf(stderr, "keysim: no device name in %ls\n", file.c_str());
            return 3;
        }
        bool plug = cmd == L"plug";
        if (!SetPresent(file, plug)) return 3;
        LRESULT r = SendInterfaceBroadcast(hwnd, plug ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, name);
        printf("%ls %ls: result %lld\n", cmd.c_str(), name.c_str(), static_cast<long long>(r));
        return 0;
    }
    if (cmd == L"copydata" && args.size() == 4) {
        WPARAM code = static_cast<WPARAM>(wcstoul(args[1].c_str(), nullptr, 0));
        ULONG_PTR dwData = static_cast<ULONG_PTR>(wcstoull(args[2].c_str(), nullptr, 0));
        std::wstring name;
        if (!ReadDeviceName(KeyFile(args[3]), &name)) return 3;
        int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::vector<char> ansi(static_cast<size_t>(n > 0 ? n : 1), 0);
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi.data(), n, nullptr, nullptr);
        COPYDATASTRUCT cds;
        cds.dwData = dwData;
        cds.cbData = static_cast<DWORD>(ansi.size());  // with the terminating NUL
        cds.lpData = ansi.data();
        LRESULT r = SendMessageW(hwnd, WM_COPYDATA, code, reinterpret_cast<LPARAM>(&cds));
        printf("copydata %u: result %lld\n", static_cast<unsigned>(code), static_cast<long long>(r));
        return 0;
    }
    if (cmd == L"session" && args.size() == 2) {
        WPARAM code = static_cast<WPARAM>(wcstoul(args[1].c_str(), nullptr, 0));
        DWORD session = 0;
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
        LRESULT r = SendMessageW(hwnd, WM_WTSSESSION_CHANGE, code, static_cast<LPARAM>(session));
        printf("session %u: result %lld\n", static_cast<unsigned>(code), static_cast<long long>(r));
        return 0;
    }
    return Usage();
}
