// Key arrival and removal detection: broadcast filtering, the event queue,
// the worker's one-at-a-time delivery and its stop, the start-up scan.
#include "mainwnd/detectops.h"
#include "mainwnd/devdetect.h"
#include "mainwnd/tray.h"
#include "tests/mainwnd/uitest.h"
#include "tests/support/softkey.h"
#include "tests/support/testenv.h"
#include "token/devlist.h"
#include "token/tokenlib.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kCdrom = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// Lines of the log that end in "] LEVEL text".
size_t LogLinesEnding(const std::string& level, const std::string& text) {
    size_t n = 0;
    std::string tail = "] " + level + " " + text;
    for (const auto& line : testenv::LogLines())
        if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) ++n;
    return n;
}

std::vector<BYTE> WideRecord(const std::wstring& name, DWORD sizeOverride = 0) {
    const size_t off = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<BYTE> buf(off + (name.size() + 1) * sizeof(wchar_t) + 8, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buf.data());
    rec->dbcc_size = sizeOverride ? sizeOverride : static_cast<DWORD>(off + (name.size() + 1) * sizeof(wchar_t));
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = kCdrom;
    memcpy(rec->dbcc_name, name.c_str(), name.size() * sizeof(wchar_t));
    return buf;
}

std::vector<BYTE> AnsiRecord(const std::string& name) {
    const size_t off = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    std::vector<BYTE> buf(off + name.size() + 1 + 8, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buf.data());
    rec->dbcc_size = static_cast<DWORD>(off + name.size() + 1);
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = kCdrom;
    memcpy(rec->dbcc_name, name.c_str(), name.size());
    return buf;
}

