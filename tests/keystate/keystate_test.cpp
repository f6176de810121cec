// Shared key-state block and its mutex, against real named kernel objects,
// with a helper process standing in for the family's other tools.
#include "token/keystate.h"
#include "tests/support/testenv.h"
#include "win/handles.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<char>;

std::string UniqueName(const char* what) {
    static int n = 0;
    return std::string("qks-") + what + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++n);
}

// A helper process; waits for it (bounded) and closes its handles at scope end.
class Helper {
public:
    explicit Helper(const std::string& args) {
        std::string cmd = "\"" + testenv::Narrow(testenv::TestBinDir()) + "\\keystate_helper.exe\" " + args;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ADD_FAILURE() << "CreateProcess failed: " << GetLastError() << " for " << cmd;
            return;
        }
        CloseHandle(pi.hThread);
        process_.Reset(pi.hProcess);
    }
    // The exit code, or -1 when it did not end in time.
    int Wait(DWORD ms = 30000) {
        if (!process_ || WaitForSingleObject(process_.Get(), ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return static_cast<int>(code);
    }
    ~Helper() {
        if (process_ && WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.Get(), 1);
    }

private:
    win::Handle process_;
};

struct Event {
    std::string name = UniqueName("event");
    win::Handle h{CreateEventA(nullptr, TRUE, FALSE, name.c_str())};
};

int ProbeLockFromOtherProcess(DWORD ms) { return Helper("probe-lock " + std::to_string(ms)).Wait(); }

// Waits on the mutex from another thread of this process: WAIT_OBJECT_0 means
// nobody (in particular not this thread) still owns it.
DWORD WaitFromOtherThread(HANDLE mutex, DWORD ms) {
    DWORD result = WAIT_FAILED;
    std::thread t([&] {
        result = WaitForSingleObject(mutex, ms);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    });
    t.join();
    return result;
}

Bytes DumpFromOtherProcess(int* rc) {
    std::string file = testenv::TempDir() + UniqueName("dump") + ".bin";
    *rc = Helper("dump \"" + file + "\"").Wait();
    std::string s = testenv::ReadFileBytes(testenv::Widen(file));
    return Bytes(s.begin(), s.end());
}

// A view of the block as this process sees it.
class BlockView {
public:
    BlockView()
        : mapping_(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kKeyStateBlockName)),
          view_(mapping_ ? MapViewOfFile(mapping_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kKeyStateBlockSize)
                         : nullptr) {}
    bool Valid() const { return view_.Valid(); }
    char* Data() const { return static_cast<char*>(view_.Get()); }
    Bytes Copy() const { return Valid() ? Bytes(Data(), Data() + kKeyStateBlockSize) : Bytes(); }
    void Fill(const Bytes& b) const { memcpy(Data(), b.data(), kKeyStateBlockSize); }

private:
    win::Handle mapping_;
    win::MappedView view_;
};

// A block as other tools leave it: every byte of every slot in use.
Bytes BusyBlock() {
    Bytes b(kKeyStateBlockSize);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(0x80 | (i * 7 % 127));
    return b;
}

void PutName(Bytes& block, int slot, const std::string& name, bool terminate = true) {
    memcpy(&block[slot * kKeyStateSlotSize], name.data(), name.size());
    if (terminate) block[slot * kKeyStateSlotSize + name.size()] = '\0';
}

Bytes WithSlotCleared(Bytes block, int slot) {
    if (slot >= 0) memset(&block[slot * kKeyStateSlotSize], 0, kKeyStateSlotSize);
    return block;
}

int FirstDifferentSlot(const Bytes& a, const Bytes& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return static_cast<int>(i / kKeyStateSlotSize);
    return a.size() == b.size() ? -1 : -2;
}

const std::string kKey1 = "\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#KEY1#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}";
const std::string kKey2 = "\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#KEY2#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}";

} // namespace

