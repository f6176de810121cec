// Key reading and release through the software token and the real stores:
// what a record holds, which failures drop what, what removal takes out,
// and that nothing stays behind after many cycles.
#include "tests/certs/certfixture.h"
#include "tests/support/testenv.h"
#include "token/certreg.h"
#include "token/keyread.h"
#include "token/results.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>

using namespace certfix;
using storecheck::Cert;
using storecheck::Entry;
using storecheck::Prov;
using storecheck::Tag;
using storecheck::WithCert;

namespace {

size_t Count(const std::vector<Entry>& entries, const std::string& der) { return WithCert(entries, der).size(); }

DevRecord* Record(const std::string& id) {
    DevRecord* rec = nullptr;
    ListGetInfoFromDev(softkey::DevicePathW(id).c_str(), &rec);
    return rec;
}

void ExpectAllClosed() {
    softkey::OpenCounts c = softkey::GetOpenCounts();
    EXPECT_EQ(0u, c.devices);
    EXPECT_EQ(0u, c.applications);
    EXPECT_EQ(0u, c.containers);
}

// Container names and the key specs of their certificates, e.g. "C1:2,1 C2:1".
std::string Shape(const DevRecord& rec) {
    std::string out;
    for (const auto& c : rec.containers) {
        if (!out.empty()) out += " ";
        out += testenv::Narrow(c->containerName) + ":";
        for (size_t i = 0; i < c->certs.size(); ++i) out += (i ? "," : "") + std::to_string(c->certs[i]->keySpec);
    }
    return out;
}

// A key with two applications; APP1 holds C1 (RSA) and C2 (SM2), APP2 holds
// C3 (RSA), each with both certificates. PIN counts differ per application.
softkey::KeySpec TwoAppKey() {
    softkey::KeySpec k = Key("key1", "4B59000000000001",
                             {Container("C1", "rsa_sign", "rsa_exch"), Container("C2", "sm2_sign", "sm2_exch")});
    k.label = "Alice";
    k.apps[0].userMax = 10;
    k.apps[0].userRemain = 7;
    softkey::AppSpec app2;
    app2.name = "APP2";
    app2.userMax = 8;
    app2.userRemain = 3;
    app2.containers = {Container("C3", "multi_c1_sign", "multi_c1_exch")};
    k.apps.push_back(app2);
    return k;
}

class KeyReadTest : public StoreTest {};

} // namespace

TEST_F(KeyReadTest, InsertReadsTheKeyAndRegistersItsCertificates) {
    softkey::WriteKey(TwoAppKey());
    const std::wstring path = softkey::DevicePathW("key1");
    ASSERT_EQ(0u, ListInsertDev(path.c_str(), 0));
    ASSERT_EQ(1u, ListGetDevCount());
    DevRecord* rec = Record("key1");
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ(path, rec->devPath);
    EXPECT_STREQ(L"Alice", rec->devLabel);
    EXPECT_EQ(0, memcmp(rec->devInfo.SerialNumber, "4B59000000000001", 17));
    EXPECT_EQ(8u, rec->pinMaxRetry);  // the last application's answer stands
    EXPECT_EQ(3u, rec->pinRemainRetry);
    EXPECT_EQ("C1:2,1 C2:2,1 C3:2,1", Shape(*rec));
    EXPECT_EQ(0u, testenv::LogCount("ERR ")) << testenv::ReadLog();
    const CertRecord& sign = *rec->containers[0]->certs[0];
    EXPECT_STREQ(L"Quendral RSA Sign", sign.subjectName);
    std::string der = Cert("rsa_sign");
    ASSERT_EQ(der.size(), sign.certLen);
    EXPECT_EQ(0, memcmp(der.data(), sign.certData.get(), der.size()));
    ExpectAllClosed();

    const std::string tag = Tag("4B59000000000001");
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    ASSERT_EQ(4u, my.size());
    ASSERT_EQ(2u, sm.size());
    struct Want {
        const char* cert;
        const wchar_t* container;
        ULONG keySpec;
        bool sm2;
    } wants[] = {{"rsa_sign", L"C1", AT_SIGNATURE, false},
                 {"rsa_exch", L"C1", AT_KEYEXCHANGE, false},
                 {"sm2_sign", L"C2", AT_SIGNATURE, true},
                 {"sm2_exch", L"C2", AT_KEYEXCHANGE, true},
                 {"multi_c1_sign", L"C3", AT_SIGNATURE, false},
                 {"multi_c1_exch", L"C3", AT_KEYEXCHANGE, false}};
    for (const auto& w : wants) {
        SCOPED_TRACE(w.cert);
        auto hits = WithCert(w.sm2 ? sm : my, Cert(w.cert));
        ASSERT_EQ(1u, hits.size());
        EXPECT_EQ(0u, Count(w.sm2 ? my : sm, Cert(w.cert)));
        EXPECT_EQ(std::wstring(w.container), hits[0].container);
        EXPECT_EQ(std::wstring(storecheck::kProvName), hits[0].provName);
        EXPECT_EQ(1u, hits[0].provType);
        EXPECT_EQ(0u, hits[0].provFlags);
        EXPECT_EQ(w.keySpec, hits[0].keySpec);
        EXPECT_EQ(1u, hits[0].paramCount);
        EXPECT_EQ(tag, hits[0].param0);
    }
    EXPECT_TRUE(testenv::LogHas("FUNC -> ListRegisterCert()"));
}

