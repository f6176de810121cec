// Software token: stand-in for the vendor's token library, driven by key files
// (README.md). Every call takes one lock, resolves its handle and reads the
// files afresh, so tests can plug keys in and out while the library is in use.
#include "stubs/skf/keyfiles.h"
#include "token/skf.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace softskf;

#ifdef SOFTSKF_NO_FUNCLIST_EXPORT
#define SOFTSKF_FUNCLIST_API
#else
#define SOFTSKF_FUNCLIST_API __declspec(dllexport)
#endif

extern "C" {
SOFTSKF_FUNCLIST_API ULONG WINAPI SKF_GetFunctionList(SkfFunctionTable* table);
__declspec(dllexport) ULONG WINAPI SOFTSKF_GetOpenCounts(ULONG* devices, ULONG* applications, ULONG* containers);
}

namespace {

// No container-specific code in the standard's list; a missing container is a missing file.
constexpr ULONG SAR_FILE_NOT_EXIST = 0x0A000031;
constexpr ULONG DEV_ABSENT_STATE = 0;
constexpr ULONG DEV_PRESENT_STATE = 1;
constexpr size_t kMaxLabel = 32;
constexpr size_t kMinPin = 6;
constexpr size_t kMaxPin = 16;

// ---- handle table ------------------------------------------------------------

enum class Kind { Device, Application, Container };

struct Entry {
    Kind kind;
    std::string file;  // key file
    std::string app;
    std::string container;
};

class CallLock {
public:
    CallLock() { InitializeCriticalSection(&cs_); }
    ~CallLock() { DeleteCriticalSection(&cs_); }
    CallLock(const CallLock&) = delete;
    CallLock& operator=(const CallLock&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

CallLock g_lock;
std::map<ULONG_PTR, Entry> g_handles;
// Never reused, so a closed handle stays unknown. Kept below 2^32: the
// program's PIN-dialog request carries handles in 32-bit fields.
ULONG_PTR g_nextHandle = 0x00510001;

class Guard {
public:
    Guard() { g_lock.Enter(); }
    ~Guard() { g_lock.Leave(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

void* NewHandle(Entry entry) {
    ULONG_PTR id = g_nextHandle++;
    g_handles.emplace(id, std::move(entry));
    return reinterpret_cast<void*>(id);
}

// The entry of a live handle of the given kind and its key file as it is now;
// with needPresent, the key must still be plugged in.
ULONG Resolve(void* handle, Kind kind, Entry* out, Ini* key, bool needPresent = true) {
    auto it = g_handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == g_handles.end() || it->second.kind != kind) return SAR_INVALIDHANDLEERR;
    *key = Ini::Load(it->second.file);
    if (needPresent && !IsPresent(*key)) return SAR_DEVICE_REMOVED;
    *out = it->second;
    return SAR_OK;
}

// Closing works on a pulled-out key too, so callers can always clean up.
ULONG CloseKind(void* handle, Kind kind, const char* function) {
    Entry e;
    Ini key;
    ULONG rv = Resolve(handle, kind, &e, &key, false);
    if (rv != SAR_OK) return rv;
    std::vector<std::string> q;
    if (kind != Kind::Device) q.push_back(e.app);
    if (kind == Kind::Container) q.push_back(e.container);
    if (ULONG f = FaultFor(key, function, q)) return f;
    g_handles.erase(reinterpret_cast<ULONG_PTR>(handle));
    return SAR_OK;
}

// ---- helpers -------------------------------------------------------------------

// The standard's size protocol: null buffer asks for the size; a short buffer
// gets SAR_BUFFER_TOO_SMALL with the size set.
ULONG PutBytes(const std::string& bytes, BYTE* buf, ULONG* size) {
    ULONG need = static_cast<ULONG>(bytes.size());
    if (!buf) {
        *size = need;
        return SAR_OK;
    }
    if (*size < need) {
        *size = need;
        return SAR_BUFFER_TOO_SMALL;
    }
    memcpy(buf, bytes.data(), need);
    *size = need;
    return SAR_OK;
}

// Names each ended by a zero byte, the list ended by an empty name.
ULONG PutList(const std::vector<std::string>& names, char* buf, ULONG* size) {
    std::string list;
    for (const auto& n : names) {
        list += n;
        list += '\0';
    }
    list += '\0';
    return PutBytes(list, reinterpret_cast<BYTE*>(buf), size);
}

bool HasControlChars(const char* s) {
    for (; *s; ++s)
        if (static_cast<unsigned char>(*s) < 0x20) return true;
    return false;
}

void CopyField(char* field, size_t width, const std::string& value) {
    memset(field, 0, width);
    memcpy(field, value.data(), value.size() < width ? value.size() : width);
}

SKF_VERSION ParseVersion(const std::string& text) {
    unsigned major = 1, minor = 0;
    sscanf(text.c_str(), "%u.%u", &major, &minor);
    return SKF_VERSION{static_cast<BYTE>(major), static_cast<BYTE>(minor)};
}

std::string AppSection(const Entry& e) { return "app." + e.app; }
std::string ContainerSection(const Entry& e) { return "container." + e.app + "." + e.container; }

struct PinKind {
    const char* prefix;
    const char* defaultPin;
    int defaultMax;
};

bool PinKindOf(ULONG pinType, PinKind* out) {
    if (pinType == SKF_USER_PIN) {
        *out = PinKind{"user_", "12345678", 6};
        return true;
    }
    if (pinType == SKF_ADMIN_PIN) {
        *out = PinKind{"so_", "88888888", 10};
        return true;
    }
    return false;
}

int PinMax(const Entry& e, const Ini& key, const PinKind& k) {
    return key.GetInt(AppSection(e), std::string(k.prefix) + "max", k.defaultMax);
}

// Checks a PIN against the key, keeping the retry count in the file: a wrong
// PIN costs one try, the right one restores them all, none left is locked.
ULONG CheckPin(const Entry& e, const Ini& key, const PinKind& k, const char* pin, ULONG* retry) {
    std::string sec = AppSection(e), p = k.prefix;
    int max = PinMax(e, key, k);
    int remain = key.GetInt(sec, p + "remain", max);
    if (remain <= 0) {
        if (retry) *retry = 0;
        return SAR_PIN_LOCKED;
    }
    if (key.Get(sec, p + "pin", k.defaultPin) != pin) {
        --remain;
        IniPut(e.file, sec, p + "remain", std::to_string(remain));
        if (retry) *retry = static_cast<ULONG>(remain);
        return SAR_PIN_INCORRECT;
    }
    if (remain != max) IniPut(e.file, sec, p + "remain", std::to_string(max));
    if (retry) *retry = static_cast<ULONG>(max);
    return SAR_OK;
}

ULONG CheckNewPin(const char* pin) {
    if (HasControlChars(pin)) return SAR_INVALIDPARAMERR;
    size_t n = strlen(pin);
    return (n < kMinPin || n > kMaxPin) ? SAR_PIN_LEN_RANGE : SAR_OK;
}

// ---- device management ----------------------------------------------------------

ULONG WINAPI EnumDev(BOOL presentOnly, LPSTR nameList, ULONG* size) {
    Guard g;
    if (!size) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(Ini(), "SKF_EnumDev")) return f;
    std::vector<std::string> names;
    for (const auto& k : ListKeys())
        if (!presentOnly || k.present) names.push_back(k.name);
    return PutList(names, nameList, size);
}

ULONG WINAPI ConnectDev(LPSTR name, DEVHANDLE* dev) {
    Guard g;
    if (!name || !dev) return SAR_INVALIDPARAMERR;
    KeyFile key;
    if (!FindKey(name, &key) || !key.present) return SAR_DEVICE_REMOVED;
    if (ULONG f = FaultFor(key.ini, "SKF_ConnectDev")) return f;
    *dev = NewHandle(Entry{Kind::Device, key.file, {}, {}});
    return SAR_OK;
}

ULONG WINAPI DisConnectDev(DEVHANDLE dev) {
    Guard g;
    return CloseKind(dev, Kind::Device, "SKF_DisConnectDev");
}

ULONG WINAPI GetDevState(LPSTR name, ULONG* state) {
    Guard g;
    if (!name || !state) return SAR_INVALIDPARAMERR;
    KeyFile key;
    bool found = FindKey(name, &key);
    if (ULONG f = FaultFor(found ? key.ini : Ini(), "SKF_GetDevState")) return f;
    *state = (found && key.present) ? DEV_PRESENT_STATE : DEV_ABSENT_STATE;
    return SAR_OK;
}

ULONG WINAPI SetLabel(DEVHANDLE dev, LPSTR label) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(dev, Kind::Device, &e, &key)) return rv;
    if (ULONG f = FaultFor(key, "SKF_SetLabel")) return f;
    // Control characters would break the key file's lines.
    if (!label || strlen(label) > kMaxLabel || HasControlChars(label)) return SAR_INVALIDPARAMERR;
    return IniPut(e.file, "device", "label", label) ? SAR_OK : SAR_FILEERR;
}

ULONG WINAPI GetDevInfo(DEVHANDLE dev, DEVINFO* info) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(dev, Kind::Device, &e, &key)) return rv;
    if (!info) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_GetDevInfo")) return f;
    DEVINFO d;
    memset(&d, 0, sizeof d);
    d.Version = ParseVersion(key.Get("device", "version", "1.0"));
    CopyField(d.Manufacturer, sizeof d.Manufacturer, key.Get("device", "manufacturer", "Vestra"));
    CopyField(d.Issuer, sizeof d.Issuer, key.Get("device", "issuer", "Vestra"));
    CopyField(d.Label, sizeof d.Label, key.Get("device", "label"));
    CopyField(d.SerialNumber, sizeof d.SerialNumber, key.Get("device", "serial"));
    d.HWVersion = SKF_VERSION{1, 0};
    d.FirmwareVersion = SKF_VERSION{1, 0};
    d.AlgSymCap = 0x00000402;   // SM4 ECB/CBC
    d.AlgAsymCap = 0x00020100;  // SM2, RSA
    d.AlgHashCap = 0x00000001;  // SM3
    d.DevAuthAlgId = 0x00000401;
    d.TotalSpace = 65536;
    d.FreeSpace = 32768;
    d.MaxECCBufferSize = 256;
    d.MaxBufferSize = 2048;
    *info = d;
    return SAR_OK;
}

