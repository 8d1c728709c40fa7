// Benchmark of q417ctl.exe under this machine's Wine, over the real chain from bin/ with three
// simulated selectors and a host already running: how long `list` and `set` take from the
// moment a script starts the process to the moment it sees it end (process start included), beside
// `--version`, which loads no library and so is the cost of starting a program at all; and how
// soon `watch` prints a change made at a selector by another client of the host.
#include "ConsoleRun.h"
#include "DemoSelectors.h"
#include "HostRun.h"
#include "PipeClient.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr int kRuns = 15;
constexpr int kChanges = 20;
const std::vector<std::pair<std::wstring, std::wstring>> kSimulated = {{L"NVSERIAL_SIMULATED", kDemoSelectors}};

std::wstring Bin() { return ProgramFolder() + L"..\\bin\\"; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// Milliseconds from asking for the process to seeing it end, as a script that runs it waits;
// -1 on failure.
double RunMs(const std::wstring& arguments) {
  const double start = NowMs();
  TConsoleRun run(Bin() + L"q417ctl.exe", arguments, kSimulated);
  if (!run.Started() || ::WaitForSingleObject(run.Process().Handle(), 60000) != WAIT_OBJECT_0 || run.ExitCode() != 0) {
    std::printf("q417ctl %ls failed: %s\n", arguments.c_str(), run.Err().c_str());
    return -1;
  }
  return NowMs() - start;
}

// The local time now, and the one a watch line carries, as milliseconds since midnight.
double LocalMsOfDay() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return ((t.wHour * 60.0 + t.wMinute) * 60.0 + t.wSecond) * 1000.0 + t.wMilliseconds;
}
double LineMsOfDay(const std::string& line) { // ..."time":"2026-12-10T10:15:30.123+01:00"...
  const size_t at = line.find("\"time\":\"");
  if (at == std::string::npos || line.size() < at + 8 + 23) return -1;
  const std::string t = line.substr(at + 8 + 11, 12); // 10:15:30.123
  return ((std::stod(t.substr(0, 2)) * 60 + std::stod(t.substr(3, 2))) * 60 + std::stod(t.substr(6, 2))) * 1000 +
         std::stod(t.substr(9, 3));
}

void Row(const char* what, double value, const char* unit, const char* goal) {
  std::printf("  %-58s %10.1f %-4s %s\n", what, value, unit, goal);
}

} // namespace

int main() {
  // The host, kept running by this program's own connection, through which it also changes a
  // selector as another client would.
  TChildProcess host(Bin() + L"Pellix.exe", L"\"" + Bin() + L"Q417Client.dll\"", kSimulated);
  TPipeClient keeper;
  if (!host.Started() || !WaitForAck(L"PELLIX_ACK_Q417CLIENT.DLL", 20000) ||
      !keeper.Connect(L"\\\\.\\pipe\\PELLIX_PIPE_Q417", 10000)) {
    std::printf("the host did not start\n");
    return 1;
  }

  std::printf("== q417ctl from start to exit, a host running, median of %d runs taken in turn\n", kRuns);
  std::vector<double> version, list, set;
  for (int i = 0; i < kRuns; ++i) {
    version.push_back(RunMs(L"--version"));
    list.push_back(RunMs(L"list"));
    set.push_back(RunMs(L"set 5 channel=" + std::to_wstring(1 + i % 8)));
  }
  if (std::count(list.begin(), list.end(), -1.0) || std::count(set.begin(), set.end(), -1.0)) return 1;
  Row("q417ctl --version (starting a program, no library)", Median(version), "ms", "");
  Row("q417ctl list", Median(list), "ms", "goal: under 1000 ms");
  Row("q417ctl set 5 channel=N (sent and confirmed)", Median(set), "ms", "goal: under 1000 ms");
  std::printf("  list / --version %.2f, set / --version %.2f: the library's start, its connection to the\n"
              "  host and the exchanges, beside the program's own start\n",
              Median(list) / Median(version), Median(set) / Median(version));

  std::printf("== q417ctl watch: a change made at a selector by another client, until watch prints it (%d changes)\n",
              kChanges);
  TConsoleRun watch(Bin() + L"q417ctl.exe", L"watch --json", kSimulated);
  if (!WaitFor([&] { return watch.OutLines().size() >= 3; }, 30000)) {
    std::printf("watch printed no state: %s\n", watch.Err().c_str());
    return 1;
  }
  std::mt19937 random(std::random_device{}());
  std::vector<double> latency;
  uint32_t tag = 0;
  for (int i = 0; i < kChanges; ++i) {
    ::Sleep(random() % 400); // at random points of the library's poll cycle
    const size_t seen = watch.OutLines().size();
    q417::TBytes table;
    q417::BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& s) {
      s.Q417_DeviceID = 5;
      s.Q417_State = {1, uint8_t(1u << ((i + 3) % 8)), 1, 25}; // never the channel it has
    });
    const double sent = LocalMsOfDay();
    if (Result(keeper.Request(++tag, std::string(table.begin(), table.end()))) != 0) {
      std::printf("the change was refused\n");
      return 1;
    }
    std::vector<std::string> lines;
    if (!WaitFor([&] { return (lines = watch.OutLines()).size() > seen; }, 10000, 1)) {
      std::printf("watch did not print change %d\n", i);
      return 1;
    }
    latency.push_back(LineMsOfDay(lines[seen]) - sent);
  }
  std::sort(latency.begin(), latency.end());
  std::printf("  min %.0f ms, median %.0f ms, max %.0f ms   goal: within 300 ms\n", latency.front(), Median(latency),
              latency.back());
  return 0;
}
