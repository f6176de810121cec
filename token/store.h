// Owners for CryptoAPI handles used by certificate registration: a current-user
// system store that commits its changes before it closes, and certificate
// contexts that are released on every way out.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

namespace qstore {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
extern const wchar_t kMyStore[];   // "My"
extern const wchar_t kSm2Store[];  // "qor.sm2"

struct CertContextFree {
    void operator()(PCCERT_CONTEXT c) const {
        if (c) CertFreeCertificateContext(c);
    }
};
using CertContextPtr = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;

// A system store of the current user. Changes are made through the raw
// handle; the owner is told of them (MarkChanged) so that closing commits.
class CertStore {
public:
    CertStore() = default;
    ~CertStore();
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;

    // Opens `name` (closing what was open, committed). 0 or GetLastError().
    ULONG Open(const wchar_t* name);
    bool IsOpen() const { return handle_ != nullptr; }
    HCERTSTORE Get() const { return handle_; }
    const std::wstring& Name() const { return name_; }
    void MarkChanged() { changed_ = true; }

    // Commits pending changes (when there are any) and closes. A failing
    // commit is logged as "CertControlStore err=0x%08x" and its code returned;
    // the store is closed either way. 0 when nothing was open.
    ULONG Close();

private:
    HCERTSTORE handle_ = nullptr;
    std::wstring name_;
    bool changed_ = false;
};

// Test seam: makes the next opens of one store, or its commits, fail with `err`
// (0 clears). The real store cannot be made unopenable from inside a test
// without damaging the shared Wine prefix.
enum class StoreOp { Open, Commit };
void SetStoreFaultForTest(const wchar_t* storeName, StoreOp op, DWORD err);
void ClearStoreFaultsForTest();

} // namespace qstore
