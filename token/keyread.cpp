#include "token/keyread.h"

#include "log/log.h"
#include "token/certreg.h"
#include "token/results.h"
#include "token/store.h"
#include "token/textconv.h"
#include "token/tokenlib.h"

#include <cstring>
#include <cwchar>

namespace {

// Token-library handles, closed on every way out of a read.
template <typename H, void (*CloseFn)(H)>
class TokHandle {
public:
    TokHandle() = default;
    ~TokHandle() {
        if (h_) CloseFn(h_);
    }
    TokHandle(const TokHandle&) = delete;
    TokHandle& operator=(const TokHandle&) = delete;
    H* Out() { return &h_; }
    H Get() const { return h_; }

private:
    H h_ = nullptr;
};
using DevHandle = TokHandle<DEVHANDLE, TokDisConnectDev>;
using AppHandle = TokHandle<HAPPLICATION, TokCloseApplication>;
using ContainerHandle = TokHandle<HCONTAINER, TokCloseContainer>;

constexpr ULONG kCertBufSize = 5000;

void CopyPath(wchar_t (&dst)[256], const wchar_t* src) {
    // Paths longer than the field are cut; broadcasts carry at most 259 units.
    wcsncpy(dst, src, 255);
    dst[255] = 0;
}

// Exports one certificate of an open container; null when the export fails.
std::unique_ptr<CertRecord> ExportCert(HCONTAINER container, bool sign) {
    BYTE buf[kCertBufSize];
    memset(buf, 0, sizeof buf);
    ULONG len = sizeof buf;
    ULONG rv = TokExportCertificate(container, sign ? TRUE : FALSE, buf, &len);
    if (rv != 0) {
        LogError(sign ? "SKF_ExportCertificate(SIGN) Error=0x%08x" : "SKF_ExportCertificate(EXCHANGE) Error=0x%08x",
                 static_cast<unsigned>(rv));
        return nullptr;
    }
    if (len > sizeof buf) len = sizeof buf;  // a library claiming more than it was given
    auto cert = std::make_unique<CertRecord>();
    cert->keySpec = sign ? AT_SIGNATURE : AT_KEYEXCHANGE;
    cert->certData = std::make_unique<BYTE[]>(len ? len : 1);
    memcpy(cert->certData.get(), buf, len);
    cert->certLen = len;
    ParseCertInfo(cert->certData.get(), cert->certLen, cert.get());
    return cert;
}

void ReadContainer(HAPPLICATION app, const char* name, DevRecord& record) {
    ContainerHandle container;
    ULONG rv = TokOpenContainer(app, name, container.Out());
    if (rv != 0) {
        LogError("SKF_OpenContainer(%s) Error=0x%08x", name, static_cast<unsigned>(rv));
        return;
    }
    auto rec = std::make_unique<ContainerRecord>();
    AnsiToWide(name, static_cast<int>(strlen(name)), rec->containerName, 256, nullptr);
    if (auto cert = ExportCert(container.Get(), true)) rec->certs.push_back(std::move(cert));
    if (auto cert = ExportCert(container.Get(), false)) rec->certs.push_back(std::move(cert));
    if (!rec->certs.empty()) record.containers.push_back(std::move(rec));
}

void ReadApplication(DEVHANDLE dev, const char* name, DevRecord& record) {
    AppHandle app;
    ULONG rv = TokOpenApplication(dev, name, app.Out());
    if (rv != 0) {
        LogError("SKF_OpenApplication(%s) Error=0x%08x", name, static_cast<unsigned>(rv));
        return;
    }
    // Through locals, so that a failing query cannot leave half an answer behind.
    ULONG maxRetry = 0, remainRetry = 0;
    rv = TokGetPINInfo(app.Get(), SKF_USER_PIN, &maxRetry, &remainRetry, nullptr);
    if (rv != 0) {
        LogError("SKF_GetPINInfo(%s) Error=0x%08x", name, static_cast<unsigned>(rv));
    } else {
        record.pinMaxRetry = maxRetry;
        record.pinRemainRetry = remainRetry;
    }

    char list[1024];
    memset(list, 0, sizeof list);
    ULONG size = sizeof list;
    rv = TokEnumContainer(app.Get(), list, &size);
    if (rv != 0) {
        LogError("SKF_EnumContainer Error=0x%08x", static_cast<unsigned>(rv));
        return;  // closes the application
    }
    ForEachName(list, sizeof list, [&](const char* container) { ReadContainer(app.Get(), container, record); });
}

} // namespace

