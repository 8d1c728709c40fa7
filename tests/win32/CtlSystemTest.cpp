// q417ctl.exe, the real program: over the real chain (device API library, host, client library,
// simulated selectors from bin/) for what it reads and sets, and beside the device API library's
// test double (testbin/) for the library's failures and the selectors that do not confirm.
#include "ConsoleRun.h"
#include "DemoSelectors.h"
#include "HostRun.h"
#include "PanelDriver.h"
#include "PanelRun.h"
#include "PipeClient.h"
#include "Q417Device.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>

using namespace testing_support;
using nlohmann::json;

namespace {

const std::wstring kPipe = L"\\\\.\\pipe\\PELLIX_PIPE_Q417";

std::wstring Bin() { return ProgramFolder() + L"..\\bin\\"; }

// The demo's selectors. 3: mode 2, channel 2, indicator off, 10 ms; 5: the worked example; 9: mode
// 3, channel 8, 500 ms.
const std::vector<std::pair<std::wstring, std::wstring>> kSimulated = {{L"NVSERIAL_SIMULATED", kDemoSelectors}};

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

// What a failed run must show: the code, nothing on standard output, one line naming the fault.
void ExpectFailure(const TConsoleResult& r, DWORD code, const std::string& named, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(r.ExitCode, code) << r.Err;
  EXPECT_EQ(r.Out, "");
  const auto lines = LinesOf(r.Err);
  ASSERT_EQ(lines.size(), 1u) << r.Err;
  EXPECT_EQ(lines[0].rfind("q417ctl: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(named), std::string::npos) << lines[0];
}

// The selectors over the real chain; each test starts without a Q417 host and ends with its
// host gone.
class CtlChain : public ::testing::Test {
protected:
  void SetUp() override {
    SetHostDebugSwitch(false); // a host in debug mode would stay a minute after its last client
    WaitNoHostOfType(q417::DeviceType, 30000);
  }
  void TearDown() override {
    keeper.Close();
    if (panel) {
      if (HWND main = panel->FindTopWindow(L"TQ417PanelForm")) ::PostMessageW(main, WM_CLOSE, 0, 0);
      EXPECT_TRUE(panel->WaitExit(30000));
    }
    if (host) {
      EXPECT_TRUE(host->WaitExit(30000)) << "the host did not end after its last client";
    }
    EXPECT_TRUE(WaitNoHostOfType(q417::DeviceType, 30000));
  }

  TConsoleResult Ctl(const std::wstring& arguments) { return RunConsole(Bin() + L"q417ctl.exe", arguments, kSimulated); }

  // A host of the selectors, kept running by the test's own connection, through which the test
  // also reads the selectors independently of q417ctl.
  void StartHost() {
    host = std::make_unique<TChildProcess>(Bin() + L"Pellix.exe", L"\"" + Bin() + L"Q417Client.dll\"", kSimulated);
    ASSERT_TRUE(host->Started());
    ASSERT_TRUE(WaitForAck(L"PELLIX_ACK_Q417CLIENT.DLL", 20000));
    ASSERT_TRUE(keeper.Connect(kPipe, 10000));
  }
  std::vector<TQ417DeviceState> AtSelectors() {
    const TBytes reply = keeper.Request(++tag, "");
    const TBytes packet = Payload(reply);
    std::vector<TQ417DeviceState> selectors;
    for (int32_t i = 0; i < q417::PacketRecordCount(packet); ++i) selectors.push_back(q417::PacketRecord(packet, i));
    std::sort(selectors.begin(), selectors.end(),
              [](const auto& a, const auto& b) { return a.Q417_DeviceID < b.Q417_DeviceID; });
    return selectors;
  }

  std::unique_ptr<TChildProcess> host, panel;
  TPipeClient keeper;
  uint32_t tag = 0;
};

// The doubles' library beside a copy of q417ctl.exe in testbin/, with a script and a call log.
struct TCtlBesideDouble {
  TTempFile script{L"scr"}, log{L"log"};

  explicit TCtlBesideDouble(const std::string& text) { script.Write(text); }
  TConsoleResult Run(const std::wstring& arguments) {
    return RunConsole(ProgramFolder() + L"q417ctl.exe", arguments,
                      {{L"NVQ417_DOUBLE_SCRIPT", script.Path()}, {L"NVQ417_DOUBLE_LOG", log.Path()}});
  }
  std::vector<std::string> Events(const std::string& event) const {
    std::vector<std::string> out;
    for (const auto& line : Lines(log.Read()))
      if (line.find(" " + event + " ") != std::string::npos) out.push_back(line);
    return out;
  }
};

const std::vector<TSelector> kDoubleSelectors = {{3, 0x02010000, 2, 2, 0, 100}, {5, 0x01020304, 1, 4, 1, 25}};

} // namespace

TEST_F(CtlChain, ListAndGetStartAHostAndReportTheSelectors) {
  TConsoleResult r = Ctl(L"list");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_NE(HostWindowOfType(q417::DeviceType), nullptr) << "the library started a host";
  auto lines = LinesOf(r.Out);
  ASSERT_EQ(lines.size(), 4u) << r.Out;
  EXPECT_EQ(lines[0], "         id  version          mode  channel    indicator  delay_ms");
  EXPECT_EQ(lines[1], "          3  2.1.0.0             2  2          off              10");
  EXPECT_EQ(lines[2], "          5  1.2.3.4             1  3          on              2.5");
  EXPECT_EQ(lines[3], "          9  3.0.0.7             3  8          on              500");

  r = Ctl(L"list --json");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  const json list = json::parse(r.Out);
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]["id"], 3);
  EXPECT_EQ(list[1]["id"], 5);
  EXPECT_EQ(list[2]["id"], 9);
  const json& nine = list[2];
  EXPECT_EQ(nine.size(), 8u) << nine.dump();
  EXPECT_EQ(nine["version"], "3.0.0.7");
  EXPECT_EQ(nine["error"], 0);
  EXPECT_EQ(nine["mode"], 3);
  EXPECT_EQ(nine["select"], 128);
  EXPECT_EQ(nine["channel"], 8);
  EXPECT_EQ(nine["indicator"], 1);
  EXPECT_EQ(nine["delay_ms"], 500);

