// Console driver: loads the token library through the program's binding and
// prints each present key's label, serial number and user-PIN retry counts.
// With --register it then runs the core path for every key: reads it into the
// device list (which registers its certificates in the user's stores), shows
// what the stores hold of ours, and releases the key again.
// A developer's tool (the demo runs it), so its output is not translated.
#include "token/certreg.h"
#include "token/keyread.h"
#include "token/textconv.h"
#include "token/tokenlib.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void PrintKey(const char* name) {
    printf("%s\n", name);
    DEVHANDLE dev = nullptr;
    ULONG rv = TokConnectDev(name, &dev);
    if (rv != 0) {
        printf("  connect failed: 0x%08lx\n", rv);
        return;
    }
    DEVINFO info;
    memset(&info, 0, sizeof info);
    rv = TokGetDevInfo(dev, &info);
    if (rv == 0) {
        // Neither field needs a terminator inside its 32 bytes.
        printf("  label: %.32s\n  serial: %.32s\n", info.Label, info.SerialNumber);
    } else {
        printf("  device info failed: 0x%08lx\n", rv);
    }
    char apps[1024] = {};
    ULONG size = sizeof apps;
    rv = TokEnumApplication(dev, apps, &size);
    if (rv == 0 && apps[0] != 0) {
        HAPPLICATION app = nullptr;
        rv = TokOpenApplication(dev, apps, &app);
        if (rv == 0) {
            ULONG maxRetry = 0, remain = 0;
            rv = TokGetPINInfo(app, SKF_USER_PIN, &maxRetry, &remain, nullptr);
            if (rv == 0) printf("  user PIN retries: %lu/%lu\n", remain, maxRetry);
            TokCloseApplication(app);
        }
    }
    if (rv != 0) printf("  PIN info failed: 0x%08lx\n", rv);
    TokDisConnectDev(dev);
}

const wchar_t kOurProvider[] = L"NORV Kyrel CSP for QOR_ZAF v1.0";

// Entries of our provider in one of the user's stores; prints them when asked.
int ShowOurEntries(const wchar_t* storeName, bool print) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, storeName);
    if (!store) {
        printf("  cannot open store %ls: 0x%08lx\n", storeName, GetLastError());
        return 0;
    }
    int count = 0;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) continue;
        std::vector<BYTE> buf(size);
        if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) continue;
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buf.data());
        if (!info->pwszProvName || wcscmp(info->pwszProvName, kOurProvider) != 0) continue;
        ++count;
        if (!print) continue;
        wchar_t subject[256] = {};
        CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, 256);
        std::string tag;
        if (info->cProvParam > 0 && info->rgProvParam[0].pbData)
            tag.assign(reinterpret_cast<const char*>(info->rgProvParam[0].pbData), info->rgProvParam[0].cbData);
        printf("  %-8ls %-32ls container %-6ls keyspec %lu  tag \"%s\"\n", storeName, subject,
               info->pwszContainerName, info->dwKeySpec, tag.c_str());
    }
    CertCloseStore(store, 0);
    return count;
}

void RunCorePath(const std::vector<std::wstring>& paths) {
    InitDevListLock();
    for (const auto& path : paths) {
        ULONG rv = ListInsertDev(path.c_str(), ListGetDevCount());
        printf("\nListInsertDev -> 0x%08lx\n", rv);
    }
    printf("registered in the current user's stores:\n");
    ShowOurEntries(L"My", true);
    ShowOurEntries(L"qor.sm2", true);
    printf("sweep of stale registrations -> %lu\n", UnRegisterCert());
    for (const auto& path : paths) {
        DevRecord* rec = nullptr;
        if (ListGetInfoFromDev(path.c_str(), &rec) == 0 && rec) {
            printf("key \"%ls\": %u container(s) with certificates\n", rec->devLabel,
                   static_cast<unsigned>(rec->containers.size()));
        }
        printf("ListDeleteDev -> 0x%08lx\n", ListDeleteDev(path.c_str()));
    }
    printf("left in the stores after the keys were released: %d\n",
           ShowOurEntries(L"My", false) + ShowOurEntries(L"qor.sm2", false));
    DeleteDevListLock();
}

} // namespace

int main(int argc, char** argv) {
    bool registerCerts = argc > 1 && strcmp(argv[1], "--register") == 0;
    std::vector<std::wstring> paths;
    wchar_t list[2048] = {};
    ULONG size = 2048;
    ULONG rv = EnumPresentKeys(&size, list);
    if (rv != 0) {
        printf("no key list (EnumPresentKeys=%lu)\n", rv);
        return 1;
    }
    int count = 0;
    for (size_t pos = 0; pos < size && list[pos] != 0; ++count) {
        size_t len = wcsnlen(list + pos, size - pos);
        char name[1024] = {};
        int bytes = 0;
        WideToAnsi(list + pos, static_cast<int>(len), name, sizeof name, &bytes);
        PrintKey(name);
        paths.emplace_back(list + pos, len);
        pos += len + 1;
    }
    printf("%d key(s) present\n", count);
    if (registerCerts) RunCorePath(paths);
    return 0;
}