// A volume broadcast is as long as an interface record with a short name, so
// reading it as one would find whatever follows the header.
std::vector<BYTE> VolumeRecord() {
    std::vector<BYTE> buf(256, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_VOLUME*>(buf.data());
    rec->dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
    rec->dbcv_devicetype = DBT_DEVTYP_VOLUME;
    rec->dbcv_unitmask = 1u << 4;
    // Our pattern right behind the volume fields must not be taken for a name.
    const std::wstring ours = softkey::DevicePathW("vol");
    memcpy(buf.data() + sizeof(DEV_BROADCAST_VOLUME), ours.c_str(), ours.size() * sizeof(wchar_t));
    return buf;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string LongPath(size_t units) {
    std::string p = softkey::DevicePath("long");
    while (p.size() < units) p.insert(p.size() - 1, "X");  // grow inside the braces
    return p;
}

enum class Rec { Wide, Ansi, Volume, Null, WideCut };

struct BroadcastCase {
    const char* name;
    WPARAM event;
    Rec rec;
    std::string path;  // what the record carries
    const char* oem;   // the key's OEM bytes (hex); null: no key file
    const char* oemFault;
    BOOL result;
    int queued;  // -1 nothing, else the come flag
    std::string queuedPath;
    std::vector<std::pair<std::string, std::string>> lines;  // (level, text), each exactly once
};

void PrintTo(const BroadcastCase& c, std::ostream* os) { *os << c.name; }

const std::string kOurs = softkey::DevicePath("key1");
const std::string kOther = "\\\\?\\IDE#CDROMHL-DT-ST_DVDRAM#5&2A8C&0&1.0.0#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}";

const BroadcastCase kCases[] = {
    {"ArrivalOfOurKey", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, "7F000001", nullptr, TRUE, 1, kOurs,
     {{"INF", "OnDeviceChange Come"}}},
    {"ArrivalByte0IsNotCompared", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, "00000001AB", nullptr, TRUE, 1, kOurs,
     {{"INF", "OnDeviceChange Come"}}},
    {"ArrivalInLowerCaseQueuesUpperCase", DBT_DEVICEARRIVAL, Rec::Wide, Lower(kOurs), "7F000001", nullptr, TRUE, 1,
     kOurs, {{"INF", "OnDeviceChange Come"}}},
    {"ArrivalOfAnotherVendor", DBT_DEVICEARRIVAL, Rec::Wide, kOther, "7F000001", nullptr, FALSE, -1, "", {}},
    {"ArrivalWithAShortOemAnswer", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, "000001", nullptr, FALSE, -1, "",
     {{"ERR", "GetDevOemInfo OemInfo error,rv=0xffffffff"}, {"Hex", "OEMINFO:\t000001"}}},
    {"ArrivalWithOemBytes000002", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, "00000002", nullptr, FALSE, -1, "",
     {{"ERR", "GetDevOemInfo OemInfo error,rv=0xffffffff"}, {"Hex", "OEMINFO:\t00000002"}}},
    {"ArrivalWithUnreadableOem", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, "7F000001", "0x0A000001", FALSE, -1, "",
     {{"ERR", "GetDevOemInfo error,rv=0x0a000001"}}},
    {"ArrivalOfAKeyThatIsGone", DBT_DEVICEARRIVAL, Rec::Wide, kOurs, nullptr, nullptr, FALSE, -1, "",
     {{"ERR", "GetDevOemInfo error,rv=0x0a000023"}}},
    {"ArrivalFromAnAnsiRecord", DBT_DEVICEARRIVAL, Rec::Ansi, kOurs, "7F000001", nullptr, TRUE, 1, kOurs,
     {{"INF", "OnDeviceChange Come"}}},
    {"VolumeArrivalIsPassedOver", DBT_DEVICEARRIVAL, Rec::Volume, "", "7F000001", nullptr, TRUE, -1, "", {}},
    {"QueryRemoveIsNeverRefused", DBT_DEVICEQUERYREMOVE, Rec::Wide, kOurs, "7F000001", nullptr, TRUE, -1, "", {}},
    {"ArrivalWithoutData", DBT_DEVICEARRIVAL, Rec::Null, "", "7F000001", nullptr, TRUE, -1, "", {}},
    {"NameBeyondTheRecordSizeIsNotRead", DBT_DEVICEARRIVAL, Rec::WideCut, kOurs, "7F000001", nullptr, FALSE, -1, "",
     {}},
    {"RemovalOfAnUnknownKeyAsksNothing", DBT_DEVICEREMOVECOMPLETE, Rec::Wide, softkey::DevicePath("nokey"), nullptr,
     nullptr, TRUE, 0, softkey::DevicePath("nokey"), {{"INF", "OnDeviceChange Leave"}}},
    {"RemovalInLowerCase", DBT_DEVICEREMOVECOMPLETE, Rec::Wide, Lower(kOurs), nullptr, nullptr, TRUE, 0, kOurs,
     {{"INF", "OnDeviceChange Leave"}}},
    {"RemovalOfAnotherVendor", DBT_DEVICEREMOVECOMPLETE, Rec::Wide, kOther, nullptr, nullptr, FALSE, -1, "", {}},
    {"RemovalWith259UnitsFits", DBT_DEVICEREMOVECOMPLETE, Rec::Wide, LongPath(259), nullptr, nullptr, TRUE, 0,
     LongPath(259), {{"INF", "OnDeviceChange Leave"}}},
    {"RemovalWith260UnitsIsRefused", DBT_DEVICEREMOVECOMPLETE, Rec::Wide, LongPath(260), nullptr, nullptr, FALSE, -1,
     "", {{"ERR", "OnDeviceChange path too long,len=260"}}},
    {"ArrivalWith600UnitsIsRefused", DBT_DEVICEARRIVAL, Rec::Wide, LongPath(600), "7F000001", nullptr, FALSE, -1, "",
     {{"ERR", "OnDeviceChange path too long,len=600"}}},
};

class BroadcastTest : public ::testing::TestWithParam<BroadcastCase> {
protected:
    void SetUp() override {
        testenv::EnableLog();
        ClearDevEvents();
    }
};

TEST_P(BroadcastTest, QueuesOrDrops) {
    const BroadcastCase& c = GetParam();
    if (c.oem) {
        softkey::KeySpec key;
        key.oemHex = c.oem;
        if (c.oemFault) key.faults.push_back({"SKF_GetOEMInfo", c.oemFault});
        softkey::WriteKey(key);
    } else {
        softkey::KeyDir();  // an empty key folder: the key is not there
    }

    std::vector<BYTE> rec;
    switch (c.rec) {
    case Rec::Wide: rec = WideRecord(testenv::Widen(c.path)); break;
    case Rec::WideCut: {
        // The size ends the name before the pattern.
        rec = WideRecord(testenv::Widen(c.path),
                         static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 20 * sizeof(wchar_t)));
        break;
    }
    case Rec::Ansi: rec = AnsiRecord(c.path); break;
    case Rec::Volume: rec = VolumeRecord(); break;
    case Rec::Null: break;
    }
    LPARAM data = rec.empty() ? 0 : reinterpret_cast<LPARAM>(rec.data());

    EXPECT_EQ(c.result, OnDeviceChange(c.event, data));

    std::vector<DevEvent> queued = SnapshotDevEvents();
    if (c.queued < 0) {
        EXPECT_TRUE(queued.empty());
    } else {
        ASSERT_EQ(1u, queued.size());
        EXPECT_EQ(c.queued, queued[0].bCome);
        EXPECT_EQ(testenv::Widen(c.queuedPath), std::wstring(queued[0].szDevPath));
        // The rest of the path buffer is zero.
        size_t len = wcslen(queued[0].szDevPath);
        for (size_t i = len; i < kDevPathUnits; ++i) ASSERT_EQ(0, queued[0].szDevPath[i]) << i;
    }

    size_t expectedLines = 0;
    for (const auto& l : c.lines) {
        EXPECT_EQ(1u, LogLinesEnding(l.first, l.second)) << l.first << " " << l.second << "\n" << testenv::ReadLog();
        ++expectedLines;
    }
    // Nothing else is written by the handler itself (the OEM query traces its own lines).
    size_t own = 0;
    for (const auto& line : testenv::LogLines())
        if (line.find("] INF ") != std::string::npos || line.find("] ERR ") != std::string::npos ||
            line.find("] Hex ") != std::string::npos)
            ++own;
    EXPECT_EQ(expectedLines, own) << testenv::ReadLog();
}

INSTANTIATE_TEST_SUITE_P(Table, BroadcastTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BroadcastCase>& i) { return std::string(i.param.name); });

