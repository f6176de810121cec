#include "token/store.h"

#include "log/log.h"

#include <vector>

namespace qstore {

const wchar_t kMyStore[] = L"My";
const wchar_t kSm2Store[] = L"qor.sm2";

namespace {

struct Fault {
    std::wstring store;
    StoreOp op;
    DWORD err;
};

std::vector<Fault>& Faults() {
    static std::vector<Fault> faults;
    return faults;
}

DWORD FaultFor(const std::wstring& store, StoreOp op) {
    for (const auto& f : Faults())
        if (f.op == op && _wcsicmp(f.store.c_str(), store.c_str()) == 0) return f.err;
    return 0;
}

} // namespace

CertStore::~CertStore() { Close(); }

ULONG CertStore::Open(const wchar_t* name) {
    Close();
    if (DWORD err = FaultFor(name, StoreOp::Open)) {
        SetLastError(err);
        return err;
    }
    HCERTSTORE h = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
    if (!h) {
        ULONG err = GetLastError();
        return err ? err : static_cast<ULONG>(E_FAIL);
    }
    handle_ = h;
    name_ = name;
    changed_ = false;
    return 0;
}

ULONG CertStore::Close() {
    if (!handle_) return 0;
    ULONG rv = 0;
    if (changed_) {
        // Wine's system stores reach the registry only through an explicit
        // commit (at close they drop deletions and sometimes adds); harmless on Windows.
        DWORD fault = FaultFor(name_, StoreOp::Commit);
        if (fault) {
            rv = fault;
        } else if (!CertControlStore(handle_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
            rv = GetLastError();
            if (!rv) rv = static_cast<ULONG>(E_FAIL);  // a failure must never read as success
        }
        if (rv) LogError("CertControlStore err=0x%08x", static_cast<unsigned>(rv));
    }
    CertCloseStore(handle_, 0);
    handle_ = nullptr;
    name_.clear();
    changed_ = false;
    return rv;
}

void SetStoreFaultForTest(const wchar_t* storeName, StoreOp op, DWORD err) {
    auto& faults = Faults();
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->op == op && _wcsicmp(it->store.c_str(), storeName) == 0) {
            faults.erase(it);
            break;
        }
    }
    if (err) faults.push_back(Fault{storeName, op, err});
}

void ClearStoreFaultsForTest() { Faults().clear(); }

} // namespace qstore
