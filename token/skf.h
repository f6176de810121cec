// The vendor token library's interface as the program sees it: the SKF
// device-information record, handle types, the function table filled by
// "SKF_GetFunctionList", and the signatures of the slots the program calls.
// Shared by the program's binding and the software token stand-in.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

typedef void* DEVHANDLE;
typedef void* HAPPLICATION;
typedef void* HCONTAINER;

#pragma pack(push, 1)
struct SKF_VERSION {
    BYTE major;
    BYTE minor;
};

struct DEVINFO {
    SKF_VERSION Version;
    char Manufacturer[64];
    char Issuer[64];
    char Label[32];
    char SerialNumber[32];
    SKF_VERSION HWVersion;
    SKF_VERSION FirmwareVersion;
    uint32_t AlgSymCap;
    uint32_t AlgAsymCap;
    uint32_t AlgHashCap;
    uint32_t DevAuthAlgId;
    uint32_t TotalSpace;
    uint32_t FreeSpace;
    uint32_t MaxECCBufferSize;
    uint32_t MaxBufferSize;
    BYTE Reserved[64];
};
#pragma pack(pop)
static_assert(sizeof(DEVINFO) == 294, "DEVINFO is the standard's 294-byte packed record");
static_assert(offsetof(DEVINFO, Label) == 130 && offsetof(DEVINFO, SerialNumber) == 162, "DEVINFO layout");

constexpr int kSkfSlotCount = 90;

struct SkfFunctionTable {
    void* slot[kSkfSlotCount];
};

// Slots in the standard's order; 78..89 belong to the vendor.
enum SkfSlot : int {
    SLOT_EnumDev = 2,
    SLOT_ConnectDev = 3,
    SLOT_DisConnectDev = 4,
    SLOT_SetLabel = 6,
    SLOT_GetDevInfo = 7,
    SLOT_ChangePIN = 13,
    SLOT_GetPINInfo = 14,
    SLOT_VerifyPIN = 15,
    SLOT_EnumApplication = 19,
    SLOT_OpenApplication = 21,
    SLOT_CloseApplication = 22,
    SLOT_OpenContainer = 31,
    SLOT_CloseContainer = 32,
    SLOT_EnumContainer = 33,
    SLOT_ExportCertificate = 36,
    SLOT_GetOemInfo = 88,
};

constexpr ULONG SKF_USER_PIN = 1;
constexpr ULONG SKF_ADMIN_PIN = 0;

typedef ULONG(WINAPI* PFN_SKF_GetFunctionList)(SkfFunctionTable* table);
typedef ULONG(WINAPI* PFN_SKF_EnumDev)(BOOL present, LPSTR nameList, ULONG* size);
typedef ULONG(WINAPI* PFN_SKF_ConnectDev)(LPSTR name, DEVHANDLE* dev);
typedef ULONG(WINAPI* PFN_SKF_DisConnectDev)(DEVHANDLE dev);
typedef ULONG(WINAPI* PFN_SKF_SetLabel)(DEVHANDLE dev, LPSTR label);
typedef ULONG(WINAPI* PFN_SKF_GetDevInfo)(DEVHANDLE dev, DEVINFO* info);
typedef ULONG(WINAPI* PFN_SKF_ChangePIN)(HAPPLICATION app, ULONG pinType, LPSTR oldPin, LPSTR newPin,
                                         ULONG* retryCount);
typedef ULONG(WINAPI* PFN_SKF_GetPINInfo)(HAPPLICATION app, ULONG pinType, ULONG* maxRetry, ULONG* remainRetry,
                                          BOOL* defaultPin);
typedef ULONG(WINAPI* PFN_SKF_VerifyPIN)(HAPPLICATION app, ULONG pinType, LPSTR pin, ULONG* retryCount);
typedef ULONG(WINAPI* PFN_SKF_EnumApplication)(DEVHANDLE dev, LPSTR nameList, ULONG* size);
typedef ULONG(WINAPI* PFN_SKF_OpenApplication)(DEVHANDLE dev, LPSTR name, HAPPLICATION* app);
typedef ULONG(WINAPI* PFN_SKF_CloseApplication)(HAPPLICATION app);
typedef ULONG(WINAPI* PFN_SKF_OpenContainer)(HAPPLICATION app, LPSTR name, HCONTAINER* container);
typedef ULONG(WINAPI* PFN_SKF_CloseContainer)(HCONTAINER container);
typedef ULONG(WINAPI* PFN_SKF_EnumContainer)(HAPPLICATION app, LPSTR nameList, ULONG* size);
typedef ULONG(WINAPI* PFN_SKF_ExportCertificate)(HCONTAINER container, BOOL sign, BYTE* cert, ULONG* certLen);
typedef ULONG(WINAPI* PFN_SKF_GetOemInfo)(DEVHANDLE dev, BYTE* oem, ULONG* len);

// Error codes of the standard that the stand-in reports and tests expect.
constexpr ULONG SAR_OK = 0;
constexpr ULONG SAR_FAIL = 0x0A000001;
constexpr ULONG SAR_NOTSUPPORTYETERR = 0x0A000003;
constexpr ULONG SAR_FILEERR = 0x0A000004;
constexpr ULONG SAR_INVALIDHANDLEERR = 0x0A000005;
constexpr ULONG SAR_INVALIDPARAMERR = 0x0A000006;
constexpr ULONG SAR_CERTNOTFOUNTERR = 0x0A00001C;
constexpr ULONG SAR_BUFFER_TOO_SMALL = 0x0A000020;
constexpr ULONG SAR_DEVICE_REMOVED = 0x0A000023;
constexpr ULONG SAR_PIN_INCORRECT = 0x0A000024;
constexpr ULONG SAR_PIN_LOCKED = 0x0A000025;
constexpr ULONG SAR_PIN_INVALID = 0x0A000026;
constexpr ULONG SAR_PIN_LEN_RANGE = 0x0A000027;
constexpr ULONG SAR_USER_TYPE_INVALID = 0x0A00002A;
constexpr ULONG SAR_APPLICATION_NOT_EXISTS = 0x0A00002E;
