// Discovery end to end: FTDI ports registered as Windows registers them (bus keys and serial
// port map), whose COM ports lead through Linux ptys to native selector simulators. Started by
// pty_system_test.sh, which runs the simulators and names the ports in PELLIX_PTY_PORTS:
// two answering selectors, then one that leaves its first three HELLOs unanswered.
#include "NVSerialHdr.h"
#include "FtdiPorts.h"
#include "HostRun.h"
#include "Q417Device.h"
#include "TestSupport.h"

#include <gtest/gtest.h>


using namespace testing_support;

namespace {

constexpr const wchar_t* HostClass = L"TPellixHostForm";
constexpr int lblDeviceCountId = 104;
constexpr UINT DBT_DEVNODES_CHANGED_Event = 7;
constexpr const wchar_t* SwitchKey = L"SOFTWARE\\Norvane Limited\\Pellix";

class PtyDiscovery : public ::testing::Test {
protected:
  void SetUp() override {
    ports = PtyPorts();
    ASSERT_EQ(ports.size(), 3u) << "run through pty_system_test.sh";
  }
  void TearDown() override {
    for (const auto& port : ports) RemoveFTDIPort(port);
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SwitchKey, L"PellixIsDebug");
  }
  std::vector<std::wstring> ports;
};

std::string DeviceCount(HWND host) { return Narrow(WindowText(::GetDlgItem(host, lblDeviceCountId))); }

} // namespace

TEST_F(PtyDiscovery, NVSerialTalksToASelectorThroughItsComPort) {
  ASSERT_TRUE(AddFTDIPort(ports[0]));
  int32_t ref = 0;
  ASSERT_EQ(NVSerial_OpenDevice(&ref, q417::DeviceType, q417::BaudRate), 0);
  wchar_t* name = nullptr;
  int32_t id = 0;
  ASSERT_EQ(NVSerial_DeviceMeta(ref, &name, &id), 0);
  const win32::TCoTaskString owned(name);
  EXPECT_EQ(std::wstring(owned.Get()), ports[0]);
  EXPECT_EQ(id, 21);

  char* reply = nullptr;
  ASSERT_EQ(NVSerial_Command(ref, "SET 2 4 1 120", &reply, 2000), 0);
  EXPECT_STREQ(reply, "STATE 21 16777216 0 2 4 1 120");
  ::CoTaskMemFree(reply);
  uint8_t buffer[16];
  int32_t received = 0;
  EXPECT_EQ(NVSerial_Read(ref, buffer, sizeof buffer, &received, 200), int32_t(WAIT_TIMEOUT)) << "nothing more to read";
  EXPECT_EQ(NVSerial_Close(ref), 0);

  int32_t other = 0;
  EXPECT_EQ(NVSerial_OpenDevice(&other, 0x99, q417::BaudRate), ERROR_NO_MORE_ITEMS) << "the selector reports another type";
}

// Slow: waits for the discovery timer's 2-second ticks.
TEST_F(PtyDiscovery, HostOpensClosesAndRetriesSelectors) {
  const DWORD debugOn = 1; // keeps the host up for about a minute without clients
  HKEY raw = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SwitchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr), ERROR_SUCCESS);
  ::RegSetValueExW(raw, L"PellixIsDebug", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&debugOn), sizeof debugOn);
  ::RegCloseKey(raw);
  ASSERT_TRUE(AddFTDIPort(ports[0]));
  ASSERT_TRUE(AddFTDIPort(ports[1]));

  // The Q417 type's instance mutex: a Q417 host left by an earlier test (ended if need be; that
  // test reports it) would turn this one away.
  WaitNoHostOfType(q417::DeviceType, 30000);
  TChildProcess host(ProgramFolder() + L"Pellix.exe", L"\"" + ProgramFolder() + L"PellixClientDouble.dll\"",
                     {{L"PELLIX_CLIENT_TYPE", L"0x417"}});
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (window = host.FindTopWindow(HostClass)) != nullptr; }, 20000));
  EXPECT_TRUE(WaitFor([&] { return DeviceCount(window) == "2"; }, 20000)) << DeviceCount(window);

  // A port that goes away: only the device-nodes-changed event rescans.
  RemoveFTDIPort(ports[1]);
  ::PostMessageW(window, WM_DEVICECHANGE, 0x8004 /* DBT_DEVICEREMOVECOMPLETE */, 0);
  ::PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED_Event, 0);
  EXPECT_TRUE(WaitFor([&] { return DeviceCount(window) == "1"; }, 20000)) << DeviceCount(window);

  // A port that appears late, behind a selector still starting up: the rescan finds the port
  // free but no device on it, and the discovery timer opens it on a later tick.
  ASSERT_TRUE(AddFTDIPort(ports[2]));
  DWORD_PTR ignored = 0;
  ASSERT_TRUE(::SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED_Event, 0, SMTO_ABORTIFHUNG, 20000, &ignored));
  EXPECT_EQ(DeviceCount(window), "1") << "the rescan itself got no answer";
  const ULONGLONG rescanned = ::GetTickCount64();
  EXPECT_TRUE(WaitFor([&] { return DeviceCount(window) == "2"; }, 25000)) << DeviceCount(window);
  const double seconds = double(::GetTickCount64() - rescanned) / 1000.0;
  EXPECT_GT(seconds, 3.0) << "opened by a timer tick, not by the rescan";
  EXPECT_LT(seconds, 20.0) << "within the 20 seconds of its unclaimed entry";
  EXPECT_EQ(::WaitForSingleObject(host.Handle(), 0), DWORD(WAIT_TIMEOUT));
}