TEST(KeyStateBlock, CreatedZeroedAndSharedWithOtherProcesses) {
    int rc = 0;
    DumpFromOtherProcess(&rc);
    ASSERT_EQ(2, rc) << "block exists before the test";
    ASSERT_EQ(0u, CreateKeyStateBlock());
    Bytes seen = DumpFromOtherProcess(&rc);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(Bytes(kKeyStateBlockSize, 0), seen);
    BlockView view;
    ASSERT_TRUE(view.Valid());
    strcpy(view.Data() + 3 * kKeyStateSlotSize, kKey1.c_str());
    seen = DumpFromOtherProcess(&rc);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(kKey1, std::string(&seen[3 * kKeyStateSlotSize]));
    // A second call keeps the one block as it is.
    EXPECT_EQ(0u, CreateKeyStateBlock());
    EXPECT_EQ(view.Copy(), DumpFromOtherProcess(&rc));
}

TEST(KeyStateBlock, ExistingBlockOfAnotherToolIsLeftUntouchedAndKeptAlive) {
    Bytes theirs = BusyBlock();
    PutName(theirs, 0, kKey1);
    PutName(theirs, 4, kKey2);
    std::string file = testenv::TempDir() + "theirs.bin";
    ASSERT_TRUE(testenv::WriteFileBytes(testenv::Widen(file), std::string(theirs.begin(), theirs.end())));
    Event ready, quit;
    Helper tool("block " + ready.name + " " + quit.name + " \"" + file + "\"");
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.h.Get(), 30000));

    EXPECT_EQ(0u, CreateKeyStateBlock());
    EXPECT_EQ(theirs, BlockView().Copy());

    // The other tool ends; this program's handle keeps the block and its contents.
    SetEvent(quit.h.Get());
    ASSERT_EQ(0, tool.Wait());
    int rc = 0;
    EXPECT_EQ(theirs, DumpFromOtherProcess(&rc));
    EXPECT_EQ(0, rc);
}

struct ClearCase {
    const char* what;
    std::vector<std::pair<int, std::string>> names;  // slot -> terminated name
    std::vector<std::pair<int, char>> fullSlots;     // slot -> 532 bytes of this letter, no terminator
    std::string name;
    int clearedSlot;  // -1: nothing changes
};

void PrintTo(const ClearCase& c, std::ostream* os) { *os << c.what; }

class ClearKeyStateCases : public ::testing::TestWithParam<ClearCase> {};

TEST_P(ClearKeyStateCases, ZeroesOnlyTheFirstMatchingSlot) {
    const ClearCase& c = GetParam();
    // The program's mutex is opened (not created) and must be free afterwards.
    win::Handle lock(CreateMutexA(nullptr, FALSE, kKeyStateLockName));
    ASSERT_TRUE(lock);
    ASSERT_EQ(0u, CreateKeyStateBlock());
    Bytes before = BusyBlock();
    for (const auto& n : c.names) PutName(before, n.first, n.second);
    for (const auto& f : c.fullSlots) memset(&before[f.first * kKeyStateSlotSize], f.second, kKeyStateSlotSize);
    BlockView view;
    ASSERT_TRUE(view.Valid());
    view.Fill(before);

    ClearKeyState(c.name.c_str());

    Bytes after = view.Copy();
    EXPECT_EQ(c.clearedSlot, FirstDifferentSlot(before, after));
    EXPECT_TRUE(WithSlotCleared(before, c.clearedSlot) == after) << "other bytes changed";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(lock.Get(), 2000));
}

const std::string kFullA(kKeyStateSlotSize, 'A');
const std::string kFullZ(kKeyStateSlotSize, 'Z');

INSTANTIATE_TEST_SUITE_P(
    Slots, ClearKeyStateCases,
    ::testing::Values(
        ClearCase{"OnlySlot", {{2, kKey1}}, {}, kKey1, 2},
        ClearCase{"TwoSlotsFirstOnly", {{1, kKey1}, {3, kKey1}}, {}, kKey1, 1},
        ClearCase{"OtherKeysStay", {{0, kKey2}, {4, kKey1}}, {}, kKey1, 4},
        ClearCase{"NameNotInAnySlot", {{0, kKey1}, {1, kKey2}}, {}, kKey1 + "X", -1},
        ClearCase{"PrefixOfASlotName", {{0, "KEY10"}}, {}, "KEY1", -1},
        ClearCase{"SlotNameIsPrefix", {{0, "KEY1"}}, {}, "KEY10", -1},
        ClearCase{"CaseDiffers", {{0, "key1"}}, {}, "KEY1", -1},
        // A slot without a terminator must not run into the next slot...
        ClearCase{"UnterminatedSlotNotJoinedWithNext", {{1, "BC"}}, {{0, 'A'}}, kFullA + "BC", -1},
        // ...and a name that fills the slot exactly still matches.
        ClearCase{"NameFillingTheWholeSlot", {{1, "BC"}}, {{0, 'A'}}, kFullA, 0},
        ClearCase{"LastSlotUnterminated", {}, {{4, 'Z'}}, kFullZ, 4},
        ClearCase{"LongerThanLastSlot", {}, {{4, 'Z'}}, kFullZ + "Z", -1}),
    [](const ::testing::TestParamInfo<ClearCase>& info) { return std::string(info.param.what); });

