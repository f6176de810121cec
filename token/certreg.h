// Certificate registration in the current user's stores "My" and "qor.sm2",
// bound to the vendor's key provider and tagged with the key's serial number.
#pragma once

#include "token/devlist.h"

#include <string>

// "Kyrel QOR_ZAF Certificate " + serial (up to its first zero, at most 32 bytes).
std::string BuildRegistrationTag(const DEVINFO& info);
// True when the subject key's algorithm parameters are the 10 bytes of the SM2 OID.
bool IsSm2Certificate(PCCERT_CONTEXT cert);

ULONG ListRegisterCert(const wchar_t* path);
ULONG RegisterOneCert(DevRecord* record, CertRecord* cert);
ULONG ListUnRegisterCert(const wchar_t* path);
ULONG UnRegisterCert();  // the sweep: 0; 1 when the present keys cannot be listed
