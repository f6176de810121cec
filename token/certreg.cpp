#include "token/certreg.h"

#include "log/log.h"
#include "token/results.h"
#include "token/store.h"
#include "token/tokenlib.h"

#include <cstring>
#include <vector>

using qstore::CertContextPtr;
using qstore::CertStore;
using qstore::kCertEncoding;

namespace {

const char kTagPrefix[] = "Kyrel QOR_ZAF Certificate ";
constexpr size_t kTagPrefixLen = sizeof kTagPrefix - 1;  // 26
static_assert(kTagPrefixLen == 26, "tag prefix is 26 bytes");
const wchar_t kProvName[] = L"NORV Kyrel CSP for QOR_ZAF v1.0";
const BYTE kSm2Params[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};

// CryptoAPI failures pass up as GetLastError(); a call that failed without
// setting it must still not read as success.
ULONG LastError() {
    DWORD e = GetLastError();
    return e ? e : static_cast<ULONG>(E_FAIL);
}

std::string SerialTag(const char serial[32]) { return std::string(kTagPrefix) + std::string(serial, strnlen(serial, 32)); }

// Registers one certificate through the carried store, which stays open for
// the next one on success and is closed (committed) on failure. *skipped is
// set when the certificate itself is unusable and the caller may go on.
ULONG RegisterCertInto(CertStore& store, const CertRecord& cert, const wchar_t* container, const std::string& tag,
                       bool* skipped) {
    *skipped = false;
    CertContextPtr ctx(CertCreateCertificateContext(kCertEncoding, cert.certData.get(), cert.certLen));
    if (!ctx) {
        ULONG err = LastError();
        LogError("CertCreateCertificateContext err=0x%08x", static_cast<unsigned>(err));
        *skipped = true;
        return err;
    }

    const bool sm2 = IsSm2Certificate(ctx.get());
    const wchar_t* target = sm2 ? qstore::kSm2Store : qstore::kMyStore;
    if (!store.IsOpen() || store.Name() != target) {
        // One open per store and operation: opening loads the whole store.
        if (ULONG rv = store.Close()) return rv;
        if (ULONG rv = store.Open(target)) {
            LogError(sm2 ? "SM2 CertOpenStore err=0x%08x" : "CertOpenStore err=0x%08x", static_cast<unsigned>(rv));
            return rv;
        }
    }

    CRYPT_KEY_PROV_PARAM param = {};
    param.dwParam = 0;
    param.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(tag.data()));
    param.cbData = static_cast<DWORD>(tag.size());
    param.dwFlags = 0;
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = const_cast<wchar_t*>(container);
    info.pwszProvName = const_cast<wchar_t*>(kProvName);
    info.dwProvType = PROV_RSA_FULL;  // for SM2 certificates too
    info.dwFlags = 0;
    info.cProvParam = 1;
    info.rgProvParam = &param;
    info.dwKeySpec = cert.keySpec;
    if (!CertSetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, CERT_STORE_NO_CRYPT_RELEASE_FLAG,
                                           &info)) {
        ULONG err = LastError();
        ctx.reset();
        store.Close();
        LogError("CertSetCertificateContextProperty err=0x%08x", static_cast<unsigned>(err));
        return err;
    }

    if (CertAddCertificateContextToStore(store.Get(), ctx.get(), CERT_STORE_ADD_NEW, nullptr)) {
        store.MarkChanged();
        return 0;
    }
    ULONG addErr = LastError();
    if (addErr != static_cast<ULONG>(CRYPT_E_EXISTS)) {
        ctx.reset();
        store.Close();
        LogError("CertSetCertificateContextProperty = 0x%08x", static_cast<unsigned>(addErr));
        return addErr;
    }

    // Registered before (an earlier run, or the key came back): drop the old
    // copy so the fresh provider property is the one that stays.
    wchar_t subject[1024] = {};
    CertGetNameStringW(ctx.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_DISABLE_IE4_UTF8_FLAG, nullptr, subject,
                       1024);
    PCCERT_CONTEXT hit = nullptr;
    while ((hit = CertFindCertificateInStore(store.Get(), kCertEncoding, 0, CERT_FIND_SUBJECT_STR_W, subject, hit)) !=
           nullptr) {
        if (CertCompareCertificate(kCertEncoding, hit->pCertInfo, ctx->pCertInfo)) {
            if (CertDeleteCertificateFromStore(hit)) {
                store.MarkChanged();
            } else {
                LogError("CertDeleteCertificateFromStore err=0x%08x", static_cast<unsigned>(LastError()));
            }
            break;  // the delete released the hit
        }
    }
    if (!CertAddCertificateContextToStore(store.Get(), ctx.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        ULONG err = LastError();
        ctx.reset();
        store.Close();
        LogError("CertAddCertificateContextToStore err=0x%08x", static_cast<unsigned>(err));
        return err;
    }
    store.MarkChanged();
    return 0;
}

