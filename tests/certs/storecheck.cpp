#include "tests/certs/storecheck.h"

#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace storecheck {

const wchar_t kProvName[] = L"NORV Kyrel CSP for QOR_ZAF v1.0";

namespace {

constexpr DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Hex(const void* data, size_t len) {
    static const char digits[] = "0123456789ABCDEF";
    const BYTE* p = static_cast<const BYTE*>(data);
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out.empty() ? "-" : out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string WideHex(const wchar_t* s) { return s ? Hex(s, wcslen(s) * sizeof(wchar_t)) : "-"; }

std::wstring UnhexWide(const std::string& hex) {
    std::string bytes = Unhex(hex);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

HCERTSTORE OpenStore(const wchar_t* name) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
}

void Commit(HCERTSTORE s) {
    // Wine persists a system store's changes only through a commit.
    BOOL ok = CertControlStore(s, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    EXPECT_TRUE(ok) << "commit failed: " << GetLastError();
}

} // namespace

std::string Dump(const wchar_t* store) {
    HCERTSTORE s = OpenStore(store);
    if (!s) return "open-failed\n";
    std::ostringstream out;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(s, c)) != nullptr) {
        BYTE hash[20] = {};
        DWORD hashLen = sizeof hash;
        CryptHashCertificate(0, CALG_SHA1, 0, c->pbCertEncoded, c->cbCertEncoded, hash, &hashLen);
        out << Hex(hash, hashLen);
        DWORD size = 0;
        if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            std::vector<ULONG_PTR> buf(size / sizeof(ULONG_PTR) + 2);
            CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size);
            const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
            out << " 1 " << WideHex(info->pwszContainerName) << " " << WideHex(info->pwszProvName) << " "
                << info->dwProvType << " " << info->dwFlags << " " << info->dwKeySpec << " " << info->cProvParam;
            if (info->cProvParam > 0 && info->rgProvParam) {
                const CRYPT_KEY_PROV_PARAM& p = info->rgProvParam[0];
                out << " " << p.dwParam << " " << p.dwFlags << " " << Hex(p.pbData, p.pbData ? p.cbData : 0);
            } else {
                out << " 0 0 -";
            }
        } else {
            out << " 0 - - 0 0 0 0 0 0 -";
        }
        out << "\n";
    }
    CertCloseStore(s, 0);
    return out.str();
}

std::vector<Entry> Parse(const std::string& dump) {
    std::vector<Entry> entries;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line == "open-failed") {
            ADD_FAILURE() << "store could not be opened";
            continue;
        }
        std::istringstream f(line);
        Entry e;
        int has = 0;
        std::string cont, prov, p0;
        f >> e.sha1 >> has >> cont >> prov >> e.provType >> e.provFlags >> e.keySpec >> e.paramCount >> e.param0Id >>
            e.param0Flags >> p0;
        e.hasProv = has != 0;
        e.container = UnhexWide(cont);
        e.provName = UnhexWide(prov);
        e.param0 = Unhex(p0);
        entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<Entry> Read(const wchar_t* store, Where where) {
    if (where == Where::ThisProcess) return Parse(Dump(store));
    std::wstring out = testenv::TempDirW() + L"storedump.txt";
    DeleteFileW(out.c_str());
    std::wstring exe = testenv::TestBinDir() + L"\\certstore_dump.exe";
    std::wstring cmd = L"\"" + exe + L"\" \"" + store + L"\" \"" + out + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start certstore_dump.exe: " << GetLastError();
        return {};
    }
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(0u, code) << "certstore_dump.exe failed";
    return Parse(testenv::ReadFileBytes(out));
}

std::vector<Entry> ReadBoth(const wchar_t* store) {
    auto here = Read(store, Where::ThisProcess);
    auto there = Read(store, Where::NewProcess);
    EXPECT_EQ(Hashes(here), Hashes(there)) << "store differs when read from a new process";
    for (size_t i = 0; i < here.size() && i < there.size(); ++i) {
        EXPECT_EQ(here[i].param0, there[i].param0);
        EXPECT_EQ(here[i].provName, there[i].provName);
    }
    return there;
}

std::string Sha1Hex(const std::string& der) {
    BYTE hash[20] = {};
    DWORD len = sizeof hash;
    CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()),
                         hash, &len);
    return Hex(hash, len);
}

std::vector<Entry> WithCert(const std::vector<Entry>& entries, const std::string& der) {
    std::string h = Sha1Hex(der);
    std::vector<Entry> out;
    for (const auto& e : entries)
        if (e.sha1 == h) out.push_back(e);
    return out;
}

std::vector<std::string> Hashes(const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.sha1);
    return out;
}

void Wipe(const wchar_t* store) {
    HCERTSTORE s = OpenStore(store);
    ASSERT_NE(nullptr, s) << "open " << testenv::Narrow(store);
    std::vector<PCCERT_CONTEXT> all;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(s, c)) != nullptr) all.push_back(CertDuplicateCertificateContext(c));
    for (PCCERT_CONTEXT d : all) CertDeleteCertificateFromStore(d);
    Commit(s);
    CertCloseStore(s, 0);
}

void Add(const wchar_t* store, const std::string& der, const Prov* prov) {
    PCCERT_CONTEXT ctx =
        CertCreateCertificateContext(kEnc, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    ASSERT_NE(nullptr, ctx) << "not a certificate";
    if (prov) {
        CRYPT_KEY_PROV_PARAM param = {};
        param.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(prov->tag.data()));
        param.cbData = static_cast<DWORD>(prov->tag.size());
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = const_cast<wchar_t*>(prov->container.c_str());
        info.pwszProvName = const_cast<wchar_t*>(prov->provName.c_str());
        info.dwProvType = PROV_RSA_FULL;
        info.cProvParam = prov->paramCount;
        info.rgProvParam = prov->paramCount ? &param : nullptr;
        info.dwKeySpec = prov->keySpec;
        EXPECT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    }
    HCERTSTORE s = OpenStore(store);
    ASSERT_NE(nullptr, s);
    EXPECT_TRUE(CertAddCertificateContextToStore(s, ctx, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        << GetLastError();
    Commit(s);
    CertCloseStore(s, 0);
    CertFreeCertificateContext(ctx);
}

std::string Cert(const std::string& name) {
    std::string der = testenv::ReadFileBytes(testenv::TestDataDir() + L"\\certs\\" + testenv::Widen(name) + L".der");
    EXPECT_FALSE(der.empty()) << "missing test certificate " << name;
    return der;
}

std::string Tag(const std::string& serial) { return "Kyrel QOR_ZAF Certificate " + serial; }

} // namespace storecheck
