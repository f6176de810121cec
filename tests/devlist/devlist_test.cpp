// Device list lookups and its lock, plus the ANSI/UTF-16 conversion helpers.
#include "token/devlist.h"
#include "token/results.h"
#include "token/textconv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

DevRecord* AddRecord(const wchar_t* path) {
    auto rec = std::make_unique<DevRecord>();
    wcsncpy(rec->devPath, path, 255);
    DevListGuard guard;
    DevListStorage().push_back(std::move(rec));
    return DevListStorage().back().get();
}

class DevListTest : public ::testing::Test {
protected:
    void SetUp() override { InitDevListLock(); }
    void TearDown() override {
        {
            DevListGuard guard;
            DevListStorage().clear();
        }
        DeleteDevListLock();
    }
};

const wchar_t kPathA[] = L"\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#A#{53F56308}";
const wchar_t kPathB[] = L"\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#B#{53F56308}";

} // namespace

TEST_F(DevListTest, EmptyListCodes) {
    int index = 7;
    EXPECT_EQ(QR_PATH_NOT_LISTED, ListGetDevIndex(kPathA, &index));
    EXPECT_EQ(-1, index);
    DevRecord* rec = reinterpret_cast<DevRecord*>(1);
    EXPECT_EQ(QR_NOT_FOUND, ListGetInfoFromDev(kPathA, &rec));
    EXPECT_EQ(nullptr, rec);
    EXPECT_EQ(QR_NOT_FOUND, ListGetDevByIndex(0, &rec));
    EXPECT_EQ(0u, ListGetDevCount());
}

TEST_F(DevListTest, LookupsIgnoreCaseAndFindTheFirstMatch) {
    DevRecord* a = AddRecord(kPathA);
    DevRecord* b = AddRecord(kPathB);
    std::wstring lower = kPathB;
    for (auto& c : lower) c = towlower(c);

    int index = -1;
    EXPECT_EQ(QR_OK, ListGetDevIndex(lower.c_str(), &index));
    EXPECT_EQ(1, index);
    DevRecord* rec = nullptr;
    EXPECT_EQ(QR_OK, ListGetInfoFromDev(lower.c_str(), &rec));
    EXPECT_EQ(b, rec);
    EXPECT_EQ(QR_OK, ListGetDevByIndex(0, &rec));
    EXPECT_EQ(a, rec);
    EXPECT_EQ(2u, ListGetDevCount());
}

TEST_F(DevListTest, AbsentPathAndIndexPastTheEnd) {
    AddRecord(kPathA);
    int index = 3;
    EXPECT_EQ(QR_PATH_NOT_LISTED, ListGetDevIndex(kPathB, &index));
    EXPECT_EQ(-1, index);
    DevRecord* rec = reinterpret_cast<DevRecord*>(1);
    EXPECT_EQ(QR_OK, ListGetInfoFromDev(kPathB, &rec));  // found nothing: 0 and no record
    EXPECT_EQ(nullptr, rec);
    EXPECT_EQ(QR_NOT_FOUND, ListGetDevByIndex(1, &rec));  // index == count
    EXPECT_EQ(nullptr, rec);
}

TEST_F(DevListTest, NullPathIsRejected) {
    AddRecord(kPathA);
    int index = 0;
    EXPECT_EQ(QR_NULL_PATH, ListGetDevIndex(nullptr, &index));
    EXPECT_EQ(-1, index);
    DevRecord* rec = reinterpret_cast<DevRecord*>(1);
    EXPECT_EQ(QR_NULL_PATH, ListGetInfoFromDev(nullptr, &rec));
    EXPECT_EQ(nullptr, rec);
}

TEST_F(DevListTest, NewRecordDefaults) {
    DevRecord* rec = AddRecord(kPathA);
    EXPECT_EQ(6u, rec->pinMaxRetry);
    EXPECT_EQ(6u, rec->pinRemainRetry);
    EXPECT_TRUE(rec->containers.empty());
    EXPECT_EQ(0, rec->devLabel[0]);
}