// ---- access control ----------------------------------------------------------------

ULONG WINAPI ChangePIN(HAPPLICATION app, ULONG pinType, LPSTR oldPin, LPSTR newPin, ULONG* retry) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (ULONG f = FaultFor(key, "SKF_ChangePIN", {e.app})) return f;
    PinKind k;
    if (!PinKindOf(pinType, &k)) return SAR_USER_TYPE_INVALID;
    if (!oldPin || !newPin) return SAR_INVALIDPARAMERR;
    if (ULONG rv = CheckNewPin(newPin)) return rv;
    if (ULONG rv = CheckPin(e, key, k, oldPin, retry)) return rv;
    std::string p = k.prefix;
    IniPut(e.file, AppSection(e), p + "pin", newPin);
    IniPut(e.file, AppSection(e), p + "default", "0");
    return SAR_OK;
}

ULONG WINAPI GetPINInfo(HAPPLICATION app, ULONG pinType, ULONG* maxRetry, ULONG* remainRetry, BOOL* defaultPin) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (ULONG f = FaultFor(key, "SKF_GetPINInfo", {e.app})) return f;
    PinKind k;
    if (!PinKindOf(pinType, &k)) return SAR_USER_TYPE_INVALID;
    std::string sec = AppSection(e), p = k.prefix;
    int max = PinMax(e, key, k);
    if (maxRetry) *maxRetry = static_cast<ULONG>(max);
    if (remainRetry) *remainRetry = static_cast<ULONG>(key.GetInt(sec, p + "remain", max));
    if (defaultPin) *defaultPin = key.GetInt(sec, p + "default", 0) != 0 ? TRUE : FALSE;
    return SAR_OK;
}

