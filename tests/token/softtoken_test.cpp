// The software token's own protocol where callers rely on it: size queries,
// PIN retry counting, handle checks, pulled-out keys, fault injection, the
// state written back to the key files and the open-handle counts. Reached
// through the program's binding, as the program reaches it.
#include "tests/support/softkey.h"
#include "tests/support/testenv.h"
#include "tests/token/tokfixture.h"
#include "token/tokenlib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

using namespace tokfix;

namespace {

const std::string kSignDer = std::string("\x30\x82\x01\x0A", 4) + std::string(262, '\x11');
const std::string kExchDer = std::string("\x30\x82\x00\x10", 4) + std::string(16, '\x22');
const std::string kC2Der = std::string("\x30\x03\x02\x01\x05", 5);

// key1: APP1 (containers C1 with both certificates, C2 with an exchange
// certificate only), APP2 (no containers). key2: a second key.
softkey::KeySpec Key1() {
    softkey::KeySpec k;
    k.id = "key1";
    k.label = "Alice";
    k.serial = "4B59000000000001";
    k.oemHex = "7F0000A1C2";
    softkey::AppSpec app1;
    app1.userMax = 3;
    app1.userRemain = 3;
    app1.containers = {{"C1", kSignDer, kExchDer}, {"C2", "", kC2Der}};
    softkey::AppSpec app2;
    app2.name = "APP2";
    k.apps = {app1, app2};
    return k;
}

softkey::KeySpec Key2() {
    softkey::KeySpec k;
    k.id = "key2";
    k.serial = "4B59000000000002";
    return k;
}

std::string Path1() { return softkey::DevicePath("key1"); }

std::string Bytes(const char* p, ULONG n) { return std::string(p, n); }

class SoftToken : public ::testing::Test {
protected:
    void SetUp() override {
        softkey::WriteKey(Key1());
        softkey::WriteKey(Key2());
        ASSERT_NE(nullptr, GetTokenLib().module);
    }
    void TearDown() override {
        softkey::OpenCounts c = softkey::GetOpenCounts();
        EXPECT_EQ(0u, c.devices + c.applications + c.containers) << "handles left open by the test";
    }
};

} // namespace

// ---- size protocol ---------------------------------------------------------------

// Opened for every size case; each case picks what it needs.
struct Opened {
    Dev dev{Path1()};
    App app{dev.h, "APP1"};
    Con con{app.h, "C1"};
};

struct SizeCase {
    const char* name;
    std::string expected;
    std::function<ULONG(Opened&, BYTE*, ULONG*)> call;
};
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }


class SizeProtocol : public SoftToken, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeProtocol, QueryTooSmallAndFit) {
    const SizeCase& c = GetParam();
    Opened o;
    ASSERT_EQ(0u, o.con.rv);
    ULONG need = static_cast<ULONG>(c.expected.size());

    ULONG size = 0;
    EXPECT_EQ(0u, c.call(o, nullptr, &size)) << "null buffer asks for the size";
    EXPECT_EQ(need, size);

