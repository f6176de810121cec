#include "token/keyops.h"

#include "log/log.h"
#include "token/devlist.h"
#include "token/keystate.h"
#include "token/results.h"
#include "token/textconv.h"
#include "token/tokenlib.h"

#include <cstring>
#include <cwchar>

namespace {

const char kUiDll[] = "XelUI_QOR_ZAF.dll";

// PIN-dialog outcomes after which the key's shared state may no longer hold.
constexpr ULONG kUiResultClearsState1 = 0xD0100107;
constexpr ULONG kUiResultClearsState2 = 0xD0106983;

// Loaded on first use, freed at process exit.
struct UiLibOwner {
    UiLib lib;
    UiLibOwner() {
        lib.module = nullptr;
        memset(&lib.table, 0, sizeof lib.table);
        lib.module = LoadLibraryA(kUiDll);
        if (!lib.module) {
            LogError("load %s error,rv=0x%08x", kUiDll, static_cast<unsigned>(GetLastError()));
            return;
        }
        auto getList = reinterpret_cast<PFN_UI_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(lib.module, "UI_GetFunctionList")));
        if (!getList) {
            LogError("load XelUI funcList error=0x%08x", static_cast<unsigned>(GetLastError()));
            return;
        }
        ULONG rv = getList(&lib.table);
        if (rv != 0) LogError("Get XelUI funcList error=0x%08x", static_cast<unsigned>(rv));
    }
    ~UiLibOwner() {
        if (lib.module) {
            FreeLibrary(lib.module);
            lib.module = nullptr;
        }
    }
    UiLibOwner(const UiLibOwner&) = delete;
    UiLibOwner& operator=(const UiLibOwner&) = delete;
};

// A key connection, disconnected when it goes out of scope.
class Connection {
public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ULONG Open(const char* name, DEVHANDLE* out) {
        ULONG rv = TokConnectDev(name, &dev_);
        if (rv != 0) dev_ = nullptr;
        if (out) *out = dev_;
        return rv;
    }
    void Close() {
        if (dev_) TokDisConnectDev(dev_);
        dev_ = nullptr;
    }
    DEVHANDLE Get() const { return dev_; }

private:
    DEVHANDLE dev_ = nullptr;
};

// An opened application, closed when it goes out of scope.
class OpenedApp {
public:
    OpenedApp() = default;
    ~OpenedApp() { Close(); }
    OpenedApp(const OpenedApp&) = delete;
    OpenedApp& operator=(const OpenedApp&) = delete;
    ULONG Open(DEVHANDLE dev, const char* name, HAPPLICATION* out) {
        ULONG rv = TokOpenApplication(dev, name, &app_);
        if (rv != 0) app_ = nullptr;
        if (out) *out = app_;
        return rv;
    }
    void Close() {
        if (app_) TokCloseApplication(app_);
        app_ = nullptr;
    }
    HAPPLICATION Get() const { return app_; }

private:
    HAPPLICATION app_ = nullptr;
};

// The key's path in the ANSI code page, into a zero-filled buffer.
template <size_t N>
void PathToAnsi(const wchar_t* path, char (&out)[N]) {
    memset(out, 0, N);
    int bytes = 0;
    WideToAnsi(path, static_cast<int>(wcslen(path)), out, static_cast<int>(N), &bytes);
}

// Reads the key's application list; the extra zero byte keeps the first name
// terminated even when the library fills the whole buffer.
struct AppList {
    char names[1024 + 1];
    ULONG Read(DEVHANDLE dev) {
        memset(names, 0, sizeof names);
        ULONG size = sizeof names - 1;
        return TokEnumApplication(dev, names, &size);
    }
    const char* First() const { return names; }
};

enum class PinDialog { Verify = 0, Change = 1 };

// Connects, opens the first application, runs the library's dialog, closes
// everything again and clears the shared slot for the outcomes that ask for it.
ULONG RunPinDialog(const DevRecord& record, HWND owner, ULONG mode, PinDialog which) {
    PinDialogRequest request;
    memset(&request, 0, sizeof request);
    request.owner = owner;
    request.mode = mode;
    PathToAnsi(record.devPath, request.deviceName);

    ULONG result;
    {
        Connection key;
        ULONG rv = key.Open(request.deviceName, &request.device);
        if (rv != 0) return rv;
        AppList apps;
        rv = apps.Read(key.Get());
        if (rv != 0) return rv;
        if (apps.First()[0] == '\0') return 1;
        OpenedApp app;
        rv = app.Open(key.Get(), apps.First(), &request.application);
        if (rv != 0) return rv;
        auto dialog = reinterpret_cast<PFN_UI_PinDialog>(GetUiLib().table.slot[static_cast<int>(which)]);
        result = dialog ? dialog(&request) : QR_UI_FUNC_MISSING;
    }  // application closed, key disconnected

    bool clear = result == kUiResultClearsState1 || result == kUiResultClearsState2 ||
                 (which == PinDialog::Change && result == 0);
    if (clear) ClearKeyState(request.deviceName);
    return result;
}

} // namespace

