// Locks hold for their scope, across threads; a mutex left by a dead owner
// still counts as taken.
#include "win/sync.h"
#include "win/thread.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TryArgs {
    CRITICAL_SECTION* cs;
    bool entered;
};

DWORD WINAPI TryEnterFromOtherThread(void* p) {
    auto* a = static_cast<TryArgs*>(p);
    a->entered = TryEnterCriticalSection(a->cs) != FALSE;
    if (a->entered) LeaveCriticalSection(a->cs);
    return 0;
}

bool OtherThreadCanEnter(win::CriticalSection& cs) {
    TryArgs args{cs.Raw(), false};
    win::Thread t;
    EXPECT_EQ(0u, t.Start(TryEnterFromOtherThread, &args));
    EXPECT_TRUE(t.Join(5000));
    return args.entered;
}

TEST(Sync, LockHoldsTheCriticalSectionForItsScope) {
    win::CriticalSection cs;
    {
        win::Lock lock(cs);
        EXPECT_FALSE(OtherThreadCanEnter(cs));
        win::Lock again(cs);  // recursive on the same thread
    }
    EXPECT_TRUE(OtherThreadCanEnter(cs));
}

std::wstring UniqueName(const wchar_t* base) {
    return std::wstring(base) + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
}

TEST(Sync, NamedMutexReportsThatItExistedAlready) {
    const std::wstring name = UniqueName(L"QuendralWinTestMutex");
    win::Mutex a, b;
    ASSERT_EQ(0u, a.Create(name.c_str()));
    EXPECT_FALSE(a.AlreadyExisted());
    ASSERT_EQ(0u, b.Create(name.c_str()));
    EXPECT_TRUE(b.AlreadyExisted());
}

struct MutexArgs {
    const wchar_t* name;
    DWORD timeout;
    DWORD wait;
    bool release;
};

DWORD WINAPI WaitOnMutex(void* p) {
    auto* a = static_cast<MutexArgs*>(p);
    win::Mutex m;
    if (m.Create(a->name) != 0) return 1;
    a->wait = m.Wait(a->timeout);
    if (a->release && (a->wait == WAIT_OBJECT_0 || a->wait == WAIT_ABANDONED)) m.ReleaseOwnership();
    return 0;
}

DWORD WaitFromOtherThread(const std::wstring& name, DWORD timeout, bool release) {
    MutexArgs args{name.c_str(), timeout, WAIT_FAILED, release};
    win::Thread t;
    EXPECT_EQ(0u, t.Start(WaitOnMutex, &args));
    EXPECT_TRUE(t.Join(10000));
    return args.wait;
}

TEST(Sync, MutexLockOwnsForItsScope) {
    const std::wstring name = UniqueName(L"QuendralWinTestLock");
    win::Mutex m;
    ASSERT_EQ(0u, m.Create(name.c_str()));
    {
        win::MutexLock lock(m, 1000);
        ASSERT_TRUE(lock.Owned());
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitFromOtherThread(name, 50, true));
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(name, 1000, true));
}

TEST(Sync, MutexAbandonedByItsOwnerIsOwnedByTheNextWaiter) {
    const std::wstring name = UniqueName(L"QuendralWinTestAbandon");
    win::Mutex m;
    ASSERT_EQ(0u, m.Create(name.c_str()));
    // The other thread takes it and ends without releasing it.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitFromOtherThread(name, 1000, false));
    win::MutexLock lock(m, 1000);
    EXPECT_TRUE(lock.Owned());
}

TEST(Sync, MutexWithoutHandleFailsToWait) {
    win::Mutex m;
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), m.Wait(0));
    win::MutexLock lock(m, 0);
    EXPECT_FALSE(lock.Owned());
}

} // namespace