    std::vector<BYTE> buf(need + 16, 0xCC);
    size = need - 1;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, c.call(o, buf.data(), &size));
    EXPECT_EQ(need, size);
    EXPECT_EQ(0xCC, buf[0]) << "a short buffer is left alone";

    size = static_cast<ULONG>(buf.size());
    ASSERT_EQ(0u, c.call(o, buf.data(), &size));
    EXPECT_EQ(need, size);
    EXPECT_EQ(c.expected, std::string(reinterpret_cast<char*>(buf.data()), size));
    EXPECT_EQ(0xCC, buf[need]);

    EXPECT_EQ(SAR_INVALIDPARAMERR, c.call(o, buf.data(), nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SizeProtocol,
    ::testing::Values(
        SizeCase{"EnumDevPresent", Path1() + '\0' + softkey::DevicePath("key2") + '\0' + '\0',
                 [](Opened&, BYTE* b, ULONG* n) { return TokEnumDev(TRUE, reinterpret_cast<char*>(b), n); }},
        SizeCase{"EnumApplication", std::string("APP1\0APP2\0\0", 11),
                 [](Opened& o, BYTE* b, ULONG* n) { return TokEnumApplication(o.dev.h, reinterpret_cast<char*>(b), n); }},
        SizeCase{"EnumContainer", std::string("C1\0C2\0\0", 7),
                 [](Opened& o, BYTE* b, ULONG* n) { return TokEnumContainer(o.app.h, reinterpret_cast<char*>(b), n); }},
        SizeCase{"ExportSign", kSignDer,
                 [](Opened& o, BYTE* b, ULONG* n) { return TokExportCertificate(o.con.h, TRUE, b, n); }},
        SizeCase{"ExportExchange", kExchDer,
                 [](Opened& o, BYTE* b, ULONG* n) { return TokExportCertificate(o.con.h, FALSE, b, n); }},
        SizeCase{"OemInfo", std::string("\x7F\x00\x00\xA1\xC2", 5),
                 [](Opened& o, BYTE* b, ULONG* n) { return TokGetOemInfo(o.dev.h, b, n); }}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST_F(SoftToken, EmptyListsHoldOnlyTheFinalEmptyName) {
    Dev dev(Path1());
    App app2(dev.h, "APP2");
    ASSERT_EQ(0u, app2.rv);
    char list[16];
    memset(list, '#', sizeof list);
    ULONG size = sizeof list;
    ASSERT_EQ(0u, TokEnumContainer(app2.h, list, &size));
    EXPECT_EQ(1u, size);
    EXPECT_EQ('\0', list[0]);
    EXPECT_TRUE(Names(list, size).empty());
}

TEST_F(SoftToken, MissingCertificateIsNotFound) {
    Dev dev(Path1());
    App app(dev.h, "APP1");
    Con c2(app.h, "C2");
    ASSERT_EQ(0u, c2.rv);
    BYTE buf[64];
    ULONG size = sizeof buf;
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, TokExportCertificate(c2.h, TRUE, buf, &size));
    size = 0;
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, TokExportCertificate(c2.h, TRUE, nullptr, &size));
    size = sizeof buf;
    ASSERT_EQ(0u, TokExportCertificate(c2.h, FALSE, buf, &size));
    EXPECT_EQ(kC2Der, Bytes(reinterpret_cast<char*>(buf), size));
}

// ---- PINs --------------------------------------------------------------------------

struct PinStep {
    const char* pin;
    ULONG rv;
    ULONG retry;
};

TEST_F(SoftToken, WrongPinCountsDownRightPinResetsZeroLocks) {
    const PinStep steps[] = {
        {"000000", SAR_PIN_INCORRECT, 2}, {"12345678", SAR_OK, 3},       {"000000", SAR_PIN_INCORRECT, 2},
        {"111111", SAR_PIN_INCORRECT, 1}, {"222222", SAR_PIN_INCORRECT, 0}, {"12345678", SAR_PIN_LOCKED, 0},
        {"333333", SAR_PIN_LOCKED, 0},
    };
    int n = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << n++ << " pin " << s.pin);
        // A fresh connection each time: the count lives in the key, not in a handle.
        Dev dev(Path1());
        App app(dev.h, "APP1");
        ASSERT_EQ(0u, app.rv);
        ULONG retry = 99;
        EXPECT_EQ(s.rv, VerifyPin(app.h, SKF_USER_PIN, s.pin, &retry));
        EXPECT_EQ(s.retry, retry);
        ULONG max = 0, remain = 99;
        ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, &max, &remain, nullptr));
        EXPECT_EQ(3u, max);
        EXPECT_EQ(s.retry, remain);
        EXPECT_EQ(std::to_string(s.retry), softkey::ReadValue("key1", "app.APP1", "user_remain"));
    }
}

TEST_F(SoftToken, ChangeNeedsTheOldPinAndClearsTheDefaultFlag) {
    softkey::SetValue("key1", "app.APP1", "user_default", "1");
    Dev dev(Path1());
    App app(dev.h, "APP1");
    ASSERT_EQ(0u, app.rv);
    BOOL def = FALSE;
    ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, nullptr, nullptr, &def));
    EXPECT_TRUE(def);

    ULONG retry = 0;
    EXPECT_EQ(SAR_PIN_INCORRECT, ChangePin(app.h, SKF_USER_PIN, "wrong-old", "87654321", &retry));
    EXPECT_EQ(2u, retry);
    ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, nullptr, nullptr, &def));
    EXPECT_TRUE(def) << "a failed change keeps the default PIN";

    // Length is checked before the old PIN: no try is spent on it.
    EXPECT_EQ(SAR_PIN_LEN_RANGE, ChangePin(app.h, SKF_USER_PIN, "12345678", "123", &retry));
    EXPECT_EQ(SAR_PIN_LEN_RANGE, ChangePin(app.h, SKF_USER_PIN, "12345678", "12345678901234567", &retry));
    EXPECT_EQ("2", softkey::ReadValue("key1", "app.APP1", "user_remain"));

    ASSERT_EQ(0u, ChangePin(app.h, SKF_USER_PIN, "12345678", "87654321", &retry));
    ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, nullptr, nullptr, &def));
    EXPECT_FALSE(def);
    EXPECT_EQ("0", softkey::ReadValue("key1", "app.APP1", "user_default"));
    EXPECT_EQ("3", softkey::ReadValue("key1", "app.APP1", "user_remain"));
    EXPECT_EQ(SAR_PIN_INCORRECT, VerifyPin(app.h, SKF_USER_PIN, "12345678", &retry));
    EXPECT_EQ(0u, VerifyPin(app.h, SKF_USER_PIN, "87654321", &retry));
}