// Failures before the record is complete: no record, the device disconnected.
TEST_F(KeyReadTest, EarlyFailuresLeaveNoRecord) {
    struct Case {
        const char* fault;
        const char* line;
    } cases[] = {{"SKF_ConnectDev", "SKF_ConnectDev Error=0x0a000023"},
                 {"SKF_GetDevInfo", "SKF_GetDevInfo Error=0x0a000023"},
                 {"SKF_EnumApplication", "SKF_EnumApplication Error=0x0a000023"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        testenv::DisableLog();
        testenv::EnableLog();
        softkey::KeySpec k = TwoAppKey();
        k.faults = {{c.fault, "0x0A000023"}};
        softkey::WriteKey(k);
        EXPECT_EQ(0x0A000023u, ListInsertDev(softkey::DevicePathW("key1").c_str(), 0));
        EXPECT_EQ(0u, ListGetDevCount());
        EXPECT_TRUE(HasErr(c.line));
        ExpectAllClosed();
        EXPECT_TRUE(storecheck::Read(kMy).empty());
        EXPECT_TRUE(storecheck::Read(kSm2).empty());
    }
}

// Failures inside an application or container drop only that part.
TEST_F(KeyReadTest, LaterFailuresDropOnlyTheirPart) {
    struct Case {
        const char* fault;
        const char* line;
        const char* shape;
        ULONG maxRetry, remainRetry;
        size_t inMy, inSm2;
    } cases[] = {
        {"SKF_OpenApplication.APP1", "SKF_OpenApplication(APP1) Error=0x0a00002e", "C3:2,1", 8, 3, 2, 0},
        {"SKF_OpenApplication.APP2", "SKF_OpenApplication(APP2) Error=0x0a00002e", "C1:2,1 C2:2,1", 10, 7, 2, 2},
        {"SKF_GetPINInfo.APP2", "SKF_GetPINInfo(APP2) Error=0x0a00002e", "C1:2,1 C2:2,1 C3:2,1", 10, 7, 4, 2},
        {"SKF_EnumContainer.APP1", "SKF_EnumContainer Error=0x0a00002e", "C3:2,1", 8, 3, 2, 0},
        {"SKF_OpenContainer.APP1.C1", "SKF_OpenContainer(C1) Error=0x0a00002e", "C2:2,1 C3:2,1", 8, 3, 2, 2},
        {"SKF_ExportCertificate.APP1.C1.SIGN", "SKF_ExportCertificate(SIGN) Error=0x0a00002e", "C1:1 C2:2,1 C3:2,1",
         8, 3, 3, 2},
        {"SKF_ExportCertificate.APP1.C1.EXCHANGE", "SKF_ExportCertificate(EXCHANGE) Error=0x0a00002e",
         "C1:2 C2:2,1 C3:2,1", 8, 3, 3, 2},
        {"SKF_ExportCertificate.APP1.C2.SIGN", "SKF_ExportCertificate(SIGN) Error=0x0a00002e", "C1:2,1 C2:1 C3:2,1",
         8, 3, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        storecheck::Wipe(kMy);
        storecheck::Wipe(kSm2);
        testenv::DisableLog();
        testenv::EnableLog();
        softkey::KeySpec k = TwoAppKey();
        k.faults = {{c.fault, "0x0A00002E"}};
        softkey::WriteKey(k);
        const std::wstring path = softkey::DevicePathW("key1");
        ASSERT_EQ(0u, ListInsertDev(path.c_str(), 0));
        DevRecord* rec = Record("key1");
        ASSERT_NE(nullptr, rec);
        EXPECT_EQ(c.shape, Shape(*rec));
        EXPECT_EQ(c.maxRetry, rec->pinMaxRetry);
        EXPECT_EQ(c.remainRetry, rec->pinRemainRetry);
        EXPECT_TRUE(HasErr(c.line));
        EXPECT_EQ(1u, testenv::LogCount("ERR ")) << testenv::ReadLog();
        ExpectAllClosed();
        EXPECT_EQ(c.inMy, storecheck::Read(kMy).size());
        EXPECT_EQ(c.inSm2, storecheck::Read(kSm2).size());
        ASSERT_EQ(0u, ListDeleteDev(path.c_str()));
    }
}

TEST_F(KeyReadTest, BothExportsFailingDropsTheContainer) {
    softkey::KeySpec k = TwoAppKey();
    k.faults = {{"SKF_ExportCertificate.APP1.C1.SIGN", "0x0A00001C"},
                {"SKF_ExportCertificate.APP1.C1.EXCHANGE", "0x0A00001C"}};
    softkey::WriteKey(k);
    ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("key1").c_str(), 0));
    EXPECT_EQ("C2:2,1 C3:2,1", Shape(*Record("key1")));
    EXPECT_TRUE(HasErr("SKF_ExportCertificate(SIGN) Error=0x0a00001c"));
    EXPECT_TRUE(HasErr("SKF_ExportCertificate(EXCHANGE) Error=0x0a00001c"));
    ExpectAllClosed();
}

