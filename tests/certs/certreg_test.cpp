// Certificate registration against the real current-user stores "My" and
// "qor.sm2": what is written, duplicate handling, removal by tag and the
// sweep. Every check reopens the stores (and most also read them from a new
// process), so only what was persisted counts.
#include "tests/certs/certfixture.h"
#include "tests/support/testenv.h"
#include "token/certreg.h"
#include "token/keyread.h"
#include "token/results.h"
#include "token/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

using namespace certfix;
using storecheck::Cert;
using storecheck::Entry;
using storecheck::Prov;
using storecheck::Tag;
using storecheck::WithCert;

namespace {

const std::wstring kPathA = L"\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#A#{X}";
const std::wstring kPathB = L"\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#B#{X}";

Prov Ours(const std::string& tag, DWORD paramCount = 1) {
    Prov p;
    p.provName = storecheck::kProvName;
    p.container = L"earlier-container";
    p.tag = tag;
    p.paramCount = paramCount;
    return p;
}

Prov Foreign(const std::wstring& provName, const std::string& tag) {
    Prov p;
    p.provName = provName;
    p.tag = tag;
    return p;
}

void ExpectRegistered(const Entry& e, const std::wstring& container, ULONG keySpec, const std::string& tag) {
    EXPECT_TRUE(e.hasProv);
    EXPECT_EQ(container, e.container);
    EXPECT_EQ(std::wstring(storecheck::kProvName), e.provName);
    EXPECT_EQ(1u, e.provType);
    EXPECT_EQ(0u, e.provFlags);
    EXPECT_EQ(keySpec, e.keySpec);
    EXPECT_EQ(1u, e.paramCount);
    EXPECT_EQ(0u, e.param0Id);
    EXPECT_EQ(0u, e.param0Flags);
    EXPECT_EQ(tag, e.param0);  // exactly the tag: no terminating zero
}

size_t Count(const std::vector<Entry>& entries, const std::string& der) { return WithCert(entries, der).size(); }

class CertRegTest : public StoreTest {};

} // namespace

TEST(RegistrationTag, SerialUpToFirstZeroAtMost32Bytes) {
    DEVINFO info = {};
    memcpy(info.SerialNumber, "4B59000000000001", 16);
    EXPECT_EQ("Kyrel QOR_ZAF Certificate 4B59000000000001", BuildRegistrationTag(info));
    memset(info.SerialNumber, 'S', 32);  // no terminator inside the field
    info.HWVersion.major = 'X';          // the byte after it must not leak in
    EXPECT_EQ(std::string("Kyrel QOR_ZAF Certificate ") + std::string(32, 'S'), BuildRegistrationTag(info));
    memset(info.SerialNumber, 0, 32);
    EXPECT_EQ("Kyrel QOR_ZAF Certificate ", BuildRegistrationTag(info));
}

TEST(Sm2Recognition, ByExactAlgorithmParameters) {
    struct Case {
        const char* cert;
        bool sm2;
    } cases[] = {{"sm2_sign", true}, {"sm2_exch", true}, {"ca_sm2", true}, {"rsa_sign", false}, {"ca_rsa", false}};
    for (const auto& c : cases) {
        std::string der = Cert(c.cert);
        PCCERT_CONTEXT ctx = CertCreateCertificateContext(qstore::kCertEncoding,
                                                          reinterpret_cast<const BYTE*>(der.data()),
                                                          static_cast<DWORD>(der.size()));
        ASSERT_NE(nullptr, ctx) << c.cert;
        EXPECT_EQ(c.sm2, IsSm2Certificate(ctx)) << c.cert;
        CertFreeCertificateContext(ctx);
    }

    // Near misses, on a context whose parameters are set by hand.
    const BYTE sm2[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D, 0x00};
    const BYTE other[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2E};
    struct Params {
        const BYTE* data;
        DWORD len;
        bool sm2;
    } params[] = {{sm2, 10, true}, {sm2, 9, false}, {sm2, 11, false}, {other, 10, false}, {nullptr, 0, false}};
    for (const auto& p : params) {
        CERT_INFO info = {};
        info.SubjectPublicKeyInfo.Algorithm.Parameters.pbData = const_cast<BYTE*>(p.data);
        info.SubjectPublicKeyInfo.Algorithm.Parameters.cbData = p.len;
        CERT_CONTEXT ctx = {};
        ctx.pCertInfo = &info;
        EXPECT_EQ(p.sm2, IsSm2Certificate(&ctx)) << "length " << p.len;
    }
    EXPECT_FALSE(IsSm2Certificate(nullptr));
}

