// The whole system on serial ports: Q417Panel.exe with NVQ417API.dll, which starts Pellix.exe
// with Q417Client.dll, whose NVSerial.dll finds two selectors behind FTDI COM ports that lead
// through ptys to native selector simulators (started by pty_system_test.sh). An operator's
// click reaches the selector behind its port; a port that goes takes its panel with it, and one
// that comes back gets a new panel.
#include "FtdiPorts.h"
#include "HostRun.h"
#include "PanelDriver.h"
#include "PipeClient.h"
#include "Q417Device.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace panel_driver;

namespace {

constexpr UINT DBT_DEVNODES_CHANGED_Event = 7;

std::vector<std::wstring> Names(HWND main) {
  std::vector<std::wstring> names;
  for (HWND p : DevicePanels(main)) names.push_back(ObjectName(p));
  return names;
}

// A selector's state as the host reads it from the selector, through the Q417 pipe.
bool SelectorState(int32_t id, TQ417State& state) {
  TPipeClient host;
  if (!host.Connect(L"\\\\.\\pipe\\PELLIX_PIPE_Q417", 5000)) return false;
  const TBytes packet = Payload(host.Request(1, ""));
  for (int32_t i = 0; i < q417::PacketRecordCount(packet); ++i) {
    const TQ417DeviceState r = q417::PacketRecord(packet, i);
    if (r.Q417_DeviceID != id) continue;
    state = r.Q417_State;
    return true;
  }
  return false;
}

bool SelectorShows(int32_t id, uint8_t mode, uint8_t select) {
  TQ417State state{};
  return SelectorState(id, state) && state.Q417_Mode == mode && state.Q417_Select == select;
}

void RescanHost() {
  const HWND host = HostWindowOfType(q417::DeviceType);
  ASSERT_TRUE(host) << "the host the panel's library started";
  ::PostMessageW(host, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED_Event, 0);
}

} // namespace

TEST(PanelOnSerialPorts, ClicksReachTheSelectorsAndPortsComeAndGo) {
  const std::vector<std::wstring> ports = PtyPorts();
  ASSERT_EQ(ports.size(), 2u) << "run through pty_system_test.sh";
  struct TCleanup {
    std::vector<std::wstring> ports;
    ~TCleanup() {
      for (const auto& port : ports) RemoveFTDIPort(port);
    }
  } cleanup{ports};
  for (const auto& port : ports) ASSERT_TRUE(AddFTDIPort(port));
  // The panel's library must start its own host, with these ports: not find one of an earlier
  // test (ended if need be; that test reports it), nor one in debug mode.
  SetHostDebugSwitch(false);
  WaitNoHostOfType(q417::DeviceType, 30000);

  TChildProcess panel(ProgramFolder() + L"..\\bin\\Q417Panel.exe", L"", {{L"NVSERIAL_SIMULATED", L""}});
  HWND main = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (main = panel.FindTopWindow(L"TQ417PanelForm")) != nullptr; }, 20000));
  const std::vector<std::wstring> both = {L"FDeviceFrame31", L"FDeviceFrame32"};
  ASSERT_TRUE(WaitFor([&] { return Names(main) == both; }, 30000)) << Names(main).size();

  // The operator switches selector 31 to mode 1 and picks channel 3: the selector behind COM31
  // takes both.
  HWND first = DevicePanel(main, L"FDeviceFrame31");
  Click(first, ModeTile(1));
  EXPECT_TRUE(WaitFor([&] { return SelectorShows(31, 1, 0); }, 10000));
  Click(first, ChannelTile(3));
  EXPECT_TRUE(WaitFor([&] { return SelectorShows(31, 1, 0x04); }, 10000));
  TPanelState shown;
  EXPECT_TRUE(WaitFor([&] { return QueryState(first, shown) && shown.Select == 0x04; }, 5000));

  // COM32 goes: its registry entries and then the system's device-nodes-changed notice.
  RemoveFTDIPort(ports[1]);
  RescanHost();
  EXPECT_TRUE(WaitFor([&] { return Names(main) == std::vector<std::wstring>{L"FDeviceFrame31"}; }, 10000));

  // It comes back: a new panel.
  ASSERT_TRUE(AddFTDIPort(ports[1]));
  RescanHost();
  EXPECT_TRUE(WaitFor([&] { return Names(main) == both; }, 20000));
  EXPECT_EQ(Narrow(ReadStatusBar(::FindWindowExW(main, nullptr, L"msctls_statusbar32", nullptr))),
            "API library Initialised.");

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(panel.WaitExit(30000));
  EXPECT_TRUE(WaitNoHostOfType(q417::DeviceType, 30000)) << "the host ends by itself once its last client has gone";
}