TEST(ClearKeyState, NullNameDoesNothing) {
    ASSERT_EQ(0u, CreateKeyStateBlock());
    Bytes before = BusyBlock();
    PutName(before, 0, "");
    BlockView view;
    view.Fill(before);
    ClearKeyState(nullptr);
    EXPECT_EQ(before, view.Copy());
}

TEST(ClearKeyState, WithoutBlockReturnsQuietlyAndReleasesTheMutex) {
    win::Handle lock(CreateMutexA(nullptr, FALSE, kKeyStateLockName));
    ASSERT_TRUE(lock);
    ClearKeyState(kKey1.c_str());
    EXPECT_FALSE(BlockView().Valid()) << "clearing must not create the block";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(lock.Get(), 2000));
    EXPECT_EQ(0, ProbeLockFromOtherProcess(2000));
}

TEST(ClearKeyState, WaitsWhileAnotherProcessHoldsTheMutex) {
    ASSERT_EQ(0u, CreateKeyStateBlock());
    Bytes before = BusyBlock();
    PutName(before, 2, kKey1);
    BlockView view;
    view.Fill(before);

    Event ready, release;
    Helper tool("hold-lock " + ready.name + " " + release.name);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.h.Get(), 30000));

    win::Handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread clearer([&] {
        ClearKeyState(kKey1.c_str());
        SetEvent(done.Get());
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(done.Get(), 500));
    EXPECT_EQ(before, view.Copy()) << "cleared without the lock";
    SetEvent(release.h.Get());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(done.Get(), 30000));
    clearer.join();
    EXPECT_EQ(0, tool.Wait());
    EXPECT_EQ(WithSlotCleared(before, 2), view.Copy());
}

TEST(AcquireKeyStateLock, CreatesTheMutexOwnedInheritableWithNullDacl) {
    HANDLE h = AcquireKeyStateLock();
    ASSERT_NE(nullptr, h);
    win::Handle held(h);
    // Owned by this thread from creation: others cannot get it.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitFromOtherThread(h, 200));
    EXPECT_EQ(1, ProbeLockFromOtherProcess(200));

    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(h, &flags));
    EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);

    PACL dacl = reinterpret_cast<PACL>(1);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd));
    EXPECT_EQ(nullptr, dacl) << "a null DACL lets every user open it";
    LocalFree(sd);

    // Held exactly once: one release frees it.
    ASSERT_TRUE(ReleaseMutex(h));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(h, 2000));
    EXPECT_EQ(0, ProbeLockFromOtherProcess(2000));
}

TEST(AcquireKeyStateLock, OpensAnExistingMutexAndWaitsForIt) {
    Event ready, release;
    Helper tool("hold-lock " + ready.name + " " + release.name);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.h.Get(), 30000));

    HANDLE got = nullptr;
    win::Handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread acquirer([&] {
        got = AcquireKeyStateLock();
        SetEvent(done.Get());
        // Hold it until the main thread has looked.
        WaitForSingleObject(release.h.Get(), INFINITE);
        Sleep(300);
        ReleaseMutex(got);
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(done.Get(), 500));
    SetEvent(release.h.Get());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(done.Get(), 30000));
    ASSERT_NE(nullptr, got);
    acquirer.join();
    EXPECT_EQ(0, tool.Wait());
    win::Handle held(got);
    // Released once by the acquiring thread: free now.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(got, 2000));
}