TEST_F(CertRegTest, EachCertificateOnceInItsStoreWithTheProviderProperty) {
    const std::string rsaSign = Cert("rsa_sign"), rsaExch = Cert("rsa_exch"), sm2 = Cert("sm2_sign");
    AddRecord(kPathA, "4B59000000000001",
              {{L"RSA-CONT", {{rsaSign, AT_SIGNATURE}, {rsaExch, AT_KEYEXCHANGE}}}, {L"SM2-CONT", {{sm2, AT_SIGNATURE}}}});
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));

    const std::string tag = Tag("4B59000000000001");
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    ASSERT_EQ(2u, my.size());
    ASSERT_EQ(1u, sm.size());
    ASSERT_EQ(1u, Count(my, rsaSign));
    ASSERT_EQ(1u, Count(my, rsaExch));
    ASSERT_EQ(1u, Count(sm, sm2));
    ExpectRegistered(WithCert(my, rsaSign)[0], L"RSA-CONT", AT_SIGNATURE, tag);
    ExpectRegistered(WithCert(my, rsaExch)[0], L"RSA-CONT", AT_KEYEXCHANGE, tag);
    ExpectRegistered(WithCert(sm, sm2)[0], L"SM2-CONT", AT_SIGNATURE, tag);

    EXPECT_TRUE(testenv::LogHas("FUNC -> ListRegisterCert()"));
    EXPECT_TRUE(testenv::LogHas("FUNC <- ListRegisterCert(),use time:"));
}

// An entry from an earlier run (with an old property, or none) ends as one
// copy with the fresh property; the twin whose subject contains the same
// text, found by the same subject search, is left alone. New certificates
// around the duplicate must all persist as well.
TEST_F(CertRegTest, EarlierCopyIsReplacedOnceAndTheSubjectTwinStays) {
    const std::string before = Cert("multi_c1_sign"), dup = Cert("rsa_sign"), after = Cert("rsa_exch");
    const std::string twin = Cert("rsa_sign_twin");
    for (bool oldHadProperty : {true, false}) {
        SCOPED_TRACE(oldHadProperty ? "earlier copy with property" : "earlier copy without property");
        storecheck::Wipe(kMy);
        Prov old = Ours(Tag("OLD-SERIAL"));
        storecheck::Add(kMy, dup, oldHadProperty ? &old : nullptr);
        Prov twinProv = Ours(Tag("TWIN-SERIAL"));
        storecheck::Add(kMy, twin, &twinProv);
        {
            DevListGuard guard;
            DevListStorage().clear();
        }
        AddRecord(kPathA, "SN-DUP", {{L"C0", {{before, AT_SIGNATURE}}},
                                     {L"C1", {{dup, AT_SIGNATURE}, {after, AT_KEYEXCHANGE}}}});
        ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));

        auto my = storecheck::ReadBoth(kMy);
        EXPECT_EQ(4u, my.size());
        ASSERT_EQ(1u, Count(my, dup));
        ExpectRegistered(WithCert(my, dup)[0], L"C1", AT_SIGNATURE, Tag("SN-DUP"));
        ASSERT_EQ(1u, Count(my, twin));
        EXPECT_EQ(Tag("TWIN-SERIAL"), WithCert(my, twin)[0].param0);
        EXPECT_EQ(1u, Count(my, before));
        EXPECT_EQ(1u, Count(my, after));
    }
}

TEST_F(CertRegTest, RegisteringTwiceKeepsOneCopy) {
    const std::string rsa = Cert("rsa_sign"), sm2 = Cert("sm2_sign");
    AddRecord(kPathA, "SN-TWICE", {{L"C", {{rsa, AT_SIGNATURE}, {sm2, AT_KEYEXCHANGE}}}});
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    ASSERT_EQ(1u, my.size());
    ASSERT_EQ(1u, sm.size());
    ExpectRegistered(sm[0], L"C", AT_KEYEXCHANGE, Tag("SN-TWICE"));
}