ULONG WINAPI VerifyPIN(HAPPLICATION app, ULONG pinType, LPSTR pin, ULONG* retry) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (ULONG f = FaultFor(key, "SKF_VerifyPIN", {e.app})) return f;
    PinKind k;
    if (!PinKindOf(pinType, &k)) return SAR_USER_TYPE_INVALID;
    if (!pin) return SAR_INVALIDPARAMERR;
    return CheckPin(e, key, k, pin, retry);
}

ULONG WINAPI UnblockPIN(HAPPLICATION app, LPSTR adminPin, LPSTR newUserPin, ULONG* retry) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (ULONG f = FaultFor(key, "SKF_UnblockPIN", {e.app})) return f;
    if (!adminPin || !newUserPin) return SAR_INVALIDPARAMERR;
    if (ULONG rv = CheckNewPin(newUserPin)) return rv;
    PinKind admin, user;
    PinKindOf(SKF_ADMIN_PIN, &admin);
    PinKindOf(SKF_USER_PIN, &user);
    if (ULONG rv = CheckPin(e, key, admin, adminPin, retry)) return rv;
    std::string sec = AppSection(e);
    IniPut(e.file, sec, "user_pin", newUserPin);
    IniPut(e.file, sec, "user_remain", std::to_string(PinMax(e, key, user)));
    IniPut(e.file, sec, "user_default", "0");
    return SAR_OK;
}