TEST_F(KeyReadTest, MissingEnumContainerInsertsKeyWithoutContainers) {
    softkey::WriteLibraryConfig("SKF_EnumContainer");
    softkey::WriteKey(TwoAppKey());
    ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("key1").c_str(), 0));
    DevRecord* rec = Record("key1");
    ASSERT_NE(nullptr, rec);
    EXPECT_TRUE(rec->containers.empty());
    EXPECT_EQ(2u, testenv::LogCount("ERR SKF_EnumContainer Error=0xe0300001"));
    EXPECT_TRUE(storecheck::Read(kMy).empty());
    ExpectAllClosed();
}

// Garbage exported by the key: kept in the record (empty subject), skipped
// by registration with its line; the key's other certificates are registered.
TEST_F(KeyReadTest, UndecodableCertificateIsSkippedAtRegistration) {
    softkey::WriteKey(Key("key1", "SN-GARBAGE",
                          {Container("C1", "garbage", "rsa_exch"), Container("C2", "sm2_sign", "rsa_sign")}));
    ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("key1").c_str(), 0));
    DevRecord* rec = Record("key1");
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ("C1:2,1 C2:2,1", Shape(*rec));
    EXPECT_STREQ(L"", rec->containers[0]->certs[0]->subjectName);
    EXPECT_EQ(1u, testenv::LogCount("ERR CertCreateCertificateContext err=0x"));
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    EXPECT_EQ(2u, my.size());
    EXPECT_EQ(1u, Count(my, Cert("rsa_exch")));
    EXPECT_EQ(1u, Count(my, Cert("rsa_sign")));
    EXPECT_EQ(1u, Count(sm, Cert("sm2_sign")));
}