TEST_F(SoftToken, UnblockWithTheAdminPinSetsANewUserPin) {
    softkey::SetValue("key1", "app.APP1", "user_remain", "0");
    Dev dev(Path1());
    App app(dev.h, "APP1");
    ASSERT_EQ(0u, app.rv);
    auto unblock = SlotFn<PFN_UnblockPIN>(kSlotUnblockPIN);
    ULONG retry = 0;
    EXPECT_EQ(SAR_PIN_INCORRECT, unblock(app.h, const_cast<LPSTR>("wrongso"), const_cast<LPSTR>("55556666"), &retry));
    EXPECT_EQ(9u, retry);
    EXPECT_EQ("9", softkey::ReadValue("key1", "app.APP1", "so_remain"));
    EXPECT_EQ(SAR_PIN_LOCKED, VerifyPin(app.h, SKF_USER_PIN, "12345678", &retry));

    ASSERT_EQ(0u, unblock(app.h, const_cast<LPSTR>("88888888"), const_cast<LPSTR>("55556666"), &retry));
    EXPECT_EQ("10", softkey::ReadValue("key1", "app.APP1", "so_remain"));
    EXPECT_EQ(0u, VerifyPin(app.h, SKF_USER_PIN, "55556666", &retry));
    ULONG remain = 0;
    ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, nullptr, &remain, nullptr));
    EXPECT_EQ(3u, remain);
}

TEST_F(SoftToken, AdminPinHasItsOwnCountAndUnknownTypesAreRejected) {
    Dev dev(Path1());
    App app(dev.h, "APP1");
    ULONG retry = 0;
    EXPECT_EQ(SAR_PIN_INCORRECT, VerifyPin(app.h, SKF_ADMIN_PIN, "12345678", &retry));
    EXPECT_EQ(9u, retry);
    ULONG max = 0, remain = 0;
    ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, &max, &remain, nullptr));
    EXPECT_EQ(3u, remain) << "the user count is untouched";
    EXPECT_EQ(0u, VerifyPin(app.h, SKF_ADMIN_PIN, "88888888", &retry));
    EXPECT_EQ(SAR_USER_TYPE_INVALID, VerifyPin(app.h, 7, "88888888", &retry));
    EXPECT_EQ(SAR_USER_TYPE_INVALID, TokGetPINInfo(app.h, 7, &max, &remain, nullptr));
}

TEST_F(SoftToken, PinInfoFillsOnlyWhatIsAskedFor) {
    softkey::SetValue("key1", "app.APP1", "user_remain", "2");
    softkey::SetValue("key1", "app.APP1", "user_default", "1");
    Dev dev(Path1());
    App app(dev.h, "APP1");
    ASSERT_EQ(0u, app.rv);
    for (int mask = 0; mask < 8; ++mask) {
        SCOPED_TRACE(mask);
        ULONG max = 77, remain = 77;
        BOOL def = 77;
        ASSERT_EQ(0u, TokGetPINInfo(app.h, SKF_USER_PIN, (mask & 1) ? &max : nullptr, (mask & 2) ? &remain : nullptr,
                                    (mask & 4) ? &def : nullptr));
        EXPECT_EQ((mask & 1) ? 3u : 77u, max);
        EXPECT_EQ((mask & 2) ? 2u : 77u, remain);
        EXPECT_EQ((mask & 4) ? TRUE : 77, def);
    }
}

// ---- handles ------------------------------------------------------------------------

enum class HandleKind { Device, Application, Container };

struct HandleCall {
    const char* name;
    HandleKind kind;
    std::function<ULONG(void*)> call;
};