ULONG RegisterAll(const DevRecord& record) {
    const std::string tag = BuildRegistrationTag(record.devInfo);
    CertStore store;
    ULONG first = 0;
    for (const auto& container : record.containers) {
        for (const auto& cert : container->certs) {
            bool skipped = false;
            ULONG rv = RegisterCertInto(store, *cert, container->containerName, tag, &skipped);
            if (rv == 0) continue;
            if (!first) first = rv;
            // Garbage bytes from the key spoil only that certificate; a store failure would repeat.
            if (!skipped) return first;
        }
    }
    ULONG rv = store.Close();
    return first ? first : rv;
}

// First provider parameter, or null when absent or unusable.
const CRYPT_KEY_PROV_PARAM* FirstParam(const CRYPT_KEY_PROV_INFO& info) {
    if (info.cProvParam == 0 || !info.rgProvParam || !info.rgProvParam[0].pbData) return nullptr;
    return &info.rgProvParam[0];
}

bool TagEquals(const CRYPT_KEY_PROV_PARAM& p, const std::string& tag) {
    // The whole tag: serial "123" must not claim the entries of serial "1234".
    return p.cbData == tag.size() && memcmp(p.pbData, tag.data(), tag.size()) == 0;
}

bool IsOurs(const CRYPT_KEY_PROV_INFO& info) {
    return info.pwszProvName && wcscmp(info.pwszProvName, kProvName) == 0;
}

// Removes from an open store every entry of ours for which doomed(info) says
// so, then commits and closes it. Deleting inside the enumeration does not
// terminate correctly under Wine, so matches are collected first.
template <typename Pred>
ULONG CleanStore(CertStore& store, Pred doomed) {
    std::vector<CertContextPtr> matches;
    ULONG failure = 0;
    PCCERT_CONTEXT cur = nullptr;
    while ((cur = CertEnumCertificatesInStore(store.Get(), cur)) != nullptr) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(cur, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            ULONG err = LastError();
            if (err == static_cast<ULONG>(CRYPT_E_NOT_FOUND)) continue;
            CertFreeCertificateContext(cur);
            LogError("CertGetCertificateContextProperty1 err=0x%08x", static_cast<unsigned>(err));
            failure = err;
            break;
        }
        // Pointer-aligned: the record holds pointers into itself.
        std::vector<ULONG_PTR> buf((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR) + 1);
        if (!CertGetCertificateContextProperty(cur, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) {
            ULONG err = LastError();
            CertFreeCertificateContext(cur);
            LogError("CertGetCertificateContextProperty2 err=0x%08x", static_cast<unsigned>(err));
            failure = err;
            break;
        }
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
        if (IsOurs(*info) && doomed(*info)) matches.emplace_back(CertDuplicateCertificateContext(cur));
    }
    // Entries matched before a failure go, as they would have in a delete-as-you-go walk.
    for (auto& m : matches) {
        if (CertDeleteCertificateFromStore(m.release())) {
            store.MarkChanged();
        } else {
            ULONG err = LastError();
            LogError("CertDeleteCertificateFromStore err=0x%08x", static_cast<unsigned>(err));
            if (!failure) failure = err;
        }
    }
    ULONG rv = store.Close();
    return failure ? failure : rv;
}

// Runs CleanStore over "My" (skipped when it cannot be opened) and "qor.sm2".
template <typename Pred>
ULONG CleanBothStores(Pred doomed) {
    {
        CertStore my;
        if (ULONG rv = my.Open(qstore::kMyStore)) {
            LogError("CertOpenStore My err=0x%08x", static_cast<unsigned>(rv));
        } else if (ULONG rv2 = CleanStore(my, doomed)) {
            return rv2;
        }
    }
    CertStore sm2;
    if (ULONG rv = sm2.Open(qstore::kSm2Store)) {
        LogError("CertOpenStore SM2 err=0x%08x", static_cast<unsigned>(rv));
        return rv;
    }
    return CleanStore(sm2, doomed);
}

ULONG UnregisterTag(const std::string& tag) {
    return CleanBothStores([&tag](const CRYPT_KEY_PROV_INFO& info) {
        const CRYPT_KEY_PROV_PARAM* p = FirstParam(info);
        if (!p || p->cbData < 4) return true;  // ours but untagged
        return TagEquals(*p, tag);
    });
}

