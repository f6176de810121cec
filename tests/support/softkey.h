// Writes the software token's key files (see stubs/skf/README.md) for tests,
// and reads back the state the token keeps in them.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace softkey {

struct ContainerSpec {
    std::string name;
    std::string signDer;  // DER bytes; empty: no signature certificate
    std::string exchDer;  // DER bytes; empty: no exchange certificate
};

struct AppSpec {
    std::string name = "APP1";
    std::string userPin = "12345678";
    int userMax = 6;
    int userRemain = 6;
    bool userDefault = false;
    std::string soPin = "88888888";
    int soMax = 10;
    int soRemain = 10;
    std::vector<ContainerSpec> containers;
};

struct KeySpec {
    std::string id = "key1";  // file stem; also builds the default device path
    std::string name;         // device path; empty: DevicePath(id)
    bool present = true;
    std::string label = "Test Key";
    std::string serial = "SN0001";
    std::string manufacturer = "Vestra";
    std::string oemHex = "7F000001";
    std::vector<AppSpec> apps{AppSpec{}};
    std::vector<std::pair<std::string, std::string>> faults;  // function[.qualifier] -> "0x..."
};

// The upper-case device-interface path of a key, as an arrival broadcast carries it.
std::string DevicePath(const std::string& id);
std::wstring DevicePathW(const std::string& id);

// This process's key folder (created on first use, under the process's temp
// folder) and SOFTSKF_DIR pointing at it.
std::wstring KeyDir();

void WriteKey(const KeySpec& key);
void RemoveKey(const std::string& id);
void SetPresent(const std::string& id, bool present);
void SetValue(const std::string& id, const std::string& section, const std::string& name, const std::string& value);
std::string ReadValue(const std::string& id, const std::string& section, const std::string& name);

// token.ini of the key folder (read when the library fills its table).
void WriteLibraryConfig(const std::string& emptySlots, const std::string& funclistResult = "");
// A [faults] entry of token.ini, applying to every key; the only way to make
// SKF_EnumDev fail. Written after WriteLibraryConfig, which starts the file anew.
void SetLibraryFault(const std::string& function, const std::string& code);

struct OpenCounts {
    ULONG devices = 0;
    ULONG applications = 0;
    ULONG containers = 0;
};
// Connections the loaded software token holds open (via its test-only export).
OpenCounts GetOpenCounts();

} // namespace softkey