const HandleCall kHandleCalls[] = {
    {"GetDevInfo", HandleKind::Device, [](void* h) { DEVINFO i; return TokGetDevInfo(h, &i); }},
    {"SetLabel", HandleKind::Device, [](void* h) { return TokSetLabel(h, "x"); }},
    {"EnumApplication", HandleKind::Device,
     [](void* h) { char l[64]; ULONG n = sizeof l; return TokEnumApplication(h, l, &n); }},
    {"OpenApplication", HandleKind::Device, [](void* h) { HAPPLICATION a; return TokOpenApplication(h, "APP1", &a); }},
    {"OemInfo", HandleKind::Device, [](void* h) { BYTE b[32]; ULONG n = sizeof b; return TokGetOemInfo(h, b, &n); }},
    {"DisConnectDev", HandleKind::Device,
     [](void* h) { return SlotFn<PFN_SKF_DisConnectDev>(SLOT_DisConnectDev)(h); }},
    {"GetPINInfo", HandleKind::Application,
     [](void* h) { ULONG m; return TokGetPINInfo(h, SKF_USER_PIN, &m, nullptr, nullptr); }},
    {"VerifyPIN", HandleKind::Application, [](void* h) { ULONG r; return VerifyPin(h, SKF_USER_PIN, "12345678", &r); }},
    {"EnumContainer", HandleKind::Application,
     [](void* h) { char l[64]; ULONG n = sizeof l; return TokEnumContainer(h, l, &n); }},
    {"OpenContainer", HandleKind::Application, [](void* h) { HCONTAINER c; return TokOpenContainer(h, "C1", &c); }},
    {"CloseApplication", HandleKind::Application,
     [](void* h) { return SlotFn<PFN_SKF_CloseApplication>(SLOT_CloseApplication)(h); }},
    {"ExportCertificate", HandleKind::Container,
     [](void* h) { BYTE b[512]; ULONG n = sizeof b; return TokExportCertificate(h, TRUE, b, &n); }},
    {"CloseContainer", HandleKind::Container,
     [](void* h) { return SlotFn<PFN_SKF_CloseContainer>(SLOT_CloseContainer)(h); }},
};

TEST_F(SoftToken, EveryCallChecksItsHandle) {
    // Closed handles of each kind.
    void* closed[3];
    {
        Opened o;
        ASSERT_EQ(0u, o.con.rv);
        closed[0] = o.dev.h;
        closed[1] = o.app.h;
        closed[2] = o.con.h;
    }
    Opened live;
    ASSERT_EQ(0u, live.con.rv);
    void* open[3] = {live.dev.h, live.app.h, live.con.h};

    for (const auto& c : kHandleCalls) {
        SCOPED_TRACE(c.name);
        int k = static_cast<int>(c.kind);
        EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(nullptr));
        EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x7FFF1234))));
        EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(closed[k])) << "closed handle";
        for (int other = 0; other < 3; ++other)
            if (other != k) {
                EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(open[other])) << "handle of kind " << other;
            }
    }
    softkey::OpenCounts counts = softkey::GetOpenCounts();
    EXPECT_EQ(1u, counts.devices);
    EXPECT_EQ(1u, counts.applications);
    EXPECT_EQ(1u, counts.containers);
}

TEST_F(SoftToken, HandlesFitThirtyTwoBitsAndAreNeverReused) {
    std::set<ULONG_PTR> seen;
    for (int i = 0; i < 50; ++i) {
        Dev dev(Path1());
        ASSERT_EQ(0u, dev.rv);
        ULONG_PTR v = reinterpret_cast<ULONG_PTR>(dev.h);
        EXPECT_LE(v, 0xFFFFFFFFull);
        EXPECT_TRUE(seen.insert(v).second) << "handle value reused";
    }
}

TEST_F(SoftToken, OpenCountsFollowOpensAndCloses) {
    {
        Dev dev(Path1());
        App a1(dev.h, "APP1");
        App a2(dev.h, "APP2");
        Con c1(a1.h, "C1");
        Con c2(a1.h, "C2");
        ASSERT_EQ(0u, c2.rv);
        softkey::OpenCounts c = softkey::GetOpenCounts();
        EXPECT_EQ(1u, c.devices);
        EXPECT_EQ(2u, c.applications);
        EXPECT_EQ(2u, c.containers);

        // A disconnect does not close what was opened on the key: a caller
        // that forgets to close shows up in the counts.
        TokDisConnectDev(dev.h);
        dev.h = nullptr;
        c = softkey::GetOpenCounts();
        EXPECT_EQ(0u, c.devices);
        EXPECT_EQ(2u, c.applications);
        EXPECT_EQ(2u, c.containers);
    }
    softkey::OpenCounts c = softkey::GetOpenCounts();
    EXPECT_EQ(0u, c.devices + c.applications + c.containers);
}

TEST_F(SoftToken, CloseHandleReleasesAHandleOnce) {
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(0u, TokConnectDev(Path1().c_str(), &dev));
    auto closeHandle = SlotFn<PFN_CloseHandle>(kSlotCloseHandle);
    EXPECT_EQ(0u, closeHandle(dev));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, closeHandle(dev));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, SlotFn<PFN_SKF_DisConnectDev>(SLOT_DisConnectDev)(dev));
}