TEST_F(KeyReadTest, InsertIndexEdges) {
    for (const char* id : {"k1", "k2", "k3"}) softkey::WriteKey(Key(id, std::string("SN-") + id, {}));
    EXPECT_EQ(QR_NOT_FOUND, ListInsertDev(softkey::DevicePathW("k1").c_str(), 1));  // one past an empty list
    EXPECT_EQ(0u, ListInsertDev(softkey::DevicePathW("k1").c_str(), 0));
    std::string logBefore = testenv::ReadLog();
    EXPECT_EQ(QR_NOT_FOUND, ListInsertDev(softkey::DevicePathW("k2").c_str(), 2));  // two past the end
    EXPECT_EQ(logBefore, testenv::ReadLog());                                      // and nothing logged
    EXPECT_EQ(0u, ListInsertDev(softkey::DevicePathW("k2").c_str(), 1));           // one past: appends
    EXPECT_EQ(0u, ListInsertDev(softkey::DevicePathW("k3").c_str(), 0));           // front
    ASSERT_EQ(3u, ListGetDevCount());
    const char* order[] = {"k3", "k1", "k2"};
    for (ULONG i = 0; i < 3; ++i) {
        DevRecord* rec = nullptr;
        ASSERT_EQ(0u, ListGetDevByIndex(i, &rec));
        EXPECT_EQ(softkey::DevicePathW(order[i]), rec->devPath);
    }
    EXPECT_EQ(QR_NULL_PATH, ListInsertDev(nullptr, 0));
    EXPECT_TRUE(HasErr("ListInsertDev DevPath Error=0x10110023"));
    EXPECT_EQ(3u, ListGetDevCount());
}

TEST_F(KeyReadTest, LabelOfFull32BytesWithoutTerminator) {
    softkey::KeySpec k = Key("key1", "SN", {});
    k.label = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    softkey::WriteKey(k);
    ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("key1").c_str(), 0));
    DevRecord* rec = Record("key1");
    ASSERT_NE(nullptr, rec);
    EXPECT_STREQ(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", rec->devLabel);
    EXPECT_TRUE(rec->containers.empty());
}

