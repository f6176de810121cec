// The software token's files: the key folder, the key files in it and the
// library-wide token.ini (format in README.md). Nothing is cached between
// calls: a call reads each file it needs once, so a test can edit a key while
// it is in use and every call sees one consistent state of each file.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace softskf {

// SOFTSKF_DIR, or the folder "keys" next to this DLL; no trailing separator.
std::string KeyDir();
std::string LibraryIni();

// One profile file as read now. Lookups follow GetPrivateProfileString:
// names ignore case, values are trimmed and lose one pair of enclosing quotes.
class Ini {
public:
    static Ini Load(const std::string& path);
    bool Exists() const { return exists_; }
    const std::string& Path() const { return path_; }
    std::string Get(const std::string& section, const std::string& name, const std::string& def = "") const;
    int GetInt(const std::string& section, const std::string& name, int def) const;

private:
    std::string path_;
    bool exists_ = false;
    std::map<std::string, std::map<std::string, std::string>> sections_;  // lower-case names
};

// Writes one value back, through the profile functions so that the file stays
// what tests and WritePrivateProfileString produce. Quotes the value when
// reading would otherwise trim or unquote it.
bool IniPut(const std::string& file, const std::string& section, const std::string& name, const std::string& value);

struct KeyFile {
    std::string file;  // full path of the .key file
    std::string name;  // device name
    bool present;
    Ini ini;  // as read for the listing
};

// Every key file with a device name, ordered by file name.
std::vector<KeyFile> ListKeys();
// The key whose device name equals `name` ignoring (ASCII) case.
bool FindKey(const char* name, KeyFile* out);
// False once the file is gone or says present=0.
bool IsPresent(const Ini& key);

bool SameTextNoCase(const std::string& a, const std::string& b);
std::vector<std::string> SplitList(const std::string& commaList);
// The file a [container] entry names, relative to the key file's folder.
std::string ResolveBeside(const std::string& keyFile, const std::string& relative);
bool ReadWholeFile(const std::string& path, std::string* bytes);
// "7F0001" -> bytes; false for an odd length or a non-hex digit.
bool ParseHex(const std::string& hex, std::string* bytes);

// The fault configured for `function` qualified by `qualifiers` (most specific
// first, then shorter, then the plain name), in the key's file, then in
// token.ini. 0 when none. A key that does not exist gives only token.ini's.
ULONG FaultFor(const Ini& key, const char* function, const std::vector<std::string>& qualifiers = {});

} // namespace softskf
