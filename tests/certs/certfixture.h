// Shared set-up for the certificate tests: clean stores before and after,
// the log on, the device-list lock, records built by hand or read from the
// software token.
#pragma once

#include "tests/certs/storecheck.h"
#include "tests/support/softkey.h"
#include "token/devlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace certfix {

extern const wchar_t kMy[];
extern const wchar_t kSm2[];

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

struct CertDef {
    std::string der;  // empty: no certificate
    ULONG keySpec;
};
struct ContainerDef {
    std::wstring name;
    std::vector<CertDef> certs;
};

// Appends a hand-built record to the device list (as key reading would).
DevRecord* AddRecord(const std::wstring& path, const std::string& serial, const std::vector<ContainerDef>& containers);

// A software-token container from fixture names ("" for none).
softkey::ContainerSpec Container(const std::string& name, const std::string& signCert, const std::string& exchCert);
// A key with one application holding the given containers.
softkey::KeySpec Key(const std::string& id, const std::string& serial, std::vector<softkey::ContainerSpec> containers);

// Exact log line check: some line ends with "ERR " + text (or "INF " + text).
bool HasErr(const std::string& text);
bool HasInf(const std::string& text);
std::string Hex8(ULONG v);  // "0x%08x"

} // namespace certfix