// Garbage bytes from a key spoil that certificate only: the others, before
// and after it, in both stores, are registered; its error is the result.
TEST_F(CertRegTest, UndecodableCertificateIsSkippedAndTheRestRegistered) {
    const std::string garbage = Cert("garbage"), rsa = Cert("rsa_exch"), sm2 = Cert("sm2_sign"),
                      first = Cert("multi_c1_sign");
    AddRecord(kPathA, "SN-GARBAGE", {{L"C0", {{first, AT_SIGNATURE}}},
                                     {L"C1", {{garbage, AT_SIGNATURE}, {rsa, AT_KEYEXCHANGE}}},
                                     {L"C2", {{sm2, AT_SIGNATURE}}}});
    ULONG rv = ListRegisterCert(kPathA.c_str());
    EXPECT_NE(0u, rv);
    EXPECT_TRUE(HasErr("CertCreateCertificateContext err=" + Hex8(rv)));
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    EXPECT_EQ(2u, my.size());
    EXPECT_EQ(1u, Count(my, first));
    EXPECT_EQ(1u, Count(my, rsa));
    ASSERT_EQ(1u, Count(sm, sm2));
    ExpectRegistered(sm[0], L"C2", AT_SIGNATURE, Tag("SN-GARBAGE"));
}

TEST_F(CertRegTest, LookupFailuresAreLoggedAndTouchNoStore) {
    // Empty list.
    EXPECT_EQ(QR_NOT_FOUND, ListRegisterCert(kPathA.c_str()));
    EXPECT_EQ(QR_NOT_FOUND, ListUnRegisterCert(kPathA.c_str()));
    EXPECT_EQ(2u, testenv::LogCount("ERR ListGetInfoFromDev err=0x10110013"));
    // Null path.
    EXPECT_EQ(QR_BAD_PARAM, ListRegisterCert(nullptr));
    EXPECT_TRUE(HasErr("Bad Parameter=0x10110011"));

    // A path that is not listed: the lookup leaves its record null; no crash, no store touched.
    Prov untagged = Ours("", 0);
    storecheck::Add(kMy, Cert("extra_01"), &untagged);
    AddRecord(kPathA, "SN-A", {{L"C", {{Cert("rsa_sign"), AT_SIGNATURE}}}});
    EXPECT_EQ(QR_PATH_NOT_LISTED, ListRegisterCert(kPathB.c_str()));
    EXPECT_EQ(QR_PATH_NOT_LISTED, ListUnRegisterCert(kPathB.c_str()));
    EXPECT_EQ(2u, testenv::LogCount("ERR ListGetInfoFromDev err=0x10110021"));
    auto my = storecheck::Read(kMy);
    ASSERT_EQ(1u, my.size());
    EXPECT_EQ(1u, Count(my, Cert("extra_01")));
    EXPECT_TRUE(storecheck::Read(kSm2).empty());
}

TEST_F(CertRegTest, RegisterOneCertRegistersOnlyTheChosenCertificate) {
    const std::string a = Cert("multi_c1_sign"), b = Cert("multi_c2_exch"), sm2 = Cert("sm2_exch");
    DevRecord* rec = AddRecord(kPathA, "SN-ONE", {{L"C1", {{a, AT_SIGNATURE}}},
                                                  {L"C2", {{sm2, AT_SIGNATURE}, {b, AT_KEYEXCHANGE}}}});
    CertRecord* chosen = rec->containers[1]->certs[1].get();
    ASSERT_EQ(0u, RegisterOneCert(rec, chosen));
    auto my = storecheck::ReadBoth(kMy);
    ASSERT_EQ(1u, my.size());
    ExpectRegistered(my[0], L"C2", AT_KEYEXCHANGE, Tag("SN-ONE"));
    EXPECT_TRUE(storecheck::Read(kSm2).empty());
    EXPECT_EQ(1u, testenv::LogCount("FUNC -> ListRegisterCert()"));

    // A certificate that is not the record's: nothing happens, 0.
    CertRecord stranger;
    EXPECT_EQ(0u, RegisterOneCert(rec, &stranger));
    EXPECT_EQ(1u, storecheck::Read(kMy).size());
    EXPECT_EQ(QR_BAD_PARAM, RegisterOneCert(nullptr, chosen));
    EXPECT_EQ(QR_BAD_PARAM, RegisterOneCert(rec, nullptr));
    EXPECT_EQ(2u, testenv::LogCount("ERR Bad Parameter=0x10110011"));
}