UiLib& GetUiLib() {
    static UiLibOwner owner;
    return owner.lib;
}

ULONG VerifyKeyPin(ULONG index, HWND owner, ULONG mode) {
    DevRecord* record = nullptr;
    {
        DevListGuard lock;
        if (index >= ListGetDevCount()) return QR_NOT_FOUND;
        ULONG rv = ListGetDevByIndex(index, &record);
        if (rv != 0) return rv;
    }
    return RunPinDialog(*record, owner, mode, PinDialog::Verify);
}

ULONG ChangeKeyPin(HWND owner, ULONG index) {
    DevRecord* record = nullptr;
    {
        DevListGuard lock;
        if (index >= ListGetDevCount()) return QR_NOT_FOUND;
        DevListItems& items = DevListStorage();
        if (index >= items.size()) return QR_NOT_FOUND;
        record = items[index].get();
    }
    return RunPinDialog(*record, owner, kPinModeVerify, PinDialog::Change);
}

ULONG RenameKey(ULONG index, const wchar_t* newName) {
    if (!newName) return QR_NOT_FOUND;
    DevRecord* record = nullptr;
    {
        DevListGuard lock;
        if (index >= ListGetDevCount()) return QR_NOT_FOUND;
        ULONG rv = ListGetDevByIndex(index, &record);
        if (rv != 0) return rv;
    }
    char devName[256];
    char label[256];
    PathToAnsi(record->devPath, devName);
    PathToAnsi(newName, label);

    ULONG rv;
    {
        Connection key;
        rv = key.Open(devName, nullptr);
        if (rv != 0) return rv;
        rv = TokSetLabel(key.Get(), label);
    }  // disconnected whatever the result
    if (rv != 0) return rv;
    DevListGuard lock;
    wcsncpy(record->devLabel, newName, 255);
    record->devLabel[255] = L'\0';
    return 0;
}

ULONG QueryDefaultPin(const wchar_t* path, BYTE* isDefault) {
    DevListGuard lock;
    if (isDefault) *isDefault = 0;
    if (!path) {
        LogError("ListInsertDev DevPath Error=0x%08x", static_cast<unsigned>(QR_NULL_PATH));
        return QR_NULL_PATH;
    }
    if (!isDefault) return QR_BAD_PARAM;
    char devName[1024];
    PathToAnsi(path, devName);
    Connection key;
    ULONG rv = key.Open(devName, nullptr);
    if (rv != 0) {
        LogError("SKF_ConnectDev Error=0x%08x", static_cast<unsigned>(rv));
        return rv;
    }
    AppList apps;
    rv = apps.Read(key.Get());
    if (rv != 0) {
        LogError("SKF_EnumApplication Error=0x%08x", static_cast<unsigned>(rv));
        return rv;
    }
    OpenedApp app;
    rv = app.Open(key.Get(), apps.First(), nullptr);
    if (rv != 0) {
        LogError("SKF_OpenApplication(%s) Error=0x%08x", apps.First(), static_cast<unsigned>(rv));
        return rv;
    }
    BOOL defaultPin = FALSE;
    rv = TokGetPINInfo(app.Get(), SKF_USER_PIN, nullptr, nullptr, &defaultPin);
    if (rv != 0) {
        LogError("SKF_GetPINInfo(%s) Error=0x%08x", apps.First(), static_cast<unsigned>(rv));
        return rv;
    }
    *isDefault = defaultPin ? 1 : 0;
    return 0;
}

ULONG GetDevOemInfo(const wchar_t* path, BYTE* oem, ULONG* len) {
    FuncTracer trace("GetDevOemInfo");
    if (!path || !oem || !len || *len == 0) return QR_NOT_FOUND;
    char devName[260];
    PathToAnsi(path, devName);
    Connection key;
    ULONG rv = key.Open(devName, nullptr);
    if (rv != 0) return rv;
    return TokGetOemInfo(key.Get(), oem, len);
}
