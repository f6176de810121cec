// Reading the current user's stores as they are persisted: every read opens
// the store afresh, in this process or in a new one (certstore_dump.exe), so
// a change that lived only in a store handle's memory cannot pass.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace storecheck {

struct Entry {
    std::string sha1;  // upper-case hex
    bool hasProv = false;
    std::wstring container;
    std::wstring provName;
    DWORD provType = 0;
    DWORD provFlags = 0;
    DWORD keySpec = 0;
    DWORD paramCount = 0;
    DWORD param0Id = 0;
    DWORD param0Flags = 0;
    std::string param0;  // bytes of the first provider parameter
    bool operator<(const Entry& o) const { return sha1 < o.sha1; }
};

enum class Where { ThisProcess, NewProcess };

// The entries of a store, sorted by SHA-1.
std::vector<Entry> Read(const wchar_t* store, Where where = Where::ThisProcess);
// Both ways; fails the current test when they disagree.
std::vector<Entry> ReadBoth(const wchar_t* store);
// Serialised form shared with the dump tool.
std::string Dump(const wchar_t* store);
std::vector<Entry> Parse(const std::string& dump);

// Entries with this certificate (by SHA-1 of its bytes).
std::vector<Entry> WithCert(const std::vector<Entry>& entries, const std::string& der);
std::string Sha1Hex(const std::string& der);
std::vector<std::string> Hashes(const std::vector<Entry>& entries);

// Removes every entry (collect, then delete, then commit).
void Wipe(const wchar_t* store);

// Adds a certificate made from `der`, with a key-provider property when
// provName is given: one parameter of `tag` bytes (none when paramCount is 0).
struct Prov {
    std::wstring provName;
    std::wstring container = L"foreign-container";
    std::string tag;
    DWORD paramCount = 1;
    DWORD keySpec = AT_SIGNATURE;
};
void Add(const wchar_t* store, const std::string& der, const Prov* prov);

// Test certificate bytes from the generated fixtures ("<name>.der").
std::string Cert(const std::string& name);

// "Kyrel QOR_ZAF Certificate " + serial.
std::string Tag(const std::string& serial);
extern const wchar_t kProvName[];

} // namespace storecheck