// ---- worker and queue --------------------------------------------------------------

class RecordingOps : public DetectWindowOps {
public:
    void Deliver(UINT message, wchar_t* path) override {
        messages.push_back(message);
        paths.push_back(path);
        free(path);
    }
    void CloseAllDlgs() override { ++closeAll; }
    void HideMainWindow() override { ++hide; }
    std::vector<UINT> messages;
    std::vector<std::wstring> paths;
    int closeAll = 0;
    int hide = 0;
};

void Push(BYTE come, const std::wstring& path) {
    DevEvent ev;
    ASSERT_TRUE(MakeDevEvent(come, path.c_str(), &ev));
    DevEventGuard guard;
    PushDevEvent(ev);
}

double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Ends the process if a stop hangs, so the failure is reported at once.
class Watchdog {
public:
    explicit Watchdog(DWORD ms) : ms_(ms) {
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

private:
    static DWORD WINAPI Run(void* p) {
        auto* self = static_cast<Watchdog*>(p);
        if (WaitForSingleObject(self->done_, self->ms_) == WAIT_TIMEOUT) {
            fprintf(stderr, "watchdog: the stop hung\n");
            fflush(stderr);
            ExitProcess(3);
        }
        return 0;
    }
    DWORD ms_;
    HANDLE done_;
    HANDLE thread_;
};

TEST(DevEventWorker, ClearingTheRunFlagWithAnEmptyQueueEndsTheWorkerAtOnce) {
    ClearDevEvents();
    RecordingOps ops;
    DevEventWorker worker;
    std::vector<double> samples;
    for (int i = 0; i < 9; ++i) {
        ASSERT_EQ(0u, worker.Start(&ops));
        Sleep(20 + 3 * i);  // stop at different points of the 5 ms poll
        double t0 = NowMs();
        worker.Stop();
        samples.push_back(NowMs() - t0);
        EXPECT_FALSE(worker.Running());
    }
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    printf("stop with an empty queue (ms):");
    for (double v : samples) printf(" %.2f", v);
    printf("; median %.2f\n", sorted[4]);
    // One 5 ms poll plus scheduling; the median keeps a loaded machine's
    // occasional hiccup from deciding.
    EXPECT_LT(sorted[4], 30.0);
    EXPECT_TRUE(ops.messages.empty());
}

TEST(DevEventWorker, DeliversKeysOneAtATimeInArrivalOrder) {
    testenv::EnableLog();
    ClearDevEvents();
    softkey::KeySpec a;
    a.id = "keya";
    softkey::WriteKey(a);
    softkey::KeySpec b;
    b.id = "keyb";
    softkey::WriteKey(b);

    struct Seen {
        std::wstring path;
        size_t queuedWhileHandling;
        double start, end;
    };
    std::vector<Seen> seen;
    uitest::TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
        if (msg != UM_STARTUP && msg != UM_PUPOUT) return false;
        auto* path = reinterpret_cast<wchar_t*>(lp);
        Seen s{path, SnapshotDevEvents().size(), NowMs(), 0};
        Sleep(150);  // a slow key reading
        s.end = NowMs();
        seen.push_back(s);
        free(path);
        result = 0;
        return true;
    });
    class WindowOps : public DetectWindowOps {
    public:
        explicit WindowOps(HWND h) : hwnd(h) {}
        void Deliver(UINT m, wchar_t* p) override { DeliverToWindow(hwnd, m, p); }
        void CloseAllDlgs() override {}
        void HideMainWindow() override {}
        HWND hwnd;
    } ops(window.Hwnd());

    DevEventWorker worker;
    ASSERT_EQ(0u, worker.Start(&ops));
    // Both broadcasts arrive before the window handles anything.
    auto ra = WideRecord(softkey::DevicePathW("keya"));
    auto rb = WideRecord(softkey::DevicePathW("keyb"));
    ASSERT_TRUE(OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(ra.data())));
    ASSERT_TRUE(OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(rb.data())));
    EXPECT_TRUE(uitest::PumpUntil([&] { return seen.size() == 2; }, 5000));
    worker.Stop();

    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(softkey::DevicePathW("keya"), seen[0].path);
    EXPECT_EQ(softkey::DevicePathW("keyb"), seen[1].path);
    // The second was still queued while the first was handled, and was sent only after.
    EXPECT_EQ(1u, seen[0].queuedWhileHandling);
    EXPECT_EQ(0u, seen[1].queuedWhileHandling);
    EXPECT_GE(seen[1].start, seen[0].end);
    EXPECT_EQ(2u, LogLinesEnding("INF", "OnDeviceChange Come"));
}

