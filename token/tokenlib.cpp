#include "token/tokenlib.h"

#include "log/log.h"
#include "token/results.h"

#include <cstring>

namespace {

const char kTokenDll[] = "XelSKF_QOR_ZAF.dll";

// Frees the library at process exit.
struct TokenLibOwner {
    TokenLib lib;
    TokenLibOwner() {
        lib.module = nullptr;
        memset(&lib.table, 0, sizeof lib.table);
        Load();
    }
    ~TokenLibOwner() {
        if (lib.module) {
            FreeLibrary(lib.module);
            lib.module = nullptr;
        }
    }
    void Load() {
        lib.module = LoadLibraryA(kTokenDll);
        if (!lib.module) {
            LogError("load %s error,rv=0x%08x", kTokenDll, static_cast<unsigned>(GetLastError()));
            return;
        }
        auto getList = reinterpret_cast<PFN_SKF_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(lib.module, "SKF_GetFunctionList")));
        if (!getList) {
            LogError("load XelSKF funcList error.");
            return;
        }
        ULONG rv = getList(&lib.table);
        // Whatever the library wrote stays in use, even on failure.
        if (rv != 0) LogError("Get XelSKF funcList error=0x%08x", static_cast<unsigned>(rv));
    }
};

template <typename Fn>
Fn Slot(int index) {
    return reinterpret_cast<Fn>(GetTokenLib().table.slot[index]);
}

} // namespace

TokenLib& GetTokenLib() {
    static TokenLibOwner owner;
    return owner.lib;
}

#define TOK_CALL(pfn, slot, ...)                       \
    do {                                               \
        auto fn = Slot<pfn>(slot);                     \
        if (!fn) return QR_TOKEN_FUNC_MISSING;         \
        return fn(__VA_ARGS__);                        \
    } while (0)

#define TOK_CLOSE(pfn, slot, arg)                      \
    do {                                               \
        auto fn = Slot<pfn>(slot);                     \
        if (fn) fn(arg);                               \
    } while (0)

ULONG TokEnumDev(BOOL presentOnly, char* nameList, ULONG* size) {
    TOK_CALL(PFN_SKF_EnumDev, SLOT_EnumDev, presentOnly, nameList, size);
}
ULONG TokConnectDev(const char* name, DEVHANDLE* dev) {
    TOK_CALL(PFN_SKF_ConnectDev, SLOT_ConnectDev, const_cast<LPSTR>(name), dev);
}
void TokDisConnectDev(DEVHANDLE dev) { TOK_CLOSE(PFN_SKF_DisConnectDev, SLOT_DisConnectDev, dev); }
ULONG TokSetLabel(DEVHANDLE dev, const char* label) {
    TOK_CALL(PFN_SKF_SetLabel, SLOT_SetLabel, dev, const_cast<LPSTR>(label));
}
ULONG TokGetDevInfo(DEVHANDLE dev, DEVINFO* info) { TOK_CALL(PFN_SKF_GetDevInfo, SLOT_GetDevInfo, dev, info); }
ULONG TokGetPINInfo(HAPPLICATION app, ULONG pinType, ULONG* maxRetry, ULONG* remainRetry, BOOL* defaultPin) {
    TOK_CALL(PFN_SKF_GetPINInfo, SLOT_GetPINInfo, app, pinType, maxRetry, remainRetry, defaultPin);
}
ULONG TokEnumApplication(DEVHANDLE dev, char* nameList, ULONG* size) {
    TOK_CALL(PFN_SKF_EnumApplication, SLOT_EnumApplication, dev, nameList, size);
}
ULONG TokOpenApplication(DEVHANDLE dev, const char* name, HAPPLICATION* app) {
    TOK_CALL(PFN_SKF_OpenApplication, SLOT_OpenApplication, dev, const_cast<LPSTR>(name), app);
}
void TokCloseApplication(HAPPLICATION app) { TOK_CLOSE(PFN_SKF_CloseApplication, SLOT_CloseApplication, app); }
ULONG TokOpenContainer(HAPPLICATION app, const char* name, HCONTAINER* container) {
    TOK_CALL(PFN_SKF_OpenContainer, SLOT_OpenContainer, app, const_cast<LPSTR>(name), container);
}
void TokCloseContainer(HCONTAINER container) {
    TOK_CLOSE(PFN_SKF_CloseContainer, SLOT_CloseContainer, container);
}
ULONG TokEnumContainer(HAPPLICATION app, char* nameList, ULONG* size) {
    TOK_CALL(PFN_SKF_EnumContainer, SLOT_EnumContainer, app, nameList, size);
}
ULONG TokExportCertificate(HCONTAINER container, BOOL sign, BYTE* cert, ULONG* certLen) {
    TOK_CALL(PFN_SKF_ExportCertificate, SLOT_ExportCertificate, container, sign, cert, certLen);
}
ULONG TokGetOemInfo(DEVHANDLE dev, BYTE* oem, ULONG* len) {
    TOK_CALL(PFN_SKF_GetOemInfo, SLOT_GetOemInfo, dev, oem, len);
}

ULONG EnumPresentKeys(ULONG* size, wchar_t* out) {
    if (!size) return 1;
    char list[2048];
    memset(list, 0, sizeof list);
    ULONG bytes = sizeof list;
    if (TokEnumDev(TRUE, list, &bytes) != 0) {
        *size = 0;
        return 2;
    }
    // A library reporting more than it was given must not make us read past the buffer.
    if (bytes > sizeof list) bytes = sizeof list;
    if (*size < bytes) {
        *size = bytes;
        return 3;
    }
    if (!out) {
        *size = bytes;
        return 0;
    }
    if (bytes == 0) {
        *size = 0;
        return 0;
    }
    // One ANSI byte never yields more than one UTF-16 unit, and the caller's
    // size was checked against the byte count above.
    int units = MultiByteToWideChar(CP_ACP, 0, list, static_cast<int>(bytes), out, static_cast<int>(bytes));
    *size = units > 0 ? static_cast<ULONG>(units) : 0;
    return 0;
}