TEST_F(KeyReadTest, DeleteMatchesThePathExactly) {
    EXPECT_EQ(QR_LIST_EMPTY, ListDeleteDev(softkey::DevicePathW("key1").c_str()));
    softkey::WriteKey(Key("key1", "SN-EXACT", {Container("C1", "rsa_sign", "sm2_exch")}));
    const std::wstring path = softkey::DevicePathW("key1");
    ASSERT_EQ(0u, ListInsertDev(path.c_str(), 0));
    ASSERT_EQ(1u, storecheck::Read(kMy).size());

    std::wstring lower = path;
    for (auto& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
    for (const std::wstring& other : {lower, softkey::DevicePathW("nokey")}) {
        EXPECT_EQ(QR_NOT_FOUND, ListDeleteDev(other.c_str()));
        EXPECT_EQ(1u, ListGetDevCount());
        EXPECT_EQ(1u, storecheck::Read(kMy).size());
        EXPECT_EQ(1u, storecheck::Read(kSm2).size());
    }
    EXPECT_FALSE(testenv::LogHas("ListUnRegisterCert"));

    ASSERT_EQ(0u, ListDeleteDev(path.c_str()));
    EXPECT_EQ(0u, ListGetDevCount());
    EXPECT_TRUE(storecheck::ReadBoth(kMy).empty());
    EXPECT_TRUE(storecheck::ReadBoth(kSm2).empty());
    EXPECT_TRUE(testenv::LogHas("FUNC -> ListUnRegisterCert()"));
}

// Removal through ListDeleteDev: this key's entries and our untagged ones go;
// a foreign provider's, a letter-case twin provider's and the other present
// key's stay, also when one serial is a prefix of the other.
TEST_F(KeyReadTest, DeleteRemovesExactlyThisKeysEntries) {
    struct Case {
        const char* removed;
        const char* kept;
    } cases[] = {{"123", "1234"}, {"1234", "123"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("remove ") + c.removed);
        storecheck::Wipe(kMy);
        storecheck::Wipe(kSm2);
        softkey::WriteKey(Key("gone", c.removed, {Container("C1", "multi_c1_sign", "sm2_sign")}));
        softkey::WriteKey(Key("kept", c.kept, {Container("C1", "multi_c2_sign", "sm2_exch")}));
        ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("gone").c_str(), ListGetDevCount()));
        ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("kept").c_str(), ListGetDevCount()));
        Prov untagged;
        untagged.provName = storecheck::kProvName;
        untagged.paramCount = 0;
        Prov foreign;
        foreign.provName = L"Some Other CSP";
        foreign.tag = Tag(c.removed);
        Prov lower;
        lower.provName = L"NORV Kyrel CSP for qor_zaf v1.0";
        lower.tag = Tag(c.removed);
        storecheck::Add(kMy, Cert("extra_01"), &untagged);
        storecheck::Add(kMy, Cert("extra_02"), &foreign);
        storecheck::Add(kSm2, Cert("sm2_extra_01"), &lower);

        ASSERT_EQ(0u, ListDeleteDev(softkey::DevicePathW("gone").c_str()));
        auto my = storecheck::ReadBoth(kMy);
        auto sm = storecheck::ReadBoth(kSm2);
        EXPECT_EQ(0u, Count(my, Cert("multi_c1_sign")));
        EXPECT_EQ(0u, Count(sm, Cert("sm2_sign")));
        EXPECT_EQ(0u, Count(my, Cert("extra_01")));
        EXPECT_EQ(1u, Count(my, Cert("multi_c2_sign")));
        EXPECT_EQ(1u, Count(sm, Cert("sm2_exch")));
        EXPECT_EQ(1u, Count(my, Cert("extra_02")));
        EXPECT_EQ(1u, Count(sm, Cert("sm2_extra_01")));
        EXPECT_EQ(2u, my.size());
        EXPECT_EQ(2u, sm.size());
        ASSERT_EQ(0u, ListDeleteAllDev());
        EXPECT_EQ(0u, ListGetDevCount());
        EXPECT_EQ(0u, Count(storecheck::Read(kMy), Cert("multi_c2_sign")));
        EXPECT_EQ(0u, Count(storecheck::Read(kSm2), Cert("sm2_exch")));
    }
}