// A store that cannot be opened ends the operation with its line; what was
// registered before stays registered (committed before the close).
TEST_F(CertRegTest, StoreOpenFailureEndsRegistrationKeepingEarlierOnes) {
    const std::string rsa = Cert("rsa_sign"), sm2 = Cert("sm2_sign"), later = Cert("rsa_exch");
    struct Case {
        const wchar_t* failing;
        const char* line;
        size_t inMy;
    } cases[] = {{kMy, "CertOpenStore err=0x00000005", 0}, {kSm2, "SM2 CertOpenStore err=0x00000005", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        storecheck::Wipe(kMy);
        storecheck::Wipe(kSm2);
        testenv::DisableLog();
        testenv::EnableLog();
        {
            DevListGuard guard;
            DevListStorage().clear();
        }
        AddRecord(kPathA, "SN-OPEN", {{L"C", {{rsa, AT_SIGNATURE}, {sm2, AT_KEYEXCHANGE}}}, {L"D", {{later, AT_SIGNATURE}}}});
        qstore::SetStoreFaultForTest(c.failing, qstore::StoreOp::Open, ERROR_ACCESS_DENIED);
        EXPECT_EQ(static_cast<ULONG>(ERROR_ACCESS_DENIED), ListRegisterCert(kPathA.c_str()));
        qstore::ClearStoreFaultsForTest();
        EXPECT_TRUE(HasErr(c.line));
        auto my = storecheck::ReadBoth(kMy);
        EXPECT_EQ(c.inMy, my.size());
        EXPECT_EQ(c.inMy, Count(my, rsa));
        EXPECT_TRUE(storecheck::Read(kSm2).empty());
    }
}

TEST_F(CertRegTest, FailingCommitIsLoggedAndReturned) {
    AddRecord(kPathA, "SN-COMMIT", {{L"C", {{Cert("rsa_sign"), AT_SIGNATURE}}}});
    const ULONG err = 0x80090020;  // NTE_FAIL
    qstore::SetStoreFaultForTest(kMy, qstore::StoreOp::Commit, err);
    EXPECT_EQ(err, ListRegisterCert(kPathA.c_str()));
    EXPECT_TRUE(HasErr("CertControlStore err=0x80090020"));
}

// A removal whose commit of "My" fails reports it and leaves "qor.sm2" alone.
TEST_F(CertRegTest, FailingCommitOnRemovalIsReturnedAndStopsThere) {
    const std::string sm2 = Cert("sm2_sign");
    AddRecord(kPathA, "SN-COMMIT", {{L"C", {{Cert("rsa_sign"), AT_SIGNATURE}, {sm2, AT_KEYEXCHANGE}}}});
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));
    const ULONG err = 0x80090020;
    qstore::SetStoreFaultForTest(kMy, qstore::StoreOp::Commit, err);
    EXPECT_EQ(err, ListUnRegisterCert(kPathA.c_str()));
    qstore::ClearStoreFaultsForTest();
    EXPECT_TRUE(HasErr("CertControlStore err=0x80090020"));
    EXPECT_EQ(1u, Count(storecheck::ReadBoth(kSm2), sm2));
}