TEST(DevEventWorker, StopWhileADeliveryWaitsForTheWindowDoesNotHang) {
    ClearDevEvents();
    DevEventWorker worker;
    bool sawStopping = false;
    int handled = 0;
    uitest::TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
        if (msg != UM_STARTUP) return false;
        // What the main dialog does while it is being torn down: take the copy, do nothing.
        sawStopping = worker.Stopping();
        ++handled;
        free(reinterpret_cast<void*>(lp));
        result = 0;
        return true;
    });
    class WindowOps : public DetectWindowOps {
    public:
        explicit WindowOps(HWND h) : hwnd(h) {}
        void Deliver(UINT m, wchar_t* p) override {
            blocked = 1;
            DeliverToWindow(hwnd, m, p);
        }
        void CloseAllDlgs() override {}
        void HideMainWindow() override {}
        HWND hwnd;
        std::atomic<int> blocked{0};
    } ops(window.Hwnd());

    ASSERT_EQ(0u, worker.Start(&ops));
    Push(1, softkey::DevicePathW("key1"));
    Push(1, softkey::DevicePathW("key2"));
    // This thread does not pump: the worker stays blocked in SendMessageW.
    for (int i = 0; i < 400 && !ops.blocked; ++i) Sleep(5);
    ASSERT_TRUE(ops.blocked);
    Sleep(50);
    EXPECT_EQ(0, handled);

    Watchdog dog(10000);
    double t0 = NowMs();
    worker.Stop();
    double spent = NowMs() - t0;
    printf("stop with a pending delivery: %.2f ms\n", spent);
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(1, handled);  // the pending one; the worker ends before the next
    EXPECT_TRUE(sawStopping);
    EXPECT_LT(spent, 1000.0);
    EXPECT_EQ(1u, SnapshotDevEvents().size());
    ClearDevEvents();
    EXPECT_TRUE(SnapshotDevEvents().empty());
}