  r = Ctl(L"get 5 --json");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  const json five = json::parse(r.Out);
  ASSERT_TRUE(five.is_object());
  EXPECT_EQ(five, json::parse(R"({"id":5,"version":"1.2.3.4","error":0,"mode":1,"select":4,"channel":3,"indicator":1,"delay_ms":2.5})"));

  r = Ctl(L"get 9");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  EXPECT_EQ(LinesOf(r.Out).size(), 2u) << r.Out;

  ExpectFailure(Ctl(L"get 4"), 3, "no selector with id 4 is connected", "get of an id not connected");
}

TEST_F(CtlChain, SetIsConfirmedAndReachesTheSelectors) {
  StartHost();
  const auto before = AtSelectors();
  ASSERT_EQ(before.size(), 3u);

  TConsoleResult r = Ctl(L"set 5 channel=7 delay=12.25 indicator=off");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  EXPECT_EQ(r.Err, "");
  const auto lines = LinesOf(r.Out);
  ASSERT_EQ(lines.size(), 2u) << r.Out;
  EXPECT_EQ(lines[1], "          5  1.2.3.4             1  7          off            12.2");
  auto now = AtSelectors();
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(int(now[1].Q417_State.Q417_Select), 0x40);
  EXPECT_EQ(int(now[1].Q417_State.Q417_Indicator), 0);
  EXPECT_EQ(int(now[1].Q417_State.Q417_Delay), 122) << "12.25 ms rounds to the even tenth";
  EXPECT_EQ(int(now[1].Q417_State.Q417_Mode), 1) << "a field not named stays";
  for (size_t i : {0u, 2u}) {
    EXPECT_EQ(int(now[i].Q417_State.Q417_Mode), int(before[i].Q417_State.Q417_Mode));
    EXPECT_EQ(int(now[i].Q417_State.Q417_Select), int(before[i].Q417_State.Q417_Select));
    EXPECT_EQ(int(now[i].Q417_State.Q417_Delay), int(before[i].Q417_State.Q417_Delay));
  }

  r = Ctl(L"set all mode=0 --json");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  const json all = json::parse(r.Out);
  ASSERT_EQ(all.size(), 3u);
  for (const json& s : all) {
    EXPECT_EQ(s["mode"], 0);
    EXPECT_EQ(s["channel"], 0);
  }
  for (const auto& s : AtSelectors()) {
    EXPECT_EQ(int(s.Q417_State.Q417_Mode), 0) << int(s.Q417_DeviceID);
    EXPECT_EQ(int(s.Q417_State.Q417_Select), 0) << int(s.Q417_DeviceID);
  }

  // Refused before anything is sent: the selectors stay as they are.
  ExpectFailure(Ctl(L"set 3 channel=2"), 2, "selector 3 would be in mode 0", "a channel under mode 0");
  ExpectFailure(Ctl(L"set 5 channel=9"), 2, "channel must be 0 to 8 or none", "a channel out of range");
  ExpectFailure(Ctl(L"set 4 mode=1"), 3, "no selector with id 4 is connected", "an id not connected");
  for (const auto& s : AtSelectors()) EXPECT_EQ(int(s.Q417_State.Q417_Mode), 0) << int(s.Q417_DeviceID);

  r = Ctl(L"set 3 mode=2 channel=1 --json");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  EXPECT_EQ(json::parse(r.Out)["channel"], 1);
  EXPECT_EQ(int(AtSelectors()[0].Q417_State.Q417_Select), 0x01);
}