TEST_F(DevListTest, LockIsRecursiveAndExcludesOtherThreads) {
    AddRecord(kPathA);
    std::atomic<bool> done{false};
    std::thread other;
    {
        DevListGuard outer;
        DevListGuard inner;  // same thread again: must not deadlock
        EXPECT_EQ(1u, ListGetDevCount());
        other = std::thread([&] {
            ListGetDevCount();
            done = true;
        });
        Sleep(100);
        EXPECT_FALSE(done.load()) << "a lookup ran while another thread held the lock";
    }
    other.join();
    EXPECT_TRUE(done.load());
}

TEST_F(DevListTest, ConcurrentInsertsAndLookupsStayConsistent) {
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!stop) {
            DevListGuard guard;
            ULONG n = ListGetDevCount();
            for (ULONG i = 0; i < n; ++i) {
                DevRecord* rec = nullptr;
                if (ListGetDevByIndex(i, &rec) != QR_OK || !rec || rec->devPath[0] != L'\\') ++badReads;
            }
        }
    });
    for (int round = 0; round < 2000; ++round) {
        DevListGuard guard;
        if (round % 3 == 2) {
            DevListStorage().erase(DevListStorage().begin());
        } else {
            auto rec = std::make_unique<DevRecord>();
            wcscpy(rec->devPath, kPathA);
            DevListStorage().push_back(std::move(rec));
        }
    }
    stop = true;
    reader.join();
    EXPECT_EQ(0, badReads.load());
    EXPECT_EQ(2000u - 2 * 666u, ListGetDevCount());
}

// ---- conversions ----

TEST(TextConv, WideToAnsiCopiesExactlyTheBytesWithoutTerminator) {
    char buf[16];
    memset(buf, 'x', sizeof buf);
    int n = -1;
    ASSERT_EQ(0u, WideToAnsi(L"ABC", 3, buf, sizeof buf, &n));
    EXPECT_EQ(3, n);
    EXPECT_EQ(0, memcmp(buf, "ABCx", 4));  // no terminator written
}

TEST(TextConv, CountIncludingTerminatorConvertsItToo) {
    wchar_t out[8];
    wmemset(out, L'x', 8);
    int n = 0;
    ASSERT_EQ(0u, AnsiToWide("AB", 3, out, 8, &n));
    EXPECT_EQ(3, n);
    EXPECT_EQ(0, wmemcmp(out, L"AB\0x", 4));
}

TEST(TextConv, LongTextIsCutAndNeverOverflows) {
    std::wstring path(300, L'P');
    char buf[256 + 8];
    memset(buf, 0, sizeof buf);
    memset(buf + 256, 'G', 8);  // guard bytes past the destination
    int n = 0;
    ASSERT_EQ(0u, WideToAnsi(path.c_str(), static_cast<int>(path.size()), buf, 256, &n));
    EXPECT_EQ(255, n);  // one byte left for the caller's zero
    EXPECT_EQ(0, buf[255]);
    EXPECT_EQ(0, memcmp(buf + 256, "GGGGGGGG", 8));

    std::string ansi(400, 'a');
    wchar_t wbuf[260 + 4];
    wmemset(wbuf, 0, 260);
    wmemset(wbuf + 260, L'G', 4);
    ASSERT_EQ(0u, AnsiToWide(ansi.c_str(), static_cast<int>(ansi.size()), wbuf, 260, &n));
    EXPECT_EQ(259, n);
    EXPECT_EQ(0, wbuf[259]);
    EXPECT_EQ(0, wmemcmp(wbuf + 260, L"GGGG", 4));
}

TEST(TextConv, BadArgumentsAreReported) {
    char buf[4];
    int n = 5;
    EXPECT_NE(0u, WideToAnsi(nullptr, 1, buf, 4, &n));
    EXPECT_EQ(0, n);
    EXPECT_NE(0u, WideToAnsi(L"a", 1, nullptr, 4, &n));
    wchar_t wbuf[4];
    EXPECT_NE(0u, AnsiToWide("a", 1, wbuf, 0, &n));
}
