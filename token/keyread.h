// Key reading and release: a device path becomes a complete DevRecord
// (label, PIN retry counts, containers, certificates) whose certificates are
// registered; deleting a key (or all keys) unregisters them again.
#pragma once

#include "token/devlist.h"

// 0; 1 when an argument is missing; 2 when the bytes are not a certificate.
ULONG ParseCertInfo(const BYTE* der, ULONG len, CertRecord* cert);

// 0; 0x10110013 index > count; 0x10110023 null path; or the failing
// SKF_ConnectDev / SKF_GetDevInfo / SKF_EnumApplication result.
ULONG ListInsertDev(const wchar_t* path, ULONG index);
// 0; 0x10110014 empty list; 0x10110013 when no record's path equals `path` exactly.
ULONG ListDeleteDev(const wchar_t* path);
ULONG ListDeleteAllDev();
