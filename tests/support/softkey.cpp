#include "tests/support/softkey.h"

#include "tests/support/testenv.h"

#include <cctype>

namespace softkey {

namespace {

std::string KeyFile(const std::string& id) { return testenv::Narrow(KeyDir()) + "\\" + id + ".key"; }

void Put(const std::string& file, const std::string& section, const std::string& name, const std::string& value) {
    WritePrivateProfileStringA(section.c_str(), name.c_str(), value.c_str(), file.c_str());
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) {
        if (!out.empty()) out += ",";
        out += s;
    }
    return out;
}

} // namespace

std::string DevicePath(const std::string& id) {
    std::string up;
    for (char c : id) up += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return "\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#" + up +
           "#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}";
}

std::wstring DevicePathW(const std::string& id) { return testenv::Widen(DevicePath(id)); }

std::wstring KeyDir() {
    static std::wstring dir;
    if (dir.empty()) {
        dir = testenv::TempDirW() + L"keys";
        CreateDirectoryW(dir.c_str(), nullptr);
        SetEnvironmentVariableW(L"SOFTSKF_DIR", dir.c_str());
    }
    return dir;
}

void WriteKey(const KeySpec& key) {
    std::string file = KeyFile(key.id);
    DeleteFileA(file.c_str());
    Put(file, "device", "name", key.name.empty() ? DevicePath(key.id) : key.name);
    Put(file, "device", "present", key.present ? "1" : "0");
    Put(file, "device", "label", key.label);
    Put(file, "device", "serial", key.serial);
    Put(file, "device", "manufacturer", key.manufacturer);
    Put(file, "device", "issuer", key.manufacturer);
    Put(file, "device", "oem", key.oemHex);
    std::vector<std::string> apps;
    for (const auto& a : key.apps) apps.push_back(a.name);
    Put(file, "device", "apps", Join(apps));
    for (const auto& a : key.apps) {
        std::string sec = "app." + a.name;
        Put(file, sec, "user_pin", a.userPin);
        Put(file, sec, "user_max", std::to_string(a.userMax));
        Put(file, sec, "user_remain", std::to_string(a.userRemain));
        Put(file, sec, "user_default", a.userDefault ? "1" : "0");
        Put(file, sec, "so_pin", a.soPin);
        Put(file, sec, "so_max", std::to_string(a.soMax));
        Put(file, sec, "so_remain", std::to_string(a.soRemain));
        std::vector<std::string> names;
        for (const auto& c : a.containers) names.push_back(c.name);
        Put(file, sec, "containers", Join(names));
        for (const auto& c : a.containers) {
            std::string csec = "container." + a.name + "." + c.name;
            std::string base = key.id + "_" + a.name + "_" + c.name;
            if (!c.signDer.empty()) {
                testenv::WriteFileBytes(KeyDir() + L"\\" + testenv::Widen(base + "_sign.der"), c.signDer);
                Put(file, csec, "sign", base + "_sign.der");
            }
            if (!c.exchDer.empty()) {
                testenv::WriteFileBytes(KeyDir() + L"\\" + testenv::Widen(base + "_exch.der"), c.exchDer);
                Put(file, csec, "exchange", base + "_exch.der");
            }
        }
    }
    for (const auto& f : key.faults) Put(file, "faults", f.first, f.second);
}

void RemoveKey(const std::string& id) { DeleteFileA(KeyFile(id).c_str()); }

void SetPresent(const std::string& id, bool present) { Put(KeyFile(id), "device", "present", present ? "1" : "0"); }

void SetValue(const std::string& id, const std::string& section, const std::string& name, const std::string& value) {
    Put(KeyFile(id), section, name, value);
}

std::string ReadValue(const std::string& id, const std::string& section, const std::string& name) {
    char buf[1024] = {};
    GetPrivateProfileStringA(section.c_str(), name.c_str(), "", buf, sizeof buf, KeyFile(id).c_str());
    return buf;
}

void WriteLibraryConfig(const std::string& emptySlots, const std::string& funclistResult) {
    std::string file = testenv::Narrow(KeyDir()) + "\\token.ini";
    DeleteFileA(file.c_str());
    Put(file, "library", "empty_slots", emptySlots);
    if (!funclistResult.empty()) Put(file, "library", "funclist_result", funclistResult);
}

void SetLibraryFault(const std::string& function, const std::string& code) {
    Put(testenv::Narrow(KeyDir()) + "\\token.ini", "faults", function, code);
}

OpenCounts GetOpenCounts() {
    OpenCounts counts;
    HMODULE m = GetModuleHandleA("XelSKF_QOR_ZAF.dll");
    if (!m) return counts;
    typedef ULONG(WINAPI * Fn)(ULONG*, ULONG*, ULONG*);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, "SOFTSKF_GetOpenCounts")));
    if (fn) fn(&counts.devices, &counts.applications, &counts.containers);
    return counts;
}

} // namespace softkey