// Removal by tag: this key's entries and our untagged ones go from both
// stores; a foreign provider's entry, one whose provider name differs only in
// letter case, and another key's entries stay - also when one serial is a
// prefix of the other.
TEST_F(CertRegTest, RemovalTakesExactlyThisKeysEntries) {
    struct Case {
        const char* removed;
        const char* kept;
    } cases[] = {{"123", "1234"}, {"1234", "123"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("remove ") + c.removed + ", keep " + c.kept);
        storecheck::Wipe(kMy);
        storecheck::Wipe(kSm2);
        {
            DevListGuard guard;
            DevListStorage().clear();
        }
        const std::string goneRsa = Cert("multi_c1_sign"), goneSm2 = Cert("sm2_sign");
        const std::string keptRsa = Cert("multi_c2_sign"), keptSm2 = Cert("sm2_exch");
        AddRecord(kPathA, c.removed, {{L"C", {{goneRsa, AT_SIGNATURE}, {goneSm2, AT_KEYEXCHANGE}}}});
        AddRecord(kPathB, c.kept, {{L"C", {{keptRsa, AT_SIGNATURE}, {keptSm2, AT_KEYEXCHANGE}}}});
        ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));
        ASSERT_EQ(0u, ListRegisterCert(kPathB.c_str()));

        Prov untagged = Ours("", 0), shortTag = Ours("abc");
        Prov foreign = Foreign(L"Some Other CSP", Tag(c.removed));
        Prov lower = Foreign(L"norv kyrel csp for qor_zaf v1.0", Tag(c.removed));
        storecheck::Add(kMy, Cert("extra_01"), &untagged);
        storecheck::Add(kSm2, Cert("sm2_extra_01"), &shortTag);
        storecheck::Add(kMy, Cert("extra_02"), &foreign);
        storecheck::Add(kMy, Cert("extra_03"), &lower);
        storecheck::Add(kMy, Cert("extra_04"), nullptr);

        ASSERT_EQ(0u, ListUnRegisterCert(kPathA.c_str()));
        auto my = storecheck::ReadBoth(kMy);
        auto sm = storecheck::ReadBoth(kSm2);
        EXPECT_EQ(0u, Count(my, goneRsa));
        EXPECT_EQ(0u, Count(sm, goneSm2));
        EXPECT_EQ(0u, Count(my, Cert("extra_01")));
        EXPECT_EQ(0u, Count(sm, Cert("sm2_extra_01")));
        EXPECT_EQ(1u, Count(my, keptRsa));
        EXPECT_EQ(1u, Count(sm, keptSm2));
        EXPECT_EQ(1u, Count(my, Cert("extra_02")));
        EXPECT_EQ(1u, Count(my, Cert("extra_03")));
        EXPECT_EQ(1u, Count(my, Cert("extra_04")));
        EXPECT_EQ(4u, my.size());
        EXPECT_EQ(1u, sm.size());
    }
    EXPECT_EQ(2u, testenv::LogCount("FUNC -> ListUnRegisterCert()"));
}

TEST_F(CertRegTest, RemovalWithMyUnopenableStillCleansSm2) {
    const std::string rsa = Cert("rsa_sign"), sm2 = Cert("sm2_sign");
    AddRecord(kPathA, "SN-MYFAIL", {{L"C", {{rsa, AT_SIGNATURE}, {sm2, AT_KEYEXCHANGE}}}});
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));

    qstore::SetStoreFaultForTest(kMy, qstore::StoreOp::Open, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0u, ListUnRegisterCert(kPathA.c_str()));
    qstore::ClearStoreFaultsForTest();
    EXPECT_TRUE(HasErr("CertOpenStore My err=0x00000005"));
    EXPECT_EQ(1u, Count(storecheck::ReadBoth(kMy), rsa));
    EXPECT_TRUE(storecheck::ReadBoth(kSm2).empty());

    // And "qor.sm2" unopenable: "My" is cleaned, the error returned.
    ASSERT_EQ(0u, ListRegisterCert(kPathA.c_str()));
    qstore::SetStoreFaultForTest(kSm2, qstore::StoreOp::Open, ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<ULONG>(ERROR_ACCESS_DENIED), ListUnRegisterCert(kPathA.c_str()));
    qstore::ClearStoreFaultsForTest();
    EXPECT_TRUE(HasErr("CertOpenStore SM2 err=0x00000005"));
    EXPECT_TRUE(storecheck::ReadBoth(kMy).empty());
    EXPECT_EQ(1u, Count(storecheck::Read(kSm2), sm2));
}

// Records whose paths differ only in letter case (a key from the start-up
// scan and one from a broadcast): deleting one unregisters that record's
// certificates, not those of the first case-insensitive match.
TEST_F(CertRegTest, DeleteUnregistersTheRecordItRemoves) {
    std::wstring lowerPath = kPathA;
    for (auto& ch : lowerPath) ch = static_cast<wchar_t>(towlower(ch));
    DevRecord* upper = AddRecord(kPathA, "SN-UPPER", {{L"C", {{Cert("multi_c1_sign"), AT_SIGNATURE}}}});
    DevRecord* lower = AddRecord(lowerPath, "SN-LOWER", {{L"C", {{Cert("multi_c2_sign"), AT_SIGNATURE}}}});
    ASSERT_EQ(0u, RegisterKeyCerts(*upper));
    ASSERT_EQ(0u, RegisterKeyCerts(*lower));
    ASSERT_EQ(2u, storecheck::Read(kMy).size());
    ASSERT_EQ(0u, ListDeleteDev(lowerPath.c_str()));
    ASSERT_EQ(1u, ListGetDevCount());
    auto my = storecheck::ReadBoth(kMy);
    EXPECT_EQ(1u, Count(my, Cert("multi_c1_sign")));
    EXPECT_EQ(0u, Count(my, Cert("multi_c2_sign")));
}