ULONG ParseCertInfo(const BYTE* der, ULONG len, CertRecord* cert) {
    if (!der || !cert) return 1;
    qstore::CertContextPtr ctx(CertCreateCertificateContext(qstore::kCertEncoding, der, len));
    if (!ctx) return 2;
    wchar_t subject[1024] = {};
    CertGetNameStringW(ctx.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_DISABLE_IE4_UTF8_FLAG, nullptr, subject,
                       1024);
    wcsncpy(cert->subjectName, subject, 255);
    cert->subjectName[255] = 0;
    FileTimeToSystemTime(&ctx->pCertInfo->NotBefore, &cert->notBefore);
    FileTimeToSystemTime(&ctx->pCertInfo->NotAfter, &cert->notAfter);
    return 0;
}

ULONG ListInsertDev(const wchar_t* path, ULONG index) {
    DevListGuard guard;
    DevListItems& items = DevListStorage();
    if (index > items.size()) return QR_NOT_FOUND;
    if (!path) {
        LogError("ListInsertDev DevPath Error=0x%08x", static_cast<unsigned>(QR_NULL_PATH));
        return QR_NULL_PATH;
    }

    char devName[256];
    memset(devName, 0, sizeof devName);
    WideToAnsi(path, static_cast<int>(wcslen(path)), devName, sizeof devName, nullptr);

    auto record = std::make_unique<DevRecord>();
    {
        DevHandle dev;
        ULONG rv = TokConnectDev(devName, dev.Out());
        if (rv != 0) {
            LogError("SKF_ConnectDev Error=0x%08x", static_cast<unsigned>(rv));
            return rv;
        }
        DEVINFO info;
        memset(&info, 0, sizeof info);
        rv = TokGetDevInfo(dev.Get(), &info);
        if (rv != 0) {
            LogError("SKF_GetDevInfo Error=0x%08x", static_cast<unsigned>(rv));
            return rv;
        }
        CopyPath(record->devPath, path);
        record->devInfo = info;
        AnsiToWide(info.Label, static_cast<int>(strnlen(info.Label, sizeof info.Label)), record->devLabel, 256,
                   nullptr);

        char apps[1024];
        memset(apps, 0, sizeof apps);
        ULONG size = sizeof apps;
        rv = TokEnumApplication(dev.Get(), apps, &size);
        if (rv != 0) {
            LogError("SKF_EnumApplication Error=0x%08x", static_cast<unsigned>(rv));
            return rv;
        }
        ForEachName(apps, sizeof apps, [&](const char* app) { ReadApplication(dev.Get(), app, *record); });
    }  // disconnected here

    DevRecord& inserted = *record;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), std::move(record));
    RegisterKeyCerts(inserted);  // its result does not change the insert's
    return 0;
}

ULONG ListDeleteDev(const wchar_t* path) {
    DevListGuard guard;
    DevListItems& items = DevListStorage();
    if (items.empty()) return QR_LIST_EMPTY;
    if (!path) return QR_NOT_FOUND;
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (wcscmp((*it)->devPath, path) != 0) continue;
        UnRegisterKeyCerts(**it);  // while the record is still listed; result ignored
        items.erase(it);
        return 0;
    }
    return QR_NOT_FOUND;
}

ULONG ListDeleteAllDev() {
    DevListGuard guard;
    DevListItems& items = DevListStorage();
    while (!items.empty()) {
        UnRegisterKeyCerts(*items.front());
        items.erase(items.begin());
    }
    return 0;
}