// ---- applications and containers ----------------------------------------------------

std::vector<std::string> AppsOf(const Ini& key) { return SplitList(key.Get("device", "apps")); }

bool Contains(const std::vector<std::string>& names, const char* name) {
    for (const auto& n : names)
        if (n == name) return true;
    return false;
}

ULONG WINAPI EnumApplication(DEVHANDLE dev, LPSTR nameList, ULONG* size) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(dev, Kind::Device, &e, &key)) return rv;
    if (!size) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_EnumApplication")) return f;
    return PutList(AppsOf(key), nameList, size);
}

ULONG WINAPI OpenApplication(DEVHANDLE dev, LPSTR name, HAPPLICATION* app) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(dev, Kind::Device, &e, &key)) return rv;
    if (!name || !app) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_OpenApplication", {name})) return f;
    if (!Contains(AppsOf(key), name)) return SAR_APPLICATION_NOT_EXISTS;
    *app = NewHandle(Entry{Kind::Application, e.file, name, {}});
    return SAR_OK;
}

ULONG WINAPI CloseApplication(HAPPLICATION app) {
    Guard g;
    return CloseKind(app, Kind::Application, "SKF_CloseApplication");
}

std::vector<std::string> ContainersOf(const Entry& e, const Ini& key) {
    return SplitList(key.Get(AppSection(e), "containers"));
}

ULONG WINAPI EnumContainer(HAPPLICATION app, LPSTR nameList, ULONG* size) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (!size) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_EnumContainer", {e.app})) return f;
    return PutList(ContainersOf(e, key), nameList, size);
}

ULONG WINAPI OpenContainer(HAPPLICATION app, LPSTR name, HCONTAINER* container) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(app, Kind::Application, &e, &key)) return rv;
    if (!name || !container) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_OpenContainer", {e.app, name})) return f;
    if (!Contains(ContainersOf(e, key), name)) return SAR_FILE_NOT_EXIST;
    *container = NewHandle(Entry{Kind::Container, e.file, e.app, name});
    return SAR_OK;
}