// ---- the sweep (keys present come from the software token) ----

namespace {

class SweepTest : public StoreTest {
protected:
    // Our entries with the tags of keys "123" and "1234", our untagged and
    // short-tagged ones, and entries that are not ours.
    void Populate() {
        t123 = Ours(Tag("123"));
        t1234 = Ours(Tag("1234"));
        untagged = Ours("", 0);
        shortTag = Ours("Kyrel QOR_ZAF Certificat");  // 25 bytes
        foreign = Foreign(L"Some Other CSP", Tag("123"));
        lower = Foreign(L"NORV KYREL CSP FOR QOR_ZAF V1.0", Tag("999"));
        storecheck::Add(kMy, Cert("multi_c1_sign"), &t123);
        storecheck::Add(kSm2, Cert("sm2_sign"), &t123);
        storecheck::Add(kMy, Cert("multi_c2_sign"), &t1234);
        storecheck::Add(kSm2, Cert("sm2_exch"), &t1234);
        storecheck::Add(kMy, Cert("extra_01"), &untagged);
        storecheck::Add(kSm2, Cert("sm2_extra_01"), &shortTag);
        storecheck::Add(kMy, Cert("extra_02"), &foreign);
        storecheck::Add(kMy, Cert("extra_03"), &lower);
        storecheck::Add(kMy, Cert("extra_04"), nullptr);
    }
    void PlugIn(const std::string& id, const std::string& serial) { softkey::WriteKey(Key(id, serial, {})); }

    Prov t123, t1234, untagged, shortTag, foreign, lower;
};

} // namespace

TEST_F(SweepTest, NoKeyPresentDeletesAllOfOurs) {
    Populate();
    softkey::KeyDir();
    PlugIn("gone", "123");
    softkey::SetPresent("gone", false);
    ASSERT_EQ(0u, UnRegisterCert());
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    EXPECT_TRUE(sm.empty());
    ASSERT_EQ(3u, my.size());
    EXPECT_EQ(1u, Count(my, Cert("extra_02")));
    EXPECT_EQ(1u, Count(my, Cert("extra_03")));
    EXPECT_EQ(1u, Count(my, Cert("extra_04")));
    EXPECT_TRUE(HasInf("vectCertID.size()=0"));
    EXPECT_EQ(6u, testenv::LogCount("INF delete cert 1"));
    EXPECT_EQ(0u, testenv::LogCount("delete cert 2"));
    EXPECT_TRUE(testenv::LogHas("FUNC -> UnRegisterCert()"));
}

TEST_F(SweepTest, PresentKeysKeepTheirsAndStaleTaggedOnesGo) {
    struct Case {
        const char* present;
        const char* stale;
    } cases[] = {{"123", "1234"}, {"1234", "123"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("present ") + c.present);
        storecheck::Wipe(kMy);
        storecheck::Wipe(kSm2);
        testenv::DisableLog();
        testenv::EnableLog();
        Populate();
        PlugIn("present", c.present);
        PlugIn("other", "SOMETHING-ELSE");
        ASSERT_EQ(0u, UnRegisterCert());
        auto my = storecheck::ReadBoth(kMy);
        auto sm = storecheck::ReadBoth(kSm2);
        const bool keep123 = std::string(c.present) == "123";
        EXPECT_EQ(keep123 ? 1u : 0u, Count(my, Cert("multi_c1_sign")));
        EXPECT_EQ(keep123 ? 1u : 0u, Count(sm, Cert("sm2_sign")));
        EXPECT_EQ(keep123 ? 0u : 1u, Count(my, Cert("multi_c2_sign")));
        EXPECT_EQ(keep123 ? 0u : 1u, Count(sm, Cert("sm2_exch")));
        // Untagged and short-tagged ones of ours are not judged while keys are present.
        EXPECT_EQ(1u, Count(my, Cert("extra_01")));
        EXPECT_EQ(1u, Count(sm, Cert("sm2_extra_01")));
        EXPECT_EQ(1u, Count(my, Cert("extra_02")));
        EXPECT_EQ(1u, Count(my, Cert("extra_03")));
        EXPECT_EQ(1u, Count(my, Cert("extra_04")));
        EXPECT_TRUE(HasInf("vectCertID.size()=2"));
        EXPECT_EQ(2u, testenv::LogCount("INF delete cert 2"));
        EXPECT_EQ(0u, testenv::LogCount("delete cert 1"));
        softkey::RemoveKey("present");
        softkey::RemoveKey("other");
    }
}