// ---- keys coming and going -------------------------------------------------------------

TEST_F(SoftToken, ConnectMatchesTheNameInAnyCaseAndRefusesAbsentKeys) {
    std::string lower = Path1();
    for (auto& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    Dev byLower(lower);
    ASSERT_EQ(0u, byLower.rv);
    DEVINFO info = {};
    ASSERT_EQ(0u, TokGetDevInfo(byLower.h, &info));
    EXPECT_STREQ("4B59000000000001", info.SerialNumber);

    Dev unknown("\\\\?\\USBSTOR#NOSUCHKEY");
    EXPECT_EQ(SAR_DEVICE_REMOVED, unknown.rv);
    EXPECT_EQ(nullptr, unknown.h);
    softkey::SetPresent("key2", false);
    Dev absent(softkey::DevicePath("key2"));
    EXPECT_EQ(SAR_DEVICE_REMOVED, absent.rv);
    EXPECT_EQ(nullptr, absent.h);
    EXPECT_EQ(SAR_INVALIDPARAMERR, TokConnectDev(nullptr, &absent.h));
}

TEST_F(SoftToken, PullingAKeyOutFailsItsHandlesUntilItIsBack) {
    Opened o;
    ASSERT_EQ(0u, o.con.rv);
    auto state = SlotFn<PFN_GetDevState>(kSlotGetDevState);
    ULONG st = 9;
    ASSERT_EQ(0u, state(const_cast<LPSTR>(Path1().c_str()), &st));
    EXPECT_EQ(1u, st);

    softkey::SetPresent("key1", false);
    DEVINFO info;
    EXPECT_EQ(SAR_DEVICE_REMOVED, TokGetDevInfo(o.dev.h, &info));
    EXPECT_EQ(SAR_DEVICE_REMOVED, TokSetLabel(o.dev.h, "x"));
    ULONG m;
    EXPECT_EQ(SAR_DEVICE_REMOVED, TokGetPINInfo(o.app.h, SKF_USER_PIN, &m, nullptr, nullptr));
    BYTE b[512];
    ULONG n = sizeof b;
    EXPECT_EQ(SAR_DEVICE_REMOVED, TokExportCertificate(o.con.h, TRUE, b, &n));
    ASSERT_EQ(0u, state(const_cast<LPSTR>(Path1().c_str()), &st));
    EXPECT_EQ(0u, st);

    char list[1024] = {};
    ULONG size = sizeof list;
    ASSERT_EQ(0u, TokEnumDev(TRUE, list, &size));
    EXPECT_EQ(std::vector<std::string>{softkey::DevicePath("key2")}, Names(list, size));
    size = sizeof list;
    ASSERT_EQ(0u, TokEnumDev(FALSE, list, &size));
    EXPECT_EQ((std::vector<std::string>{Path1(), softkey::DevicePath("key2")}), Names(list, size));

    softkey::SetPresent("key1", true);
    EXPECT_EQ(0u, TokGetDevInfo(o.dev.h, &info));
    // Closing works whatever the key's state (the fixture checks the counts).
    softkey::RemoveKey("key1");
    EXPECT_EQ(SAR_DEVICE_REMOVED, TokGetDevInfo(o.dev.h, &info));
}

TEST_F(SoftToken, FilesAreReadAgainOnEveryCall) {
    Dev dev(Path1());
    ASSERT_EQ(0u, dev.rv);
    softkey::SetValue("key1", "device", "label", "Edited");
    softkey::SetValue("key1", "device", "apps", "APP2");
    DEVINFO info = {};
    ASSERT_EQ(0u, TokGetDevInfo(dev.h, &info));
    EXPECT_STREQ("Edited", info.Label);
    char list[64] = {};
    ULONG size = sizeof list;
    ASSERT_EQ(0u, TokEnumApplication(dev.h, list, &size));
    EXPECT_EQ(std::vector<std::string>{"APP2"}, Names(list, size));

    softkey::KeySpec k3;
    k3.id = "key3";
    softkey::WriteKey(k3);
    char devs[1024] = {};
    size = sizeof devs;
    ASSERT_EQ(0u, TokEnumDev(TRUE, devs, &size));
    EXPECT_EQ(3u, Names(devs, size).size());
}

// ---- device information and label --------------------------------------------------------

TEST_F(SoftToken, DeviceInfoComesFromTheKeyFile) {
    softkey::SetValue("key1", "device", "version", "2.7");
    softkey::SetValue("key1", "device", "manufacturer", "Maker Co");
    softkey::SetValue("key1", "device", "issuer", "Issuer Co");
    softkey::SetValue("key1", "device", "serial", "0123456789ABCDEF0123456789ABCDEFXYZ");  // 35 bytes
    Dev dev(Path1());
    DEVINFO info;
    memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(0u, TokGetDevInfo(dev.h, &info));
    EXPECT_EQ(2, info.Version.major);
    EXPECT_EQ(7, info.Version.minor);
    EXPECT_STREQ("Maker Co", info.Manufacturer);
    EXPECT_STREQ("Issuer Co", info.Issuer);
    EXPECT_STREQ("Alice", info.Label);
    EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF", std::string(info.SerialNumber, 32)) << "cut to the field";
    EXPECT_EQ(0, info.Reserved[0]) << "the rest of the record is set, not left over";
    EXPECT_EQ(SAR_INVALIDPARAMERR, TokGetDevInfo(dev.h, nullptr));
}

struct LabelCase {
    const char* name;
    std::string label;
    ULONG rv;
};
void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.name; }


