#include "app/instance.h"

const wchar_t kInstanceCheckerName[] = L"CInstanceChecker TAVO Main Dialog (For MGR QOR_ZAF)";
const wchar_t kInstancePropName[] = L"{99820952-62B0-CB01-922A-C27501349-QOR-ZAF}";

namespace {

constexpr DWORD kBlockSize = 4;

struct FirstUnowned {
    HWND found = nullptr;
};

BOOL CALLBACK PickUnowned(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FirstUnowned*>(lp);
    if (GetWindow(hwnd, GW_OWNER) == nullptr && GetParent(hwnd) == nullptr) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

BOOL CALLBACK FindRunningInstance(HWND hwnd, LPARAM lParam) {
    if (reinterpret_cast<UINT_PTR>(GetPropW(hwnd, kInstancePropName)) == kInstancePropValue) {
        if (lParam) *reinterpret_cast<HWND*>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

CInstanceChecker::CInstanceChecker(const wchar_t* name) : name_(name ? name : L"") {
    dataLock_.Create(nullptr);
    startupMutex_.Create(name_.c_str());
}

CInstanceChecker::~CInstanceChecker() {
    mapping_.Reset();
    executeLock_.reset();
    // The two mutexes close with their owners.
}

std::wstring CInstanceChecker::GetMappingName() const { return name_ + L"_CInstanceChecker_MMF"; }

HWND CInstanceChecker::GetWindowToRecord() const {
    FirstUnowned f;
    EnumThreadWindows(GetCurrentThreadId(), PickUnowned, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

void CInstanceChecker::LockStartup() {
    if (executeLock_) return;  // already ours; a second wait would need a second release
    executeLock_ = std::make_unique<win::MutexLock>(startupMutex_);
}

bool CInstanceChecker::IsAnotherInstanceRunning() const {
    win::Handle m(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, GetMappingName().c_str()));
    return m.Valid();
}

HWND CInstanceChecker::GetFirstInstanceWindow() {
    win::Handle m(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, GetMappingName().c_str()));
    if (!m) return nullptr;
    HWND hwnd = nullptr;
    {
        win::MappedView view(MapViewOfFile(m.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kBlockSize));
        if (view) {
            win::MutexLock lock(dataLock_);
            LONG value = *static_cast<volatile LONG*>(view.Get());
            hwnd = static_cast<HWND>(LongToHandle(value));
        }
    }
    m.Reset();
    executeLock_.reset();
    return hwnd;
}

bool CInstanceChecker::RecordMainWindow(HWND hwnd) {
    if (IsAnotherInstanceRunning()) return false;
    win::Handle m(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize,
                                     GetMappingName().c_str()));
    if (!m) return false;
    // Someone made it between our check and now: theirs, not ours to overwrite.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
    {
        win::MappedView view(MapViewOfFile(m.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kBlockSize));
        // Without a view the block would announce an instance nobody can reach.
        if (!view) return false;
        win::MutexLock lock(dataLock_);
        *static_cast<volatile LONG*>(view.Get()) = HandleToLong(hwnd);
    }
    mapping_ = std::move(m);
    executeLock_.reset();
    return true;
}
