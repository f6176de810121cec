// The key simulator against a window of this process: the records it sends
// cross the process boundary intact and drive the detection for real.
#include "app/instance.h"
#include "mainwnd/devdetect.h"
#include "tests/mainwnd/uitest.h"
#include "tests/support/softkey.h"
#include "tests/support/testenv.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kCdrom = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

struct Received {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    std::vector<BYTE> data;  // WM_DEVICECHANGE record or WM_COPYDATA bytes
    ULONG_PTR dwData;
    BOOL deviceResult;
};

class KeysimTest : public ::testing::Test {
protected:
    KeysimTest()
        : window([this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
              if (msg == WM_DEVICECHANGE) {
                  Received r{msg, wp, lp, {}, 0, FALSE};
                  if (lp) {
                      auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
                      r.data.assign(reinterpret_cast<const BYTE*>(hdr), reinterpret_cast<const BYTE*>(hdr) + hdr->dbch_size);
                  }
                  r.deviceResult = OnDeviceChange(wp, lp);
                  got.push_back(r);
                  result = r.deviceResult;
                  return true;
              }
              if (msg == WM_COPYDATA) {
                  auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
                  Received r{msg, wp, lp, {}, cds ? cds->dwData : 0, FALSE};
                  if (cds && cds->cbData) r.data.assign(static_cast<const BYTE*>(cds->lpData),
                                                        static_cast<const BYTE*>(cds->lpData) + cds->cbData);
                  got.push_back(r);
                  result = 0;
                  return true;
              }
              if (msg == WM_WTSSESSION_CHANGE) {
                  got.push_back(Received{msg, wp, lp, {}, 0, FALSE});
                  return false;
              }
              return false;
          }) {}

    void SetUp() override {
        testenv::EnableLog();
        ClearDevEvents();
        SetPropW(window.Hwnd(), kInstancePropName, reinterpret_cast<HANDLE>(kInstancePropValue));
        keysim = testenv::BinDir() + L"\\keysim.exe";
    }
    void TearDown() override { RemovePropW(window.Hwnd(), kInstancePropName); }

    DWORD Run(const std::wstring& args) {
        wchar_t h[32];
        swprintf(h, 32, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window.Hwnd())));
        return uitest::RunPumping(keysim, std::wstring(L"--hwnd ") + h + L" " + args);
    }

    std::vector<Received> got;
    uitest::TestWindow window;
    std::wstring keysim;
};

std::wstring NameOf(const Received& r) {
    const size_t off = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (r.data.size() <= off) return L"";
    const auto* p = reinterpret_cast<const wchar_t*>(r.data.data() + off);
    return std::wstring(p, wcsnlen(p, (r.data.size() - off) / sizeof(wchar_t)));
}

TEST_F(KeysimTest, PlugAndPullBroadcastTheInterfaceRecordIntact) {
    softkey::KeySpec key;
    key.name = "\\\\?\\usbstor#cdrom&ven_vestra&prod_kyrel_qor&rev_2.00#0007#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
    key.present = false;
    softkey::WriteKey(key);
    std::wstring upper = L"\\\\?\\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#0007#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}";

    ASSERT_EQ(0u, Run(L"plug key1"));
    EXPECT_EQ("1", softkey::ReadValue("key1", "device", "present"));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEARRIVAL), got[0].wp);
    ASSERT_GE(got[0].data.size(), sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
    auto* rec = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(got[0].data.data());
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), rec->dbcc_devicetype);
    EXPECT_TRUE(IsEqualGUID(kCdrom, rec->dbcc_classguid));
    EXPECT_EQ(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (upper.size() + 1) * 2, rec->dbcc_size);
    EXPECT_EQ(upper, NameOf(got[0]));
    // The arrival went through the real filter: OEM read from the now present key.
    EXPECT_TRUE(got[0].deviceResult);
    auto queued = SnapshotDevEvents();
    ASSERT_EQ(1u, queued.size());
    EXPECT_EQ(1, queued[0].bCome);
    EXPECT_EQ(upper, std::wstring(queued[0].szDevPath));

    ASSERT_EQ(0u, Run(L"pull key1"));
    EXPECT_EQ("0", softkey::ReadValue("key1", "device", "present"));
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE), got[1].wp);
    EXPECT_EQ(upper, NameOf(got[1]));
    queued = SnapshotDevEvents();
    ASSERT_EQ(2u, queued.size());
    EXPECT_EQ(0, queued[1].bCome);
}

TEST_F(KeysimTest, CopyDataCarriesCodeParameterAndTheAnsiName) {
    softkey::WriteKey(softkey::KeySpec{});
    ASSERT_EQ(0u, Run(L"copydata 3 2048 key1"));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(WM_COPYDATA), got[0].msg);
    EXPECT_EQ(3u, got[0].wp);
    EXPECT_EQ(2048u, got[0].dwData);
    std::string name = softkey::DevicePath("key1");
    ASSERT_EQ(name.size() + 1, got[0].data.size());
    EXPECT_EQ(name, std::string(reinterpret_cast<const char*>(got[0].data.data())));
}

TEST_F(KeysimTest, SessionChangeAndMissingKeys) {
    ASSERT_EQ(0u, Run(L"session 7"));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(WM_WTSSESSION_CHANGE), got[0].msg);
    EXPECT_EQ(7u, got[0].wp);
    softkey::KeyDir();
    EXPECT_EQ(3u, Run(L"plug nosuchkey"));
    EXPECT_EQ(1u, Run(L"dance"));
    EXPECT_EQ(1u, got.size());
}

// Runs keysim with its standard output in a file; the exit code.
DWORD RunToFile(const std::wstring& exe, const std::wstring& args, const std::wstring& file) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 0xFFFFFFFF;
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (!ok) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    if (uitest::WaitProcessPumping(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

TEST_F(KeysimTest, FindsAWindowWithTheInstanceProperty) {
    // Other instances may run in this session; whatever is found carries the mark.
    std::wstring file = testenv::TempDirW() + L"find.txt";
    ASSERT_EQ(0u, RunToFile(keysim, L"find", file));
    std::string text = testenv::ReadFileBytes(file);
    HWND found = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoull(text.c_str(), nullptr, 0)));
    ASSERT_NE(nullptr, found) << text;
    EXPECT_EQ(kInstancePropValue, reinterpret_cast<UINT_PTR>(GetPropW(found, kInstancePropName)));
}

} // namespace