TEST(DevEventWorker, StopWaitsForAHandlerThatIgnoresTheStop) {
    ClearDevEvents();
    DevEventWorker worker;
    int handled = 0;
    uitest::TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
        if (msg != UM_PUPOUT) return false;
        Sleep(300);  // a full removal handling
        ++handled;
        free(reinterpret_cast<void*>(lp));
        result = 0;
        return true;
    });
    class WindowOps : public DetectWindowOps {
    public:
        explicit WindowOps(HWND h) : hwnd(h) {}
        void Deliver(UINT m, wchar_t* p) override {
            blocked = 1;
            DeliverToWindow(hwnd, m, p);
        }
        void CloseAllDlgs() override {}
        void HideMainWindow() override {}
        HWND hwnd;
        std::atomic<int> blocked{0};
    } ops(window.Hwnd());
    ASSERT_EQ(0u, worker.Start(&ops));
    Push(0, softkey::DevicePathW("key1"));
    for (int i = 0; i < 400 && !ops.blocked; ++i) Sleep(5);
    ASSERT_TRUE(ops.blocked);

    Watchdog dog(10000);
    double t0 = NowMs();
    worker.Stop();
    double spent = NowMs() - t0;
    EXPECT_EQ(1, handled);
    EXPECT_GE(spent, 250.0);
    EXPECT_LT(spent, 2000.0);
}

TEST(DevEventWorker, ClearingTheQueueDropsEventsNotYetDelivered) {
    ClearDevEvents();
    class SlowOps : public RecordingOps {
    public:
        void Deliver(UINT m, wchar_t* p) override {
            inside = 1;
            Sleep(200);
            RecordingOps::Deliver(m, p);
            inside = 0;
        }
        std::atomic<int> inside{0};
    } ops;
    DevEventWorker worker;
    Push(1, L"A" + softkey::DevicePathW("a"));
    Push(0, L"B" + softkey::DevicePathW("b"));
    Push(1, L"C" + softkey::DevicePathW("c"));
    ASSERT_EQ(0u, worker.Start(&ops));
    for (int i = 0; i < 400 && !ops.inside; ++i) Sleep(5);
    ClearDevEvents();  // what a session lock does
    Sleep(400);
    worker.Stop();
    ASSERT_EQ(1u, ops.messages.size());
    EXPECT_EQ(UM_STARTUP, ops.messages[0]);
    EXPECT_EQ(L"A" + softkey::DevicePathW("a"), ops.paths[0]);
    EXPECT_TRUE(SnapshotDevEvents().empty());
}

TEST(DevEventWorker, AFailedPathCopyKeepsTheEventForTheNextRound) {
    ClearDevEvents();
    RecordingOps ops;
    DevEventWorker worker;
    Push(0, softkey::DevicePathW("a"));
    Push(1, softkey::DevicePathW("b"));
    qdetect::FailAllocationsForTest(3);
    ASSERT_EQ(0u, worker.Start(&ops));
    for (int i = 0; i < 400 && ops.messages.size() < 2; ++i) Sleep(5);
    worker.Stop();
    ASSERT_EQ(2u, ops.messages.size());
    EXPECT_EQ(UM_PUPOUT, ops.messages[0]);
    EXPECT_EQ(softkey::DevicePathW("a"), ops.paths[0]);
    EXPECT_EQ(UM_STARTUP, ops.messages[1]);
    EXPECT_EQ(softkey::DevicePathW("b"), ops.paths[1]);
}

TEST(DevEventWorker, PathCopyIsZeroFilledAndTerminated) {
    std::wstring p = softkey::DevicePathW("key1");
    wchar_t* copy = CopyPathForMessage(p.c_str());
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(p, std::wstring(copy));
    EXPECT_EQ(0, copy[p.size()]);
    EXPECT_GE(_msize(copy), (p.size() + 1) * sizeof(wchar_t));
    free(copy);
}