TEST(ParseCertInfo, SubjectAndValidity) {
    SYSTEMTIME nowSt;
    GetSystemTime(&nowSt);
    FILETIME nowFt;
    SystemTimeToFileTime(&nowSt, &nowFt);
    auto cmp = [&nowFt](const SYSTEMTIME& st) {
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        return CompareFileTime(&ft, &nowFt);
    };
    auto daysFromNow = [&nowFt](const SYSTEMTIME& st) {
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        auto ticks = [](const FILETIME& f) {
            return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
        };
        return (ticks(ft) - ticks(nowFt)) / 864000000000.0;
    };
    struct Case {
        const char* cert;
        const wchar_t* subject;
        int before, after;  // sign of (time - now)
    } cases[] = {{"rsa_sign", L"Quendral RSA Sign", -1, 1},
                 {"sm2_sign", L"Quendral SM2 Sign", -1, 1},
                 {"rsa_expired", L"Quendral RSA Expired", -1, -1},
                 {"rsa_notyet", L"Quendral RSA Not Yet Valid", 1, 1},
                 {"rsa_expiring", L"Quendral RSA Expiring", -1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cert);
        std::string der = Cert(c.cert);
        CertRecord rec;
        ASSERT_EQ(0u, ParseCertInfo(reinterpret_cast<const BYTE*>(der.data()), static_cast<ULONG>(der.size()), &rec));
        EXPECT_STREQ(c.subject, rec.subjectName);
        EXPECT_EQ(c.before, cmp(rec.notBefore) < 0 ? -1 : 1);
        EXPECT_EQ(c.after, cmp(rec.notAfter) < 0 ? -1 : 1);
    }
    CertRecord rec;
    std::string der = Cert("rsa_expiring");
    ParseCertInfo(reinterpret_cast<const BYTE*>(der.data()), static_cast<ULONG>(der.size()), &rec);
    EXPECT_GT(daysFromNow(rec.notAfter), 0.0);
    EXPECT_LT(daysFromNow(rec.notAfter), 30.0);
    // The generator's "valid" certificates run 365 days from generation (UTC, not local time).
    der = Cert("rsa_sign");
    ParseCertInfo(reinterpret_cast<const BYTE*>(der.data()), static_cast<ULONG>(der.size()), &rec);
    EXPECT_NEAR(365.0, daysFromNow(rec.notAfter) - daysFromNow(rec.notBefore), 0.01);

    std::string garbage = Cert("garbage");
    CertRecord bad;
    EXPECT_EQ(2u, ParseCertInfo(reinterpret_cast<const BYTE*>(garbage.data()), static_cast<ULONG>(garbage.size()), &bad));
    EXPECT_STREQ(L"", bad.subjectName);
    EXPECT_EQ(1u, ParseCertInfo(nullptr, 10, &bad));
    EXPECT_EQ(1u, ParseCertInfo(reinterpret_cast<const BYTE*>(der.data()), static_cast<ULONG>(der.size()), nullptr));
}

// Many arrivals and removals of two keys leave both stores exactly as they
// were: the same entries (by SHA-1) with the same properties.
TEST_F(KeyReadTest, HundredCyclesLeaveTheStoresAsTheyWere) {
    Prov foreign;
    foreign.provName = L"Some Other CSP";
    foreign.tag = "foreign";
    storecheck::Add(kMy, Cert("extra_05"), &foreign);
    storecheck::Add(kMy, Cert("extra_06"), nullptr);
    storecheck::Add(kSm2, Cert("sm2_extra_01"), &foreign);
    const auto myBefore = storecheck::ReadBoth(kMy);
    const auto smBefore = storecheck::ReadBoth(kSm2);

    softkey::WriteKey(Key("key1", "SN-CYCLE-1", {Container("C1", "rsa_sign", "rsa_exch"), Container("C2", "sm2_sign", "")}));
    softkey::WriteKey(Key("key2", "SN-CYCLE-2", {Container("C1", "multi_c1_sign", "sm2_exch")}));
    const std::wstring p1 = softkey::DevicePathW("key1"), p2 = softkey::DevicePathW("key2");
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(0u, ListInsertDev(p1.c_str(), ListGetDevCount()));
        ASSERT_EQ(0u, ListInsertDev(p2.c_str(), ListGetDevCount()));
        if (i == 0) {
            ASSERT_EQ(myBefore.size() + 3, storecheck::Read(kMy).size());
            ASSERT_EQ(smBefore.size() + 2, storecheck::Read(kSm2).size());
        }
        // Alternate the removal order.
        ASSERT_EQ(0u, ListDeleteDev((i % 2 ? p1 : p2).c_str()));
        ASSERT_EQ(0u, ListDeleteDev((i % 2 ? p2 : p1).c_str()));
    }
    ExpectAllClosed();
    auto myAfter = storecheck::ReadBoth(kMy);
    auto smAfter = storecheck::ReadBoth(kSm2);
    ASSERT_EQ(storecheck::Hashes(myBefore), storecheck::Hashes(myAfter));
    ASSERT_EQ(storecheck::Hashes(smBefore), storecheck::Hashes(smAfter));
    for (size_t i = 0; i < myAfter.size(); ++i) EXPECT_EQ(myBefore[i].param0, myAfter[i].param0);
    for (size_t i = 0; i < smAfter.size(); ++i) EXPECT_EQ(smBefore[i].param0, smAfter[i].param0);
}
