#include "tests/certs/certfixture.h"

#include "tests/support/testenv.h"
#include "token/store.h"

#include <cstdio>
#include <cstring>

namespace certfix {

const wchar_t kMy[] = L"My";
const wchar_t kSm2[] = L"qor.sm2";

void StoreTest::SetUp() {
    testenv::EnableLog();
    InitDevListLock();
    storecheck::Wipe(kMy);
    storecheck::Wipe(kSm2);
    ASSERT_TRUE(storecheck::Read(kMy).empty());
    ASSERT_TRUE(storecheck::Read(kSm2).empty());
}

void StoreTest::TearDown() {
    qstore::ClearStoreFaultsForTest();
    {
        DevListGuard guard;
        DevListStorage().clear();
    }
    storecheck::Wipe(kMy);
    storecheck::Wipe(kSm2);
}

DevRecord* AddRecord(const std::wstring& path, const std::string& serial, const std::vector<ContainerDef>& containers) {
    auto rec = std::make_unique<DevRecord>();
    wcsncpy(rec->devPath, path.c_str(), 255);
    memcpy(rec->devInfo.SerialNumber, serial.data(), serial.size() < 32 ? serial.size() : 32);
    for (const auto& c : containers) {
        auto cont = std::make_unique<ContainerRecord>();
        wcsncpy(cont->containerName, c.name.c_str(), 255);
        for (const auto& d : c.certs) {
            if (d.der.empty()) continue;
            auto cert = std::make_unique<CertRecord>();
            cert->certLen = static_cast<ULONG>(d.der.size());
            cert->certData = std::make_unique<BYTE[]>(d.der.size());
            memcpy(cert->certData.get(), d.der.data(), d.der.size());
            cert->keySpec = d.keySpec;
            cont->certs.push_back(std::move(cert));
        }
        rec->containers.push_back(std::move(cont));
    }
    DevListGuard guard;
    DevListStorage().push_back(std::move(rec));
    return DevListStorage().back().get();
}

softkey::ContainerSpec Container(const std::string& name, const std::string& signCert, const std::string& exchCert) {
    softkey::ContainerSpec c;
    c.name = name;
    if (!signCert.empty()) c.signDer = storecheck::Cert(signCert);
    if (!exchCert.empty()) c.exchDer = storecheck::Cert(exchCert);
    return c;
}

softkey::KeySpec Key(const std::string& id, const std::string& serial, std::vector<softkey::ContainerSpec> containers) {
    softkey::KeySpec k;
    k.id = id;
    k.serial = serial;
    k.apps[0].containers = std::move(containers);
    return k;
}

namespace {
bool HasLevelLine(const char* level, const std::string& text) {
    std::string want = std::string("] ") + level + " " + text;
    for (const auto& line : testenv::LogLines()) {
        if (line.size() >= want.size() && line.compare(line.size() - want.size(), want.size(), want) == 0) return true;
    }
    return false;
}
} // namespace

bool HasErr(const std::string& text) { return HasLevelLine("ERR", text); }
bool HasInf(const std::string& text) { return HasLevelLine("INF", text); }

std::string Hex8(ULONG v) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

} // namespace certfix
