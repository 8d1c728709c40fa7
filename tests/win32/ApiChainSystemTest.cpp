// NVQ417API.dll as the control panel uses it, with the real host and client library behind it
// and three simulated selectors: it starts a host, follows changes made at the selectors, paces
// idle polls, starts a host again when one ends (the panel keeps its panels), and reports a
// host program that cannot be started.
#include "DebugMonitor.h"
#include "PanelDriver.h"
#include "PipeClient.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;
using namespace panel_driver;

namespace {

const wchar_t* const kSelectors = L"3:0x02010000:0x417:2:2:0:100, 5:0x01020304:0x417:1:4:1:25, 9:0x03000007:0x417:3:128:1:5000";
const std::wstring kPipe = L"\\\\.\\pipe\\PELLIX_PIPE_Q417";

std::wstring Bin() { return ProgramFolder() + L"..\\bin\\"; }

HWND Host() { return ::FindWindowW(L"TPellixHostForm", nullptr); }

DWORD HostProcessId() {
  DWORD pid = 0;
  if (HWND host = Host()) ::GetWindowThreadProcessId(host, &pid);
  return pid;
}

// Sets a selector's channel through the host, as a second client of it would.
bool SetChannel(int32_t id, uint8_t mode, uint8_t select) {
  TPipeClient client;
  if (!client.Connect(kPipe, 5000)) return false;
  q417::TBytes table;
  q417::BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& r) {
    r.Q417_DeviceID = id;
    r.Q417_State = {mode, select, 1, 25};
  });
  return Result(client.Request(1, std::string(table.begin(), table.end()))) == 0;
}

class ApiChain : public ::testing::Test {
protected:
  void Start(std::vector<std::pair<std::wstring, std::wstring>> environment = {}) {
    environment.emplace_back(L"NVSERIAL_SIMULATED", kSelectors);
    panel = std::make_unique<TChildProcess>(Bin() + L"Q417Panel.exe", L"", environment);
    ASSERT_TRUE(WaitFor([&] { return (main = panel->FindTopWindow(L"TQ417PanelForm")) != nullptr; }, 20000));
    status = ::FindWindowExW(main, nullptr, L"msctls_statusbar32", nullptr);
  }
  void TearDown() override {
    if (main) ::PostMessageW(main, WM_CLOSE, 0, 0);
    if (panel) panel->WaitExit(10000);
    WaitFor([] { return Host() == nullptr; }, 10000); // the next test starts its own host
  }
  std::string Status() const { return Narrow(ReadStatusBar(status)); }
  bool ThreePanels() const { return DevicePanels(main).size() == 3; }

  std::unique_ptr<TChildProcess> panel;
  HWND main = nullptr, status = nullptr;
};

} // namespace

TEST_F(ApiChain, StartsAHostAndFollowsTheSelectors) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return ThreePanels(); }, 30000)) << Status();
  EXPECT_EQ(Status(), "API library Initialised.");
  EXPECT_NE(HostProcessId(), 0u) << "a host was started";
  HWND five = DevicePanel(main, L"FDeviceFrame5");
  TPanelState shown;
  ASSERT_TRUE(QueryState(five, shown));
  EXPECT_EQ(shown.Mode, 1);
  EXPECT_EQ(shown.Select, 0x04);
  EXPECT_EQ(shown.Delay, 25);

  // Changes made at the selector show on the panel: each within far less than a second (the
  // benchmark reports how fast exactly).
  for (uint8_t select : {0x10, 0x40, 0x01}) {
    ASSERT_TRUE(SetChannel(5, 1, select));
    const ULONGLONG set = ::GetTickCount64();
    EXPECT_TRUE(WaitFor([&] { return QueryState(five, shown) && shown.Select == select; }, 1000, 1)) << int(select);
    EXPECT_LT(::GetTickCount64() - set, 1000u);
  }
}

TEST_F(ApiChain, IdlePollsArePaced) {
  TDebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready());
  Start();
  ASSERT_TRUE(WaitFor([&] { return ThreePanels(); }, 30000));
  const DWORD host = HostProcessId();
  auto requests = [&] {
    const std::vector<std::string> lines = monitor.Lines(host);
    return std::count(lines.begin(), lines.end(), "szRead=8");
  };
  const auto before = requests();
  ::Sleep(3000); // measuring a rate: the requests of an idle panel over three seconds
  const auto asked = requests() - before;
  EXPECT_GE(asked, 9) << "the panel keeps polling";
  EXPECT_LE(asked, 60) << "an idle panel does not spin: the library asks about every 100 ms";
}

TEST_F(ApiChain, AHostThatEndsIsStartedAgainAndThePanelKeepsItsPanels) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return ThreePanels(); }, 30000));
  const DWORD first = HostProcessId();
  {
    win32::THandle host(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first));
    ASSERT_TRUE(host);
    ASSERT_TRUE(::TerminateProcess(host.Get(), 9));
    ::WaitForSingleObject(host.Get(), 5000);
  }
  bool keptPanels = true;
  ASSERT_TRUE(WaitFor([&] {
    keptPanels = keptPanels && ThreePanels();
    const DWORD now = HostProcessId();
    return now != 0 && now != first;
  }, 20000)) << "a new host";
  // The new host serves the panel: a change made at a selector comes through.
  ASSERT_TRUE(WaitFor([&] { return SetChannel(9, 3, 0x02); }, 10000));
  TPanelState shown;
  EXPECT_TRUE(WaitFor([&] {
    keptPanels = keptPanels && ThreePanels();
    return QueryState(DevicePanel(main, L"FDeviceFrame9"), shown) && shown.Select == 0x02;
  }, 10000));
  EXPECT_TRUE(keptPanels) << "the panels stayed while the host was away";
}

TEST_F(ApiChain, AHostProgramThatCannotStartIsReported) {
  Start({{L"NVQ417API_HOST", Bin() + L"NoSuchHost.exe"}});
  // Before the watchdog's first text, which replaces it 5 s after the window was made.
  EXPECT_TRUE(WaitFor([&] { return Status() == "Initialise Error. (2)"; }, 4000)) << Status();
  EXPECT_EQ(Host(), nullptr);
}
