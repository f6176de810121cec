// Certificate registration in the current user's stores "My" and "qor.sm2",
// bound to the vendor's key provider and tagged with the key's serial number.
// A store entry is ours when its key-provider name is the vendor provider's
// (letter case included); its first provider parameter is the tag.
#pragma once

#include "token/devlist.h"

#include <wincrypt.h>

#include <string>

// "Kyrel QOR_ZAF Certificate " + serial (up to its first zero, at most 32 bytes).
std::string BuildRegistrationTag(const DEVINFO& info);
// True when the subject key's algorithm parameters are the 10 bytes of the SM2 OID.
bool IsSm2Certificate(PCCERT_CONTEXT cert);

// Registers every certificate of the listed key. 0; 0x10110011 null path; the
// lookup's error (0x10110021 when the path is not listed); or the first
// CryptoAPI error. A certificate the store cannot decode is skipped (its
// error is still the result); any other failure ends the operation, leaving
// the certificates registered before it.
ULONG ListRegisterCert(const wchar_t* path);
// Registers one certificate of `record` again. 0 (also when `cert` is not the
// record's), 0x10110011 when either is null, or an error.
ULONG RegisterOneCert(DevRecord* record, CertRecord* cert);
// Removes the listed key's entries (and our untagged ones) from both stores.
// 0; the lookup's error (0x10110021 when not listed); or a CryptoAPI error.
ULONG ListUnRegisterCert(const wchar_t* path);
// The sweep: removes our entries that belong to no key present now.
// 0; 1 when the present keys cannot be listed; or a CryptoAPI error.
ULONG UnRegisterCert();

// The same as ListRegisterCert / ListUnRegisterCert for a record already in
// hand, so that key reading and release act on exactly that record even
// when another listed path differs from it only in letter case.
ULONG RegisterKeyCerts(const DevRecord& record);
ULONG UnRegisterKeyCerts(const DevRecord& record);
