// The device list: the program's model of the keys that are plugged in.
// One process-wide ordered list of owned records, guarded by DevListLock, a
// recursive lock the main dialog creates at start and deletes at the end.
// Record pointers handed out stay valid on the main thread, the only one
// that frees records.
#pragma once

#include "token/skf.h"

#include <memory>
#include <vector>

struct CertRecord {
    wchar_t subjectName[256] = {};
    SYSTEMTIME notBefore = {};  // UTC
    SYSTEMTIME notAfter = {};   // UTC
    std::unique_ptr<BYTE[]> certData;
    ULONG certLen = 0;
    ULONG keySpec = 0;  // AT_SIGNATURE (2) or AT_KEYEXCHANGE (1)
};

struct ContainerRecord {
    wchar_t containerName[256] = {};
    std::vector<std::unique_ptr<CertRecord>> certs;  // signature first, then exchange
};

struct DevRecord {
    wchar_t devPath[256] = {};
    wchar_t devLabel[256] = {};
    DEVINFO devInfo = {};
    ULONG pinMaxRetry = 6;
    ULONG pinRemainRetry = 6;
    std::vector<std::unique_ptr<ContainerRecord>> containers;
};

using DevListItems = std::vector<std::unique_ptr<DevRecord>>;

// Lock lifetime (main dialog). Using the lock while it does not exist is a no-op,
// so the model can be exercised without the dialog once a test has created it.
void InitDevListLock();
void DeleteDevListLock();
void EnterDevListLock();
void LeaveDevListLock();

class DevListGuard {
public:
    DevListGuard() { EnterDevListLock(); }
    ~DevListGuard() { LeaveDevListLock(); }
    DevListGuard(const DevListGuard&) = delete;
    DevListGuard& operator=(const DevListGuard&) = delete;
};

// Lookups; each takes DevListLock for its run. Paths compare ignoring case.
ULONG ListGetDevIndex(const wchar_t* path, int* index);           // 0x10110021 + index -1 when absent
ULONG ListGetInfoFromDev(const wchar_t* path, DevRecord** record); // 0x10110013 on an empty list; 0 + null when absent
ULONG ListGetDevByIndex(ULONG index, DevRecord** record);         // 0x10110013 when index >= count
ULONG ListGetDevCount();

// The storage itself, for key reading and release only; the caller holds the lock.
DevListItems& DevListStorage();