ULONG WINAPI CloseContainer(HCONTAINER container) {
    Guard g;
    return CloseKind(container, Kind::Container, "SKF_CloseContainer");
}

ULONG WINAPI ExportCertificate(HCONTAINER container, BOOL sign, BYTE* cert, ULONG* certLen) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(container, Kind::Container, &e, &key)) return rv;
    if (!certLen) return SAR_INVALIDPARAMERR;
    const char* which = sign ? "SIGN" : "EXCHANGE";
    if (ULONG f = FaultFor(key, "SKF_ExportCertificate", {e.app, e.container, which})) return f;
    std::string rel = key.Get(ContainerSection(e), sign ? "sign" : "exchange");
    std::string der;
    if (rel.empty() || !ReadWholeFile(ResolveBeside(e.file, rel), &der) || der.empty()) return SAR_CERTNOTFOUNTERR;
    return PutBytes(der, cert, certLen);
}

// ---- vendor slot and the rest --------------------------------------------------------

ULONG WINAPI GetOEMInfo(DEVHANDLE dev, BYTE* oem, ULONG* len) {
    Guard g;
    Entry e;
    Ini key;
    if (ULONG rv = Resolve(dev, Kind::Device, &e, &key)) return rv;
    if (!len) return SAR_INVALIDPARAMERR;
    if (ULONG f = FaultFor(key, "SKF_GetOEMInfo")) return f;
    std::string bytes;
    if (!ParseHex(key.Get("device", "oem", "7F000001"), &bytes)) return SAR_FILEERR;
    return PutBytes(bytes, oem, len);
}

// The stand-in has no session-key, hash or MAC objects; it releases whatever
// handle of its own it is given.
ULONG WINAPI CloseHandleSkf(HANDLE handle) {
    Guard g;
    auto it = g_handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == g_handles.end()) return SAR_INVALIDHANDLEERR;
    g_handles.erase(it);
    return SAR_OK;
}

// Unimplemented functions of the standard. Each takes its real number of
// stack words, so that on i686 (stdcall: the callee pops) a caller's stack
// stays balanced.
template <typename... Words>
ULONG WINAPI NotSupported(Words...) {
    return SAR_NOTSUPPORTYETERR;
}

template <size_t>
using Word = ULONG_PTR;

template <size_t... I>
void* NotSupportedTaking(std::index_sequence<I...>) {
    return reinterpret_cast<void*>(&NotSupported<Word<I>...>);
}

void* NotSupportedFor(int words) {
    switch (words) {
    case 0: return NotSupportedTaking(std::make_index_sequence<0>{});
    case 1: return NotSupportedTaking(std::make_index_sequence<1>{});
    case 2: return NotSupportedTaking(std::make_index_sequence<2>{});
    case 3: return NotSupportedTaking(std::make_index_sequence<3>{});
    case 4: return NotSupportedTaking(std::make_index_sequence<4>{});
    case 5: return NotSupportedTaking(std::make_index_sequence<5>{});
    case 6: return NotSupportedTaking(std::make_index_sequence<6>{});
    case 8: return NotSupportedTaking(std::make_index_sequence<8>{});
    case 10: return NotSupportedTaking(std::make_index_sequence<10>{});
    case 12: return NotSupportedTaking(std::make_index_sequence<12>{});
    default: return nullptr;
    }
}

struct SlotDef {
    const char* name;
    void* impl;  // null: not implemented
    int words;   // stack words of the standard's signature (i686)
};

