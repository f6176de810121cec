// Timings of the certificate path under Wine, not part of the ctest run.
// Run inside a test prefix, e.g.:
//   source tools/wine-env.sh; wine_env_start /tmp/bench-prefix
//   WINEPATH='Z:\...\x86_64\bin' tools/wine-exec <build>/tests/bin/certs_bench.exe
//   wine_env_stop
// Each figure is the median of several runs, in milliseconds.
#include "tests/certs/certfixture.h"
#include "tests/support/testenv.h"
#include "token/certreg.h"
#include "token/keyread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace certfix;

namespace {

constexpr int kRuns = 9;
constexpr int kForeign = 1000;

double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times `run` kRuns times, calling `reset` (untimed) before each run.
double Measure(const std::function<void()>& reset, const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        reset();
        double t0 = NowMs();
        run();
        times.push_back(NowMs() - t0);
    }
    return Median(times);
}

// kForeign distinct self-signed certificates, each with a foreign provider's
// property, added through one open and one commit.
void FillWithForeign(const wchar_t* store) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_SIGNATURE, 1024u << 16, &key));
    HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store);
    ASSERT_NE(nullptr, s);
    wchar_t container[] = L"foreign-container";
    wchar_t provName[] = L"Some Other CSP";
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = container;
    info.pwszProvName = provName;
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_SIGNATURE;
    CRYPT_ALGORITHM_IDENTIFIER alg = {};
    alg.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
    for (int i = 0; i < kForeign; ++i) {
        std::wstring dn = L"CN=Foreign Bench " + std::to_wstring(i) + L", O=Elsewhere";
        BYTE name[256];
        DWORD nameLen = sizeof name;
        ASSERT_TRUE(CertStrToNameW(X509_ASN_ENCODING, dn.c_str(), CERT_X500_NAME_STR, nullptr, name, &nameLen, nullptr));
        CERT_NAME_BLOB blob = {nameLen, name};
        PCCERT_CONTEXT made = CertCreateSelfSignCertificate(prov, &blob, CERT_CREATE_SELFSIGN_NO_KEY_INFO, nullptr,
                                                            &alg, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, made) << GetLastError();
        // From the encoded bytes, so that only the property set here travels.
        PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING, made->pbCertEncoded, made->cbCertEncoded);
        CertFreeCertificateContext(made);
        CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
        ASSERT_TRUE(CertAddCertificateContextToStore(s, ctx, CERT_STORE_ADD_NEW, nullptr)) << GetLastError();
        CertFreeCertificateContext(ctx);
    }
    ASSERT_TRUE(CertControlStore(s, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    CertCloseStore(s, 0);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    ASSERT_EQ(static_cast<size_t>(kForeign), storecheck::Read(store).size());
}

softkey::KeySpec FourContainerKey() {
    return Key("bench", "SN-BENCH", {Container("C1", "multi_c1_sign", "multi_c1_exch"),
                                     Container("C2", "multi_c2_sign", "multi_c2_exch"),
                                     Container("C3", "multi_c3_sign", "multi_c3_exch"),
                                     Container("C4", "multi_c4_sign", "multi_c4_exch")});
}

class Bench : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        testenv::DisableLog();  // the log is off on an ordinary installation
    }
    // Insert of the four-container key, with the stores as they are.
    void TimeInsert(const char* label) {
        const std::wstring path = softkey::DevicePathW("bench");
        double ms = Measure([&] { ListDeleteAllDev(); }, [&] { ASSERT_EQ(0u, ListInsertDev(path.c_str(), 0)); });
        ASSERT_EQ(8u, storecheck::Read(L"My").size() % 1000);
        double del = Measure([&] { if (ListGetDevCount() == 0) ListInsertDev(path.c_str(), 0); },
                             [&] { ASSERT_EQ(0u, ListDeleteDev(path.c_str())); });
        // Registration alone, on the record the last insert left.
        ASSERT_EQ(0u, ListInsertDev(path.c_str(), 0));
        DevRecord* rec = nullptr;
        ListGetDevByIndex(0, &rec);
        double reg = Measure([rec] { UnRegisterKeyCerts(*rec); }, [rec] { ASSERT_EQ(0u, RegisterKeyCerts(*rec)); });
        // The same eight one by one, each with its own open and commit: what
        // reopening the store for every certificate would cost.
        double each = Measure([rec] { UnRegisterKeyCerts(*rec); }, [rec] {
            for (auto& c : rec->containers)
                for (auto& cert : c->certs) ASSERT_EQ(0u, RegisterOneCert(rec, cert.get()));
        });
        ListDeleteAllDev();
        printf("[bench] ListInsertDev, 4 containers / 8 certificates, %s: %.1f ms\n", label, ms);
        printf("[bench]   of which registering the 8 certificates: %.1f ms\n", reg);
        printf("[bench]   (8 x RegisterOneCert, one open each: %.1f ms)\n", each);
        printf("[bench] ListDeleteDev, same key, %s: %.1f ms\n", label, del);
        RecordProperty(std::string("insert_ms_") + label, std::to_string(ms));
    }
};

} // namespace

TEST_F(Bench, InsertFourContainerKey) {
    softkey::WriteKey(FourContainerKey());
    TimeInsert("empty stores");
    FillWithForeign(L"My");
    TimeInsert("beside 1000 foreign entries");
}

TEST_F(Bench, SweepOverThousandForeign) {
    FillWithForeign(L"My");
    // A present key with its 8 certificates registered: the sweep reads every
    // entry's property and keeps all.
    softkey::WriteKey(FourContainerKey());
    ASSERT_EQ(0u, ListInsertDev(softkey::DevicePathW("bench").c_str(), 0));
    double present = Measure([] {}, [] { ASSERT_EQ(0u, UnRegisterCert()); });
    ASSERT_EQ(static_cast<size_t>(kForeign + 8), storecheck::Read(L"My").size());
    // No key present: the 8 of ours are deleted (re-registered, untimed, before each run).
    softkey::SetPresent("bench", false);
    DevRecord* rec = nullptr;
    ListGetDevByIndex(0, &rec);
    double absent = Measure([rec] { RegisterKeyCerts(*rec); }, [] { ASSERT_EQ(0u, UnRegisterCert()); });
    ASSERT_EQ(static_cast<size_t>(kForeign), storecheck::Read(L"My").size());
    printf("[bench] UnRegisterCert over %d foreign + 8 of a present key (nothing deleted): %.1f ms\n", kForeign,
           present);
    printf("[bench] UnRegisterCert over %d foreign + 8 stale (8 deleted): %.1f ms\n", kForeign, absent);
}