TEST_F(CtlChain, SetWhileThePanelRunsShowsOnThePanel) {
  panel = std::make_unique<TChildProcess>(Bin() + L"Q417Panel.exe", L"", kSimulated);
  HWND main = nullptr, five = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    main = panel->FindTopWindow(L"TQ417PanelForm");
    five = main ? panel_driver::DevicePanel(main, L"FDeviceFrame5") : nullptr;
    return five != nullptr;
  }, 30000));
  const TConsoleResult r = Ctl(L"set 5 channel=6 mode=2");
  ASSERT_EQ(r.ExitCode, 0u) << r.Err;
  panel_driver::TPanelState shown;
  EXPECT_TRUE(WaitFor([&] { return panel_driver::QueryState(five, shown) && shown.Select == 0x20 && shown.Mode == 2; }, 10000))
      << "the panel shows mode " << shown.Mode << ", select " << shown.Select;
}

TEST_F(CtlChain, WatchSeesAChangeMadeByAnotherClient) {
  StartHost();
  // Long enough for any machine to show the change; the run is ended once it has (the end of
  // --for is checked beside the double).
  TConsoleRun watch(Bin() + L"q417ctl.exe", L"watch --json --for 600", kSimulated);
  ASSERT_TRUE(watch.Started());
  // Each line is in the log as soon as it is printed, while watch still runs.
  ASSERT_TRUE(WaitFor([&] { return watch.OutLines().size() >= 3; }, 30000)) << watch.Out() << watch.Err();
  std::vector<json> events;
  for (const auto& line : watch.OutLines()) events.push_back(json::parse(line));
  ASSERT_EQ(events.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i]["event"], "present");
    EXPECT_EQ(events[i].size(), 10u) << events[i].dump();
  }
  EXPECT_EQ(events[1]["id"], 5);
  const std::regex iso(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2})");
  EXPECT_TRUE(std::regex_match(events[0]["time"].get<std::string>(), iso)) << events[0]["time"];

  // Another client of the host changes selector 5.
  q417::TBytes table;
  q417::BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& s) {
    s.Q417_DeviceID = 5;
    s.Q417_State = {1, 0x80, 1, 25};
  });
  ASSERT_EQ(Result(keeper.Request(++tag, std::string(table.begin(), table.end()))), 0);
  ASSERT_TRUE(WaitFor([&] { return watch.OutLines().size() >= 4; }, 10000)) << watch.Out();
  const json changed = json::parse(watch.OutLines()[3]);
  EXPECT_EQ(changed["event"], "changed");
  EXPECT_EQ(changed["id"], 5);
  EXPECT_EQ(changed["channel"], 8);
  EXPECT_EQ(changed["select"], 128);
  EXPECT_EQ(watch.Err(), "");
}

TEST(CtlBesideDouble, TheLibrarysFailuresExitWithFiveAndItsCode) {
  const std::string state = "state " + PacketHex(kDoubleSelectors) + "\n";
  const struct {
    std::string script;
    const wchar_t* arguments;
    const char* named;
  } cases[] = {
      {"init 5\n", L"list", "Error loading API library. (5)"},
      {"init 997 thread -2\n", L"get 5", "Initialise Error. (-2)"},
      {state + "poll 6\n", L"list --json", "Update poll failed. (6)"},
      {state + "table 1359\n", L"set 5 channel=2", "Update failed. (1359)"},
      // A length beyond the delivered bytes: turned away, never read.
      {"poll 997 thread " + PacketHex(kDoubleSelectors) + "+4\n", L"list", "a packet that cannot be read"},
  };
  for (const auto& c : cases) {
    TCtlBesideDouble ctl(c.script);
    ExpectFailure(ctl.Run(c.arguments), 5, c.named, c.script);
    if (c.script.rfind("init 5", 0) != 0) {
      EXPECT_EQ(ctl.Events("close").size(), 1u) << "the library was closed: " << c.script;
    }
  }

  // Watch has printed what it saw before the library failed.
  TCtlBesideDouble watch(state + "poll 997\npoll 31\n");
  const TConsoleResult w = watch.Run(L"watch");
  EXPECT_EQ(w.ExitCode, 5u);
  EXPECT_EQ(LinesOf(w.Out).size(), 3u) << "the header and two present lines: " << w.Out;
  EXPECT_EQ(LinesOf(w.Err), std::vector<std::string>{"q417ctl: Update poll failed. (31)"});
  EXPECT_EQ(watch.Events("close").size(), 1u);

  // No library beside the program at all.
  TTempFile placeholder(L"alo");
  const std::wstring folder = placeholder.Path() + L".d\\";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"q417ctl.exe").c_str(), (folder + L"q417ctl.exe").c_str(), FALSE));
  const TConsoleResult alone = RunConsole(folder + L"q417ctl.exe", L"list");
  ::DeleteFileW((folder + L"q417ctl.exe").c_str());
  ::RemoveDirectoryW(folder.c_str());
  ExpectFailure(alone, 5, "(126)", "no NVQ417API.dll");
}

