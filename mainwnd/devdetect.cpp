#include "mainwnd/devdetect.h"

#include "log/log.h"
#include "token/devlist.h"
#include "token/keyops.h"
#include "token/textconv.h"
#include "token/tokenlib.h"
#include "win/sync.h"

#include <dbt.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

const wchar_t kKeyPattern[] = L"VEN_VESTRA&PROD_KYREL_QOR&REV_";

namespace {

// {53F56308-B6BF-11D0-94F2-00A0C91EFB8B}
const GUID kCdromInterface = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

const BYTE kOemCode[3] = {0x00, 0x00, 0x01};

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the filter record is 32 bytes on both targets");

std::atomic<int> g_failAllocations{0};

win::CriticalSection& DevEventLock() {
    static win::CriticalSection cs;  // csDevEvent
    return cs;
}

std::vector<DevEvent>& Queue() {
    static std::vector<DevEvent> queue;  // vectDevEvent
    return queue;
}

// Longest name we look at; the pattern test needs the whole name, the event
// takes at most 259 units of it.
constexpr size_t kMaxNameUnits = 32768;

// The interface name of a broadcast, read no further than the record's own size.
bool ReadInterfaceName(const DEV_BROADCAST_HDR* hdr, std::wstring* wide, std::string* ansi) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (hdr->dbch_size <= nameOffset) return false;
    const size_t bytes = hdr->dbch_size - nameOffset;
    const auto* rec = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(hdr);

    const wchar_t* w = rec->dbcc_name;
    size_t units = bytes / sizeof(wchar_t);
    if (units > kMaxNameUnits) units = kMaxNameUnits;
    size_t len = 0;
    while (len < units && w[len] != 0) ++len;
    wide->assign(w, len);

    const char* a = reinterpret_cast<const char*>(rec->dbcc_name);
    size_t alen = 0;
    size_t abytes = bytes > kMaxNameUnits ? kMaxNameUnits : bytes;
    while (alen < abytes && a[alen] != 0) ++alen;
    ansi->assign(a, alen);
    return true;
}

// Finds the key pattern: the UTF-16 name upper-cased, else the name read as an
// ANSI string (a sender that filled the ANSI record), taken as it is. On a hit
// `path` holds the text to queue.
bool MatchKeyPath(const DEV_BROADCAST_HDR* hdr, std::wstring* path) {
    std::wstring wide;
    std::string ansi;
    if (!ReadInterfaceName(hdr, &wide, &ansi)) return false;
    for (wchar_t& c : wide) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');  // as _wcsupr in the C locale
    }
    if (wide.find(kKeyPattern) != std::wstring::npos) {
        *path = wide;
        return true;
    }
    if (ansi.empty()) return false;
    int need = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (need <= 0) return false;
    std::wstring converted(static_cast<size_t>(need), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &converted[0], need);
    if (converted.find(kKeyPattern) == std::wstring::npos) return false;
    *path = converted;
    return true;
}

void PushFrontDevEvent(const DevEvent& ev) {
    win::Lock lock(DevEventLock());
    Queue().insert(Queue().begin(), ev);
}

} // namespace

bool MakeDevEvent(BYTE come, const wchar_t* path, DevEvent* ev) {
    if (!path || !ev) return false;
    size_t len = wcsnlen(path, kDevPathUnits);
    if (len >= kDevPathUnits) return false;
    memset(ev, 0, sizeof *ev);
    ev->bCome = come;
    memcpy(ev->szDevPath, path, len * sizeof(wchar_t));
    return true;
}

DevEventGuard::DevEventGuard() { DevEventLock().Enter(); }
DevEventGuard::~DevEventGuard() { DevEventLock().Leave(); }

void PushDevEvent(const DevEvent& ev) { Queue().push_back(ev); }

void ClearDevEvents() {
    win::Lock lock(DevEventLock());
    Queue().clear();
}

bool PopDevEvent(DevEvent* ev) {
    win::Lock lock(DevEventLock());
    std::vector<DevEvent>& q = Queue();
    if (q.empty()) return false;
    *ev = q.front();
    q.erase(q.begin());
    return true;
}

std::vector<DevEvent> SnapshotDevEvents() {
    win::Lock lock(DevEventLock());
    return Queue();
}

wchar_t* CopyPathForMessage(const wchar_t* path) {
    if (!path) return nullptr;
    if (g_failAllocations.load() > 0) {
        --g_failAllocations;
        return nullptr;
    }
    size_t len = wcslen(path);
    auto* copy = static_cast<wchar_t*>(calloc(len + 1, sizeof(wchar_t)));
    if (copy) memcpy(copy, path, len * sizeof(wchar_t));
    return copy;
}

