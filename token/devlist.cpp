#include "token/devlist.h"

#include "token/results.h"

#include <cwchar>

namespace {

CRITICAL_SECTION g_lock;
bool g_lockReady = false;

DevListItems& Items() {
    static DevListItems items;
    return items;
}

} // namespace

void InitDevListLock() {
    if (g_lockReady) return;
    InitializeCriticalSection(&g_lock);  // critical sections are recursive
    g_lockReady = true;
}

void DeleteDevListLock() {
    if (!g_lockReady) return;
    g_lockReady = false;
    DeleteCriticalSection(&g_lock);
}

void EnterDevListLock() {
    if (g_lockReady) EnterCriticalSection(&g_lock);
}

void LeaveDevListLock() {
    if (g_lockReady) LeaveCriticalSection(&g_lock);
}

DevListItems& DevListStorage() { return Items(); }

ULONG ListGetDevIndex(const wchar_t* path, int* index) {
    DevListGuard guard;
    if (index) *index = -1;
    if (!path) return QR_NULL_PATH;
    const DevListItems& items = Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (_wcsicmp(items[i]->devPath, path) == 0) {
            if (index) *index = static_cast<int>(i);
            return QR_OK;
        }
    }
    return QR_PATH_NOT_LISTED;
}

ULONG ListGetInfoFromDev(const wchar_t* path, DevRecord** record) {
    DevListGuard guard;
    if (record) *record = nullptr;
    const DevListItems& items = Items();
    if (items.empty()) return QR_NOT_FOUND;
    if (!path) return QR_NULL_PATH;
    for (const auto& item : items) {
        if (_wcsicmp(item->devPath, path) == 0) {
            if (record) *record = item.get();
            break;
        }
    }
    return QR_OK;
}

ULONG ListGetDevByIndex(ULONG index, DevRecord** record) {
    DevListGuard guard;
    if (record) *record = nullptr;
    const DevListItems& items = Items();
    if (index >= items.size()) return QR_NOT_FOUND;
    if (record) *record = items[index].get();
    return QR_OK;
}

ULONG ListGetDevCount() {
    DevListGuard guard;
    return static_cast<ULONG>(Items().size());
}