class Labels : public SoftToken, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(Labels, SetLabelWritesBackOrRejects) {
    const LabelCase& c = GetParam();
    Dev dev(Path1());
    ASSERT_EQ(0u, dev.rv);
    EXPECT_EQ(c.rv, TokSetLabel(dev.h, c.label.c_str()));
    std::string expected = c.rv == 0 ? c.label : "Alice";

    Dev again(Path1());  // kept by the key, not by the connection
    DEVINFO info;
    memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(0u, TokGetDevInfo(again.h, &info));
    EXPECT_EQ(expected, std::string(info.Label, expected.size()));
    if (expected.size() < 32) {
        EXPECT_EQ('\0', info.Label[expected.size()]);
    }
    EXPECT_EQ(expected, softkey::ReadValue("key1", "device", "label"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, Labels,
    ::testing::Values(LabelCase{"Plain", "Bob's key", 0}, LabelCase{"Exactly32", std::string(32, 'L'), 0},
                      LabelCase{"TooLong", std::string(33, 'L'), SAR_INVALIDPARAMERR},
                      LabelCase{"Empty", "", 0}, LabelCase{"SurroundingBlanks", "  padded  ", 0},
                      LabelCase{"Quoted", "\"quoted\"", 0}, LabelCase{"SemicolonInside", "a ; b", 0},
                      LabelCase{"LineBreak", "two\r\nlines", SAR_INVALIDPARAMERR}),
    [](const ::testing::TestParamInfo<LabelCase>& info) { return info.param.name; });

// ---- fault injection ---------------------------------------------------------------------

struct FaultCase {
    const char* name;
    std::string keyId;  // empty: token.ini
    const char* fault;
    std::function<ULONG()> hit;   // must fail with the fault's code
    std::function<ULONG()> miss;  // a neighbour that must still work
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }


constexpr ULONG kFaultCode = 0x0A0000EE;

ULONG OpenApp(const char* name) {
    Dev dev(Path1());
    App app(dev.h, name);
    return app.rv;
}

ULONG OpenCon(const char* name) {
    Dev dev(Path1());
    App app(dev.h, "APP1");
    Con con(app.h, name);
    return con.rv;
}

ULONG Export(const char* container, BOOL sign) {
    Dev dev(Path1());
    App app(dev.h, "APP1");
    Con con(app.h, container);
    BYTE b[1024];
    ULONG n = sizeof b;
    return con.rv ? con.rv : TokExportCertificate(con.h, sign, b, &n);
}

ULONG ConnectRv(const std::string& path) { return Dev(path).rv; }

ULONG InfoOf(const std::string& path) {
    Dev dev(path);
    DEVINFO i;
    return dev.rv ? dev.rv : TokGetDevInfo(dev.h, &i);
}

class Faults : public SoftToken, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, HitOnlyTheirTarget) {
    const FaultCase& c = GetParam();
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", kFaultCode);
    if (c.keyId.empty())
        softkey::SetLibraryFault(c.fault, code);
    else
        softkey::SetValue(c.keyId, "faults", c.fault, code);
    EXPECT_EQ(kFaultCode, c.hit());
    EXPECT_EQ(0u, c.miss());
}

INSTANTIATE_TEST_SUITE_P(
    Names, Faults,
    ::testing::Values(
        FaultCase{"ConnectOneKey", "key2", "SKF_ConnectDev", [] { return ConnectRv(softkey::DevicePath("key2")); },
                  [] { return ConnectRv(Path1()); }},
        FaultCase{"OneApplication", "key1", "SKF_OpenApplication.APP2", [] { return OpenApp("APP2"); },
                  [] { return OpenApp("APP1"); }},
        FaultCase{"OneContainer", "key1", "SKF_OpenContainer.APP1.C2", [] { return OpenCon("C2"); },
                  [] { return OpenCon("C1"); }},
        FaultCase{"SignatureExportOnly", "key1", "SKF_ExportCertificate.APP1.C1.SIGN", [] { return Export("C1", TRUE); },
                  [] { return Export("C1", FALSE); }},
        FaultCase{"ExchangeExportOnly", "key1", "SKF_ExportCertificate.APP1.C1.EXCHANGE",
                  [] { return Export("C1", FALSE); }, [] { return Export("C1", TRUE); }},
        FaultCase{"ExportsOfOneContainer", "key1", "SKF_ExportCertificate.APP1.C1", [] { return Export("C1", TRUE); },
                  [] { return Export("C2", FALSE); }},
        FaultCase{"PlainNameHitsEveryObject", "key1", "SKF_ExportCertificate", [] { return Export("C2", FALSE); },
                  [] { return OpenCon("C2"); }},
        FaultCase{"LibraryWideHitsEveryKey", "", "SKF_GetDevInfo",
                  [] { return InfoOf(softkey::DevicePath("key2")) == kFaultCode ? InfoOf(Path1()) : 1; },
                  [] { return ConnectRv(Path1()); }},
        FaultCase{"LibraryWideQualified", "", "SKF_OpenApplication.APP2", [] { return OpenApp("APP2"); },
                  [] { return OpenApp("APP1"); }}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(SoftToken, FaultedCallChangesNothing) {
    softkey::SetValue("key1", "faults", "SKF_VerifyPIN.APP1", "0x0A000001");
    Dev dev(Path1());
    App app(dev.h, "APP1");
    ULONG retry = 0;
    EXPECT_EQ(0x0A000001u, VerifyPin(app.h, SKF_USER_PIN, "wrong", &retry));
    EXPECT_EQ("3", softkey::ReadValue("key1", "app.APP1", "user_remain"));
}

// ---- the table and the library settings -----------------------------------------------------

TEST_F(SoftToken, EveryStandardSlotIsFilledAndTheUnimplementedOnesSaySo) {
    const std::set<int> implemented = {2, 3, 4, 5, 6, 7, 13, 14, 15, 16, 19, 21, 22, 31, 32, 33, 36, 77};
    const TokenLib& lib = GetTokenLib();
    typedef ULONG(WINAPI * Any)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR,
                                ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR);
    for (int i = 0; i < 78; ++i) {
        ASSERT_NE(nullptr, lib.table.slot[i]) << i;
        // x64 callers clean the stack, so any slot can be called with spare arguments.
        if (!implemented.count(i)) {
            EXPECT_EQ(SAR_NOTSUPPORTYETERR, reinterpret_cast<Any>(lib.table.slot[i])(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0))
                << i;
        }
    }
    for (int i = 78; i < kSkfSlotCount; ++i)
        EXPECT_EQ(i == SLOT_GetOemInfo, lib.table.slot[i] != nullptr) << i;
}

struct LibraryCase {
    const char* name;
    const char* fileSlots;
    const char* fileResult;
    const char* envSlots;   // null: unset
    const char* envResult;  // null: unset
    std::vector<int> emptied;
    ULONG result;
};
void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }


class LibrarySettings : public ::testing::TestWithParam<LibraryCase> {};

// Asks the loaded stand-in for a fresh table, as a first load would.
TEST_P(LibrarySettings, EmptySlotsAndResult) {
    const LibraryCase& c = GetParam();
    softkey::KeyDir();
    softkey::WriteLibraryConfig(c.fileSlots, c.fileResult);
    SetEnvironmentVariableA("SOFTSKF_EMPTY_SLOTS", c.envSlots);
    SetEnvironmentVariableA("SOFTSKF_FUNCLIST_RESULT", c.envResult);
    HMODULE m = LoadLibraryA("XelSKF_QOR_ZAF.dll");
    ASSERT_NE(nullptr, m);
    auto getList = reinterpret_cast<PFN_SKF_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(m, "SKF_GetFunctionList")));
    ASSERT_NE(nullptr, getList);
    SkfFunctionTable table;
    memset(&table, 0xAB, sizeof table);
    EXPECT_EQ(c.result, getList(&table));
    std::set<int> emptied(c.emptied.begin(), c.emptied.end());
    for (int i = 0; i < 78; ++i) EXPECT_EQ(emptied.count(i) == 0, table.slot[i] != nullptr) << i;
    EXPECT_EQ(emptied.count(SLOT_GetOemInfo) == 0, table.slot[SLOT_GetOemInfo] != nullptr);
    FreeLibrary(m);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LibrarySettings,
    ::testing::Values(
        LibraryCase{"Nothing", "", "", nullptr, nullptr, {}, 0},
        LibraryCase{"FileSlots", "SKF_SetLabel, SKF_EnumContainer", "", nullptr, nullptr, {6, 33}, 0},
        LibraryCase{"NamesIgnoreCase", "skf_setlabel,SKF_GETOEMINFO", "", nullptr, nullptr, {6, 88}, 0},
        LibraryCase{"EnvOverridesFile", "SKF_SetLabel", "", "SKF_GetOEMInfo", nullptr, {88}, 0},
        LibraryCase{"EmptyEnvOverridesFile", "SKF_SetLabel", "0x0A000001", "", "", {}, 0},
        LibraryCase{"FileResultTableStillFilled", "", "0x0A000001", nullptr, nullptr, {}, 0x0A000001},
        LibraryCase{"EnvResult", "", "0x0A000001", nullptr, "0x0A000002", {}, 0x0A000002},
        LibraryCase{"MisspeltSlotFails", "SKF_SetLabe", "", nullptr, nullptr, {}, SAR_INVALIDPARAMERR}),
    [](const ::testing::TestParamInfo<LibraryCase>& info) { return info.param.name; });