void DeliverToWindow(HWND hwnd, UINT message, wchar_t* path) {
    if (!IsWindow(hwnd)) {
        free(path);
        return;
    }
    SendMessageW(hwnd, message, 0, reinterpret_cast<LPARAM>(path));
}

BOOL OnDeviceChange(WPARAM eventType, LPARAM eventData) {
    if (eventType != DBT_DEVICEARRIVAL && eventType != DBT_DEVICEREMOVECOMPLETE) return TRUE;
    if (!eventData) return TRUE;
    const auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(eventData);
    // Volumes, ports and handles come with the same event types but carry no interface name.
    if (hdr->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;

    std::wstring path;
    if (!MatchKeyPath(hdr, &path)) return FALSE;
    DevEvent ev;
    if (!MakeDevEvent(eventType == DBT_DEVICEARRIVAL ? 1 : 0, path.c_str(), &ev)) {
        LogError("OnDeviceChange path too long,len=%u", static_cast<unsigned>(path.size()));
        return FALSE;
    }

    if (eventType == DBT_DEVICEARRIVAL) {
        BYTE oem[128] = {};
        ULONG len = 32;
        ULONG rv = GetDevOemInfo(ev.szDevPath, oem, &len);
        if (rv != 0) {
            LogError("GetDevOemInfo error,rv=0x%08x", static_cast<unsigned>(rv));
            return FALSE;
        }
        if (memcmp(oem + 1, kOemCode, sizeof kOemCode) != 0) {
            LogError("GetDevOemInfo OemInfo error,rv=0x%08x", static_cast<unsigned>(-1));
            // The library reports the length; never dump past our buffer.
            LogHex(oem, static_cast<int>(len > sizeof oem ? sizeof oem : len), "OEMINFO:");
            return FALSE;
        }
        LogInfo("OnDeviceChange Come");
    } else {
        // The key is gone and cannot be asked.
        LogInfo("OnDeviceChange Leave");
    }
    DevEventGuard guard;
    PushDevEvent(ev);
    return TRUE;
}

void ScanPresentDevs(DetectWindowOps& ops) {
    wchar_t names[2048];
    memset(names, 0, sizeof names);
    ULONG size = sizeof names;
    ULONG rv = EnumPresentKeys(&size, names);
    size_t pushed = 0;
    if (rv == 0 && size > 0) {
        size_t units = size < 2048 ? size : 2048;
        DevEventGuard guard;
        size_t pos = 0;
        while (pos < units && names[pos] != 0) {
            const wchar_t* name = names + pos;
            size_t len = wcsnlen(name, units - pos);
            DevEvent ev;
            if (MakeDevEvent(1, name, &ev)) {
                PushDevEvent(ev);
                ++pushed;
            } else {
                LogError("ScanPresentDevs path too long,len=%u", static_cast<unsigned>(len));
            }
            pos += len + 1;
        }
    }
    if (pushed > 0) return;
    // No key listed (a list of only its terminator included), or the
    // enumeration failed: the same as an empty list.
    if (ListGetDevCount() == 0) {
        ops.CloseAllDlgs();
        ops.HideMainWindow();
    }
}

HDEVNOTIFY RegisterDevNotify(HWND hwnd) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kCdromInterface;
    return RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

DevEventWorker::~DevEventWorker() { Stop(); }

ULONG DevEventWorker::Start(DetectWindowOps* ops) {
    if (thread_.Joinable()) return ERROR_BUSY;
    ops_ = ops;
    stopping_ = 0;
    bThreadRun = 1;
    uint32_t rv = thread_.Start(&DevEventWorker::DevEventThread, this);
    if (rv != 0) bThreadRun = 0;
    return rv;
}

void DevEventWorker::Stop() {
    if (!thread_.Joinable()) return;
    stopping_ = 1;
    bThreadRun = 0;
    // The worker may be blocked in SendMessageW to a window of this thread:
    // answer sent messages while waiting, or neither side would move.
    thread_.JoinServingSentMessages();
    ops_ = nullptr;
    stopping_ = 0;
}

DWORD WINAPI DevEventWorker::DevEventThread(void* param) {
    auto* self = static_cast<DevEventWorker*>(param);
    while (self->bThreadRun.load() != 0) {
        DevEvent ev;
        if (!PopDevEvent(&ev)) {
            Sleep(5);
            continue;
        }
        wchar_t* copy = CopyPathForMessage(ev.szDevPath);
        if (!copy) {
            // Out of memory: keep the event at the front and try again.
            PushFrontDevEvent(ev);
            Sleep(5);
            continue;
        }
        self->ops_->Deliver(ev.bCome ? UM_STARTUP : UM_PUPOUT, copy);
        Sleep(5);
    }
    return 0;
}

namespace qdetect {
void FailAllocationsForTest(int count) { g_failAllocations = count; }
}