// The listed record for `path`, or an error already logged.
ULONG FindRecord(const wchar_t* path, DevRecord** record) {
    ULONG rv = ListGetInfoFromDev(path, record);
    if (rv == 0 && !*record) rv = QR_PATH_NOT_LISTED;  // the lookup reports an unlisted path as success
    if (rv) LogError("ListGetInfoFromDev err=0x%08x", static_cast<unsigned>(rv));
    return rv;
}

class DevConnection {
public:
    DevConnection() = default;
    ~DevConnection() {
        if (dev_) TokDisConnectDev(dev_);
    }
    DevConnection(const DevConnection&) = delete;
    DevConnection& operator=(const DevConnection&) = delete;
    ULONG Connect(const char* name) { return TokConnectDev(name, &dev_); }
    DEVHANDLE Get() const { return dev_; }

private:
    DEVHANDLE dev_ = nullptr;
};

} // namespace

std::string BuildRegistrationTag(const DEVINFO& info) { return SerialTag(info.SerialNumber); }

bool IsSm2Certificate(PCCERT_CONTEXT cert) {
    if (!cert || !cert->pCertInfo) return false;
    const CRYPT_OBJID_BLOB& p = cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.Parameters;
    return p.cbData == sizeof kSm2Params && p.pbData && memcmp(p.pbData, kSm2Params, sizeof kSm2Params) == 0;
}

ULONG RegisterKeyCerts(const DevRecord& record) {
    FuncTracer trace("ListRegisterCert");
    return RegisterAll(record);
}

ULONG UnRegisterKeyCerts(const DevRecord& record) {
    FuncTracer trace("ListUnRegisterCert");
    return UnregisterTag(BuildRegistrationTag(record.devInfo));
}

ULONG ListRegisterCert(const wchar_t* path) {
    FuncTracer trace("ListRegisterCert");
    if (!path) {
        LogError("Bad Parameter=0x%08x", static_cast<unsigned>(QR_BAD_PARAM));
        return QR_BAD_PARAM;
    }
    DevRecord* record = nullptr;
    if (ULONG rv = FindRecord(path, &record)) return rv;
    return RegisterAll(*record);
}

ULONG RegisterOneCert(DevRecord* record, CertRecord* cert) {
    FuncTracer trace("ListRegisterCert");
    if (!record || !cert) {
        LogError("Bad Parameter=0x%08x", static_cast<unsigned>(QR_BAD_PARAM));
        return QR_BAD_PARAM;
    }
    const std::string tag = BuildRegistrationTag(record->devInfo);
    for (const auto& container : record->containers) {
        for (const auto& c : container->certs) {
            if (c.get() != cert) continue;
            CertStore store;
            bool skipped = false;
            ULONG rv = RegisterCertInto(store, *c, container->containerName, tag, &skipped);
            ULONG closed = store.Close();
            return rv ? rv : closed;
        }
    }
    return 0;
}

ULONG ListUnRegisterCert(const wchar_t* path) {
    FuncTracer trace("ListUnRegisterCert");
    DevRecord* record = nullptr;
    if (ULONG rv = FindRecord(path, &record)) return rv;
    return UnregisterTag(BuildRegistrationTag(record->devInfo));
}

ULONG UnRegisterCert() {
    FuncTracer trace("UnRegisterCert");
    std::vector<std::string> vectCertID;

    char list[4096];
    memset(list, 0, sizeof list);
    ULONG size = sizeof list;
    ULONG rv = TokEnumDev(TRUE, list, &size);
    if (rv != 0) {
        LogError("SKF_EnumDev error,rv=0x%08x", static_cast<unsigned>(rv));
        return 1;
    }
    if (size > 0) {
        // The zeroed buffer ends the list whatever size the library reported.
        ForEachName(list, sizeof list, [&vectCertID](const char* name) {
            char devName[1024];
            memset(devName, 0, sizeof devName);
            memcpy(devName, name, strnlen(name, sizeof devName - 1));
            DevConnection dev;
            if (dev.Connect(devName) != 0) return;
            DEVINFO info;
            memset(&info, 0, sizeof info);
            if (TokGetDevInfo(dev.Get(), &info) != 0) return;
            vectCertID.push_back(BuildRegistrationTag(info));
        });
    }
    LogInfo("vectCertID.size()=%d", static_cast<int>(vectCertID.size()));

    return CleanBothStores([&vectCertID](const CRYPT_KEY_PROV_INFO& info) {
        if (vectCertID.empty()) {
            LogInfo("delete cert 1");
            return true;
        }
        const CRYPT_KEY_PROV_PARAM* p = FirstParam(info);
        if (!p || p->cbData < kTagPrefixLen) return false;  // untagged: not ours to judge while keys are present
        for (const auto& tag : vectCertID)
            if (TagEquals(*p, tag)) return false;
        LogInfo("delete cert 2");
        return true;
    });
}