// Without SOFTSKF_DIR the keys are those in "keys" beside the DLL; a private
// copy of the DLL keeps the shared bin folder untouched.
TEST(SoftTokenFolder, DefaultsToKeysBesideTheDll) {
    std::wstring dir = testenv::TempDirW() + L"dllcopy";
    testenv::MakeDirs(dir + L"\\keys");
    std::wstring dll = dir + L"\\XelSKF_QOR_ZAF.dll";
    ASSERT_TRUE(CopyFileW((testenv::BinDir() + L"\\XelSKF_QOR_ZAF.dll").c_str(), dll.c_str(), FALSE));
    std::string keyFile = testenv::Narrow(dir) + "\\keys\\beside.key";
    WritePrivateProfileStringA("device", "name", "\\\\?\\BESIDE#1", keyFile.c_str());
    SetEnvironmentVariableA("SOFTSKF_DIR", nullptr);

    HMODULE m = LoadLibraryW(dll.c_str());
    ASSERT_NE(nullptr, m);
    auto getList = reinterpret_cast<PFN_SKF_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(m, "SKF_GetFunctionList")));
    SkfFunctionTable table = {};
    ASSERT_EQ(0u, getList(&table));
    char list[256] = {};
    ULONG size = sizeof list;
    ASSERT_EQ(0u, reinterpret_cast<PFN_SKF_EnumDev>(table.slot[SLOT_EnumDev])(TRUE, list, &size));
    EXPECT_EQ(std::vector<std::string>{"\\\\?\\BESIDE#1"}, Names(list, size));
    FreeLibrary(m);
}