// ---- start-up scan --------------------------------------------------------------------

std::vector<std::wstring> LibraryOrder() {
    wchar_t names[2048] = {};
    ULONG size = sizeof names;
    std::vector<std::wstring> out;
    if (EnumPresentKeys(&size, names) != 0) return out;
    for (size_t pos = 0; pos < size && names[pos]; pos += wcslen(names + pos) + 1) out.push_back(names + pos);
    return out;
}

TEST(ScanPresentDevs, QueuesEveryPresentKeyInTheLibrarysOrder) {
    ClearDevEvents();
    // Written in the opposite order of the library's listing; the third is unplugged.
    softkey::KeySpec k2;
    k2.id = "zkey";
    k2.name = "\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#Mixed#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
    softkey::WriteKey(k2);
    softkey::KeySpec k1;
    k1.id = "akey";
    softkey::WriteKey(k1);
    softkey::KeySpec k3;
    k3.id = "mkey";
    k3.present = false;
    softkey::WriteKey(k3);

    std::vector<std::wstring> order = LibraryOrder();
    ASSERT_EQ(2u, order.size());

    RecordingOps ops;
    ScanPresentDevs(ops);
    std::vector<DevEvent> queued = SnapshotDevEvents();
    ASSERT_EQ(2u, queued.size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(1, queued[i].bCome);
        EXPECT_EQ(order[i], std::wstring(queued[i].szDevPath));
    }
    // In the library's own writing, not upper-cased.
    EXPECT_EQ(testenv::Widen(k2.name), std::wstring(queued[1].szDevPath));
    EXPECT_EQ(0, ops.closeAll);
    EXPECT_EQ(0, ops.hide);
}

TEST(ScanPresentDevs, NoKeyAndAnEmptyListClosesTheDialogsAndHidesTheWindow) {
    ClearDevEvents();
    softkey::KeyDir();
    uitest::TrayRecorder tray(false);
    uitest::StdDialog dialog(L"Quendral", true);
    TrayNotices notices;
    notices.Init(dialog.Hwnd(), LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)));
    notices.allowShow = 1;
    dialog.onClose = [&] { notices.OnClose(); };
    ShowWindow(dialog.Hwnd(), SW_SHOW);
    ASSERT_TRUE(IsWindowVisible(dialog.Hwnd()));

    DialogDetectOps ops(notices);
    ScanPresentDevs(ops);
    EXPECT_TRUE(SnapshotDevEvents().empty());
    EXPECT_FALSE(IsWindowVisible(dialog.Hwnd()));
    EXPECT_EQ(1u, tray.Count(NIM_DELETE));
}

TEST(ScanPresentDevs, AFailingEnumerationCountsAsNoKey) {
    ClearDevEvents();
    softkey::KeySpec k;
    softkey::WriteKey(k);
    softkey::WriteLibraryConfig("SKF_EnumDev");
    RecordingOps ops;
    ScanPresentDevs(ops);
    EXPECT_TRUE(SnapshotDevEvents().empty());
    EXPECT_EQ(1, ops.closeAll);
    EXPECT_EQ(1, ops.hide);
}

TEST(ScanPresentDevs, NoKeyButKeysStillListedDoesNothing) {
    ClearDevEvents();
    softkey::KeyDir();
    InitDevListLock();
    {
        DevListGuard guard;
        DevListStorage().push_back(std::make_unique<DevRecord>());
    }
    RecordingOps ops;
    ScanPresentDevs(ops);
    EXPECT_EQ(0, ops.closeAll);
    EXPECT_EQ(0, ops.hide);
    {
        DevListGuard guard;
        DevListStorage().clear();
    }
    DeleteDevListLock();
}

TEST(RegisterDevNotify, RegistersARealWindowForCdromInterfaces) {
    uitest::TestWindow window;
    HDEVNOTIFY h = RegisterDevNotify(window.Hwnd());
    ASSERT_NE(nullptr, h);
    EXPECT_TRUE(UnregisterDeviceNotification(h));
    EXPECT_EQ(nullptr, RegisterDevNotify(nullptr));
}

} // namespace