TEST(CtlBesideDouble, SetNotConfirmedExitsWithFourNamingTheFields) {
  // The selectors take nothing: every answer is the state they started with.
  const std::string packet = PacketHex(kDoubleSelectors);
  TCtlBesideDouble ctl("state " + packet + "\npoll 997 thread " + packet + "\ntable 997 thread " + packet + "\n");
  const TConsoleResult r = ctl.Run(L"set 5 channel=5 delay=3 --timeout 3000");
  ExpectFailure(r, 4, "not confirmed within 3000 ms: selector 5: channel=5 (reports 3), delay=3 (reports 2.5)",
                "a selector that does not take the table");
  // One complete table went out: every selector, only selector 5's named fields changed.
  std::vector<std::string> tables;
  for (const auto& line : ctl.Events("update"))
    if (line.find("table=null") == std::string::npos) tables.push_back(line);
  ASSERT_EQ(tables.size(), 1u);
  const std::vector<TSelector> sent = {{3, 0, 2, 2, 0, 100}, {5, 0, 1, 0x10, 1, 30}};
  EXPECT_NE(tables[0].find("table=" + PacketHex(sent, true) + " "), std::string::npos) << tables[0];
  EXPECT_GE(ctl.Events("update").size(), 3u) << "it asked again until the time-out";

  // A table that is never answered: the time-out holds all the same.
  TCtlBesideDouble silent("state " + packet + "\ntable 997 never\n");
  ExpectFailure(silent.Run(L"set 5 channel=5 --timeout 300"), 4,
                "not confirmed within 300 ms: selector 5: channel=5 (reports 3)", "a table never answered");
}

TEST(CtlBesideDouble, WatchForSecondsEndsByItselfAfterClosingTheLibrary) {
  TCtlBesideDouble ctl("state " + PacketHex(kDoubleSelectors) + "\n");
  const TConsoleResult r = ctl.Run(L"watch --for 2");
  EXPECT_EQ(r.ExitCode, 0u) << r.Err;
  EXPECT_EQ(r.Err, "");
  const auto lines = LinesOf(r.Out);
  ASSERT_EQ(lines.size(), 3u) << r.Out;
  EXPECT_EQ(lines[0].rfind("time ", 0), 0u) << lines[0];
  const std::regex present(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2}  present            5  1\.2\.3\.4 .*)");
  EXPECT_TRUE(std::regex_match(lines[2], present)) << lines[2];
  EXPECT_EQ(ctl.Events("close").size(), 1u);
  EXPECT_GE(ctl.Events("update").size(), 3u) << "it went on polling while it watched";
}

TEST(CtlBesideDouble, BadCommandLinesExitWithTwoAndLoadNothing) {
  const struct {
    const wchar_t* arguments;
    const char* named;
  } cases[] = {
      {L"", "no command given"},
      {L"lst", "unknown command \"lst\""},
      {L"get x5", "got \"x5\""},
      {L"set 5 colour=3", "unknown field \"colour\""},
      {L"set all delay=6553.6", "within 0 to 6553.5 ms"},
      {L"watch --for", "--for needs"},
  };
  for (const auto& c : cases) {
    TCtlBesideDouble ctl("state " + PacketHex(kDoubleSelectors) + "\n");
    ExpectFailure(ctl.Run(c.arguments), 2, c.named, Narrow(c.arguments));
    EXPECT_TRUE(ctl.Events("init").empty()) << "the library was initialised";
  }

  TCtlBesideDouble ctl("");
  TConsoleResult r = ctl.Run(L"--help");
  EXPECT_EQ(r.ExitCode, 0u);
  EXPECT_NE(r.Out.find("Exit codes:"), std::string::npos);
  EXPECT_NE(r.Out.find("q417ctl watch [--json] [--for SECONDS]"), std::string::npos);
  r = ctl.Run(L"--version");
  EXPECT_EQ(r.ExitCode, 0u);
  EXPECT_EQ(LinesOf(r.Out), std::vector<std::string>{"q417ctl 1.0.0"});
  EXPECT_TRUE(ctl.Events("init").empty());
}