// ---- threads ----------------------------------------------------------------------------

TEST_F(SoftToken, ConcurrentCallersGetDistinctWorkingHandles) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::vector<std::vector<ULONG_PTR>> seen(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures, &seen] {
            for (int i = 0; i < 25; ++i) {
                Dev dev(t % 2 ? Path1() : softkey::DevicePath("key2"));
                DEVINFO info;
                if (dev.rv || TokGetDevInfo(dev.h, &info)) ++failures;
                seen[t].push_back(reinterpret_cast<ULONG_PTR>(dev.h));
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(0, failures.load());
    std::set<ULONG_PTR> all;
    for (const auto& v : seen) all.insert(v.begin(), v.end());
    EXPECT_EQ(100u, all.size());
}

// ---- the console driver ---------------------------------------------------------------------

TEST_F(SoftToken, ListKeysPrintsEachPresentKey) {
    softkey::SetValue("key1", "app.APP1", "user_remain", "2");
    softkey::KeySpec gone;
    gone.id = "key9";
    gone.label = "Gone";
    gone.present = false;
    softkey::WriteKey(gone);

    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + testenv::BinDir() + L"\\listkeys.exe\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(writeEnd);
    std::string out;
    char buf[512];
    DWORD n = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD exitCode = 99;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);

    EXPECT_EQ(0u, exitCode) << out;
    EXPECT_NE(std::string::npos, out.find(Path1())) << out;
    EXPECT_NE(std::string::npos, out.find("Alice")) << out;
    EXPECT_NE(std::string::npos, out.find("4B59000000000001")) << out;
    EXPECT_NE(std::string::npos, out.find("2/3")) << out;
    EXPECT_NE(std::string::npos, out.find("4B59000000000002")) << out;
    EXPECT_EQ(std::string::npos, out.find("Gone")) << out;
    EXPECT_NE(std::string::npos, out.find("2 key(s)")) << out;
}