template <typename Fn>
void* Impl(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

// GM/T 0016 order: device, access control, application, file, container, crypto.
const SlotDef kStandardSlots[] = {
    {"SKF_WaitForDevEvent", nullptr, 3},
    {"SKF_CancelWaitForDevEvent", nullptr, 0},
    {"SKF_EnumDev", Impl(&EnumDev), 3},
    {"SKF_ConnectDev", Impl(&ConnectDev), 2},
    {"SKF_DisConnectDev", Impl(&DisConnectDev), 1},
    {"SKF_GetDevState", Impl(&GetDevState), 2},
    {"SKF_SetLabel", Impl(&SetLabel), 2},
    {"SKF_GetDevInfo", Impl(&GetDevInfo), 2},
    {"SKF_LockDev", nullptr, 2},
    {"SKF_UnlockDev", nullptr, 1},
    {"SKF_Transmit", nullptr, 5},
    {"SKF_ChangeDevAuthKey", nullptr, 3},
    {"SKF_DevAuth", nullptr, 3},
    {"SKF_ChangePIN", Impl(&ChangePIN), 5},
    {"SKF_GetPINInfo", Impl(&GetPINInfo), 5},
    {"SKF_VerifyPIN", Impl(&VerifyPIN), 4},
    {"SKF_UnblockPIN", Impl(&UnblockPIN), 4},
    {"SKF_ClearSecureState", nullptr, 1},
    {"SKF_CreateApplication", nullptr, 8},
    {"SKF_EnumApplication", Impl(&EnumApplication), 3},
    {"SKF_DeleteApplication", nullptr, 2},
    {"SKF_OpenApplication", Impl(&OpenApplication), 3},
    {"SKF_CloseApplication", Impl(&CloseApplication), 1},
    {"SKF_CreateFile", nullptr, 5},
    {"SKF_DeleteFile", nullptr, 2},
    {"SKF_EnumFiles", nullptr, 3},
    {"SKF_GetFileInfo", nullptr, 3},
    {"SKF_ReadFile", nullptr, 6},
    {"SKF_WriteFile", nullptr, 5},
    {"SKF_CreateContainer", nullptr, 3},
    {"SKF_DeleteContainer", nullptr, 2},
    {"SKF_OpenContainer", Impl(&OpenContainer), 3},
    {"SKF_CloseContainer", Impl(&CloseContainer), 1},
    {"SKF_EnumContainer", Impl(&EnumContainer), 3},
    {"SKF_GetContainerType", nullptr, 2},
    {"SKF_ImportCertificate", nullptr, 4},
    {"SKF_ExportCertificate", Impl(&ExportCertificate), 4},
    {"SKF_GenRandom", nullptr, 3},
    {"SKF_GenExtRSAKey", nullptr, 3},
    {"SKF_GenRSAKeyPair", nullptr, 3},
    {"SKF_ImportRSAKeyPair", nullptr, 6},
    {"SKF_RSASignData", nullptr, 5},
    {"SKF_RSAVerify", nullptr, 6},
    {"SKF_RSAExportSessionKey", nullptr, 6},
    {"SKF_ExtRSAPubKeyOperation", nullptr, 6},
    {"SKF_ExtRSAPriKeyOperation", nullptr, 6},
    {"SKF_GenECCKeyPair", nullptr, 3},
    {"SKF_ImportECCKeyPair", nullptr, 2},
    {"SKF_ECCSignData", nullptr, 4},
    {"SKF_ECCVerify", nullptr, 5},
    {"SKF_ECCExportSessionKey", nullptr, 5},
    {"SKF_ExtECCEncrypt", nullptr, 5},
    {"SKF_ExtECCDecrypt", nullptr, 5},
    {"SKF_ExtECCSign", nullptr, 5},
    {"SKF_ExtECCVerify", nullptr, 5},
    {"SKF_GenerateAgreementDataWithECC", nullptr, 6},
    {"SKF_GenerateAgreementDataAndKeyWithECC", nullptr, 10},
    {"SKF_GenerateKeyWithECC", nullptr, 6},
    {"SKF_ExportPublicKey", nullptr, 4},
    {"SKF_ImportSessionKey", nullptr, 5},
    {"SKF_SetSymmKey", nullptr, 4},
    {"SKF_EncryptInit", nullptr, 12},  // BLOCKCIPHERPARAM (44 bytes) by value
    {"SKF_Encrypt", nullptr, 5},
    {"SKF_EncryptUpdate", nullptr, 5},
    {"SKF_EncryptFinal", nullptr, 3},
    {"SKF_DecryptInit", nullptr, 12},
    {"SKF_Decrypt", nullptr, 5},
    {"SKF_DecryptUpdate", nullptr, 5},
    {"SKF_DecryptFinal", nullptr, 3},
    {"SKF_DigestInit", nullptr, 6},
    {"SKF_Digest", nullptr, 5},
    {"SKF_DigestUpdate", nullptr, 3},
    {"SKF_DigestFinal", nullptr, 3},
    {"SKF_MacInit", nullptr, 3},
    {"SKF_Mac", nullptr, 5},
    {"SKF_MacUpdate", nullptr, 3},
    {"SKF_MacFinal", nullptr, 3},
    {"SKF_CloseHandle", Impl(&CloseHandleSkf), 1},
};
constexpr int kStandardSlotCount = static_cast<int>(sizeof kStandardSlots / sizeof kStandardSlots[0]);
static_assert(kStandardSlotCount == 78, "the standard lists 78 functions");

const char kOemSlotName[] = "SKF_GetOEMInfo";

int SlotByName(const std::string& name) {
    for (int i = 0; i < kStandardSlotCount; ++i)
        if (SameTextNoCase(name, kStandardSlots[i].name)) return i;
    if (SameTextNoCase(name, kOemSlotName)) return SLOT_GetOemInfo;
    return -1;
}

// An environment variable that is set, even to nothing, overrides the file.
std::string LibrarySetting(const char* envName, const char* iniName) {
    char buf[4096] = {};
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA(envName, buf, sizeof buf);
    if (n > 0 && n < sizeof buf) return std::string(buf, n);
    if (n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) return {};
    return Ini::Load(LibraryIni()).Get("library", iniName);
}

} // namespace