TEST_F(SweepTest, KeyThatCannotBeConnectedContributesNoTag) {
    Populate();
    softkey::KeySpec k = Key("present", "123", {});
    k.faults = {{"SKF_ConnectDev", "0x0A000023"}};
    softkey::WriteKey(k);
    PlugIn("other", "1234");
    ASSERT_EQ(0u, UnRegisterCert());
    EXPECT_TRUE(HasInf("vectCertID.size()=1"));
    auto my = storecheck::ReadBoth(kMy);
    auto sm = storecheck::ReadBoth(kSm2);
    EXPECT_EQ(0u, Count(my, Cert("multi_c1_sign")));
    EXPECT_EQ(0u, Count(sm, Cert("sm2_sign")));
    EXPECT_EQ(1u, Count(my, Cert("multi_c2_sign")));
    EXPECT_EQ(1u, Count(sm, Cert("sm2_exch")));
    EXPECT_FALSE(testenv::LogHas("SKF_ConnectDev"));  // not logged by the sweep
    EXPECT_EQ(0u, softkey::GetOpenCounts().devices);
}

// The key list cannot be had (the function fails, or the library lacks it):
// nothing is deleted and the result is 1. Each case needs a fresh process,
// since a missing slot is fixed when the library fills its table.
class SweepEnumFailure : public SweepTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SweepEnumFailure, DeletesNothingAndReturns1) {
    const bool missing = GetParam();
    Populate();
    PlugIn("present", "123");
    if (missing) {
        softkey::WriteLibraryConfig("SKF_EnumDev");
    } else {
        softkey::SetLibraryFault("SKF_EnumDev", "0x0A000001");
    }
    auto myBefore = storecheck::Read(kMy), smBefore = storecheck::Read(kSm2);
    EXPECT_EQ(1u, UnRegisterCert());
    EXPECT_TRUE(HasErr(missing ? "SKF_EnumDev error,rv=0xe0300001" : "SKF_EnumDev error,rv=0x0a000001"));
    EXPECT_EQ(storecheck::Hashes(myBefore), storecheck::Hashes(storecheck::ReadBoth(kMy)));
    EXPECT_EQ(storecheck::Hashes(smBefore), storecheck::Hashes(storecheck::ReadBoth(kSm2)));
    EXPECT_FALSE(testenv::LogHas("delete cert"));
    EXPECT_FALSE(testenv::LogHas("vectCertID"));
}

INSTANTIATE_TEST_SUITE_P(FailingOrMissing, SweepEnumFailure, ::testing::Bool());

TEST_F(SweepTest, MyUnopenableStillCleansSm2) {
    Populate();
    PlugIn("present", "1234");
    auto myBefore = storecheck::Read(kMy);
    qstore::SetStoreFaultForTest(kMy, qstore::StoreOp::Open, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0u, UnRegisterCert());
    qstore::ClearStoreFaultsForTest();
    EXPECT_TRUE(HasErr("CertOpenStore My err=0x00000005"));
    EXPECT_EQ(storecheck::Hashes(myBefore), storecheck::Hashes(storecheck::ReadBoth(kMy)));
    auto sm = storecheck::ReadBoth(kSm2);
    EXPECT_EQ(0u, Count(sm, Cert("sm2_sign")));
    EXPECT_EQ(1u, Count(sm, Cert("sm2_exch")));
    EXPECT_EQ(1u, Count(sm, Cert("sm2_extra_01")));
}
