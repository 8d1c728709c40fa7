// NVQ417API.dll as the control panel uses it, with the real host and client library behind it
// and three simulated selectors: it starts a host, follows changes made at the selectors, paces
// idle polls, starts a host again when one ends (the panel keeps its panels), and reports a
// host program that cannot be started.
#include "DebugMonitor.h"
#include "DemoSelectors.h"
#include "HostRun.h"
#include "PanelDriver.h"
#include "PipeClient.h"
#include "Q417Device.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;
using namespace panel_driver;

namespace {

const std::wstring kPipe = L"\\\\.\\pipe\\PELLIX_PIPE_Q417";

std::wstring Bin() { return ProgramFolder() + L"..\\bin\\"; }

HWND Host() { return HostWindowOfType(q417::DeviceType); }

DWORD HostProcessId() {
  DWORD pid = 0;
  if (HWND host = Host()) ::GetWindowThreadProcessId(host, &pid);
  return pid;
}

// Sets a selector's channel through the host, as a second client of it would. frameSize: the
// size of the request, as the host's debugger line reports it.
bool SetChannel(int32_t id, uint8_t mode, uint8_t select, size_t* frameSize = nullptr) {
  TPipeClient client;
  if (!client.Connect(kPipe, 5000)) return false;
  q417::TBytes table;
  q417::BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& r) {
    r.Q417_DeviceID = id;
    r.Q417_State = {mode, select, 1, 25};
  });
  if (frameSize) *frameSize = table.size() + 8;
  return Result(client.Request(1, std::string(table.begin(), table.end()))) == 0;
}

class ApiChain : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(monitor.Ready()) << "another debug monitor is running";
    SetHostDebugSwitch(false); // a host in debug mode would stay a minute after its last client
    // A host left by an earlier test would serve this one's panel: wait for it to end (or end
    // it; the test that left it reports that).
    WaitNoHostOfType(q417::DeviceType, 30000);
  }
  void Start(std::vector<std::pair<std::wstring, std::wstring>> environment = {}) {
    environment.emplace_back(L"NVSERIAL_SIMULATED", kDemoSelectors);
    panel = std::make_unique<TChildProcess>(Bin() + L"Q417Panel.exe", L"", environment);
    // The window is looked at from outside while it is still being made: wait for its status line.
    ASSERT_TRUE(WaitFor([&] {
      main = panel->FindTopWindow(L"TQ417PanelForm");
      status = main ? ::FindWindowExW(main, nullptr, L"msctls_statusbar32", nullptr) : nullptr;
      return status != nullptr;
    }, 20000));
  }
  void TearDown() override {
    if (main) ::PostMessageW(main, WM_CLOSE, 0, 0);
    if (panel) {
      EXPECT_TRUE(panel->WaitExit(30000)) << "the panel did not close";
    }
    panel.reset();
    // The host ends about 2 s after its last client; the next test starts its own.
    EXPECT_TRUE(WaitNoHostOfType(q417::DeviceType, 30000)) << "the host did not end after the panel closed";
  }
  std::string Status() const { return Narrow(ReadStatusBar(status)); }
  bool ThreePanels() const { return DevicePanels(main).size() == 3; }

  TDebugMonitor monitor; // the host's debugger lines: one per request it reads
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

  // Changes made at the selector show on the panel with the answer to one of the first questions
  // the library asks the host after them: it asks every 200 ms and answers the panel at once
  // when the state changed (the benchmark reports how fast exactly). Counted in the host's own
  // request lines (the library's questions are the 8-byte requests), not timed: the test's clock
  // would also count how long the scheduler kept the processes waiting. Up to three questions:
  // one read just after the change may still have been served before it.
  const DWORD host = HostProcessId();
  const uint8_t selects[] = {0x10, 0x40, 0x01};
  for (size_t changes = 1; changes <= std::size(selects); ++changes) {
    const uint8_t select = selects[changes - 1];
    SCOPED_TRACE(int(select));
    size_t frameSize = 0;
    ASSERT_TRUE(SetChannel(5, 1, select, &frameSize));
    size_t linesWhenShown = 0;
    ASSERT_TRUE(WaitFor([&] {
      linesWhenShown = monitor.Lines(host).size();
      return QueryState(five, shown) && shown.Select == select;
    }, 10000, 1));
    // The change's own line may reach the monitor only after the panel showed the change; then
    // no question is counted.
    const std::string changeLine = "szRead=" + std::to_string(frameSize);
    std::vector<std::string> lines;
    ASSERT_TRUE(WaitFor([&] {
      lines = monitor.Lines(host);
      return size_t(std::count(lines.begin(), lines.end(), changeLine)) == changes;
    }, 10000)) << "no debugger line of the change";
    const auto change = std::find_end(lines.begin(), lines.end(), &changeLine, &changeLine + 1);
    const auto shownAt = lines.begin() + std::ptrdiff_t(std::min(linesWhenShown, lines.size()));
    const auto questions = change < shownAt ? std::count(change, shownAt, std::string("szRead=8")) : 0;
    EXPECT_LE(questions, 3) << "questions to the host until the panel showed the change";
  }
}

TEST_F(ApiChain, IdlePollsArePaced) {
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
    ASSERT_EQ(::WaitForSingleObject(host.Get(), 30000), WAIT_OBJECT_0);
  }
  bool keptPanels = true;
  ASSERT_TRUE(WaitFor([&] {
    keptPanels = keptPanels && ThreePanels();
    const DWORD now = HostProcessId();
    return now != 0 && now != first;
  }, 30000)) << "a new host";
  // The new host serves the panel: a change made at a selector comes through.
  ASSERT_TRUE(WaitFor([&] { return SetChannel(9, 3, 0x02); }, 20000));
  TPanelState shown;
  EXPECT_TRUE(WaitFor([&] {
    keptPanels = keptPanels && ThreePanels();
    return QueryState(DevicePanel(main, L"FDeviceFrame9"), shown) && shown.Select == 0x02;
  }, 10000));
  EXPECT_TRUE(keptPanels) << "the panels stayed while the host was away";
}

TEST_F(ApiChain, AHostProgramThatCannotStartIsReported) {
  Start({{L"NVQ417API_HOST", Bin() + L"NoSuchHost.exe"}});
  // Shown until the watchdog's first text replaces it, 5 s after the window was made. Initialising
  // is not tried again, so waiting longer than that cannot see the text late.
  EXPECT_TRUE(WaitFor([&] { return Status() == "Initialise Error. (2)"; }, 10000)) << Status();
  EXPECT_EQ(Host(), nullptr);
}