extern "C" {

ULONG WINAPI SKF_GetFunctionList(SkfFunctionTable* table) {
    Guard g;
    if (!table) return SAR_INVALIDPARAMERR;
    for (int i = 0; i < kSkfSlotCount; ++i) table->slot[i] = nullptr;
    for (int i = 0; i < kStandardSlotCount; ++i) {
        const SlotDef& s = kStandardSlots[i];
        table->slot[i] = s.impl ? s.impl : NotSupportedFor(s.words);
    }
    // Vendor slots other than the OEM query stay null: their signatures are
    // the vendor's, and a guessed one would unbalance an i686 caller's stack.
    table->slot[SLOT_GetOemInfo] = Impl(&GetOEMInfo);

    ULONG result = SAR_OK;
    for (const auto& name : SplitList(LibrarySetting("SOFTSKF_EMPTY_SLOTS", "empty_slots"))) {
        int slot = SlotByName(name);
        if (slot < 0)
            result = SAR_INVALIDPARAMERR;  // a misspelt slot should not pass unnoticed
        else
            table->slot[slot] = nullptr;
    }
    std::string forced = LibrarySetting("SOFTSKF_FUNCLIST_RESULT", "funclist_result");
    if (!forced.empty()) result = strtoul(forced.c_str(), nullptr, 0);
    return result;
}

ULONG WINAPI SOFTSKF_GetOpenCounts(ULONG* devices, ULONG* applications, ULONG* containers) {
    Guard g;
    ULONG n[3] = {0, 0, 0};
    for (const auto& h : g_handles) ++n[static_cast<int>(h.second.kind)];
    if (devices) *devices = n[0];
    if (applications) *applications = n[1];
    if (containers) *containers = n[2];
    return SAR_OK;
}

} // extern "C"
