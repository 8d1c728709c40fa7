// Benchmarks of the device host under this machine's Wine, each beside its yardstick in the same
// run: the costs of the request path's steps; the host's round trip and throughput against two
// servers over the same kind of pipe (message mode, overlapped, the same client code), each in a
// process of its own: a raw echo, and a reference that does per request what the host's design
// asks of it besides (the busy mutex taken and given back, the `szRead=N` debugger line queued
// to a writer thread through the host's own DebugUtilsU), so that host / reference is the host's
// own overhead; and the memory and handles that each connected client costs the host.
#include "DebugUtilsU.h"
#include "HostRun.h"
#include "PipeClient.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

constexpr size_t kPayload = 64;
constexpr int kRoundTrips = 1000;
constexpr int kRuns = 5; // alternating, raw and host side by side; the medians are compared
constexpr int kThreads = 8;
constexpr int kPerThread = 400;
constexpr int kClients = 200;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(frequency.QuadPart);
}

// Microseconds per call of f, over n calls.
double Micro(int n, const std::function<void()>& f) {
  const double start = Now();
  for (int i = 0; i < n; ++i) f();
  return (Now() - start) * 1e6 / n;
}

// The servers beside the host: one thread per connected client, each message read into a buffer
// as large as the host's and written back, with overlapped I/O on a message-mode pipe made like
// the host's. The reference server also does, for every request, the work that the host's design
// adds: the debugger line through the host's debug writer, and a wait (bounded as the host's)
// and release of one unnamed mutex that all its client threads share. Each runs in a process of
// its own (this program started with --echo or --reference), as the host does.
class TEchoServer {
public:
  TEchoServer(std::wstring path, bool designWork)
      : fPath(std::move(path)), fBusy(designWork ? ::CreateMutexW(nullptr, FALSE, nullptr) : nullptr) {}
  // Serves until the process is ended (or no pipe instance can be made and its clients went).
  void Run() {
    Listen();
    for (auto& client : fClients) client.join();
  }

private:
  static constexpr DWORD kBusyTimeoutMs = 10000; // the host's

  HANDLE Instance() {
    return ::CreateNamedPipeW(fPath.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 5000,
                              5000, 0, nullptr);
  }
  void Listen() {
    while (!fStop) {
      HANDLE pipe = Instance();
      if (pipe == INVALID_HANDLE_VALUE) return;
      const BOOL connected = ::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
      if (!connected || fStop) {
        ::CloseHandle(pipe);
        continue;
      }
      fClients.emplace_back([this, pipe] { Serve(pipe); });
    }
  }
  void Serve(HANDLE pipe) {
    const win32::THandle owner(pipe);
    const win32::THandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::vector<uint8_t> buffer(10000);
    for (;;) {
      OVERLAPPED record{};
      record.hEvent = event.Get();
      DWORD got = 0;
      if (!::ReadFile(pipe, buffer.data(), DWORD(buffer.size()), nullptr, &record) && ::GetLastError() != ERROR_IO_PENDING)
        return;
      if (!::GetOverlappedResult(pipe, &record, &got, TRUE)) return;
      if (fBusy && !DesignWork(got)) return; // the client sees its pipe end and the run fails
      record = OVERLAPPED{};
      record.hEvent = event.Get();
      if (!::WriteFile(pipe, buffer.data(), got, nullptr, &record) && ::GetLastError() != ERROR_IO_PENDING) return;
      DWORD written = 0;
      if (!::GetOverlappedResult(pipe, &record, &written, TRUE)) return;
    }
  }
  // In the host's order: the line is queued before the library's turn is taken.
  bool DesignWork(DWORD size) {
    DebugOutFmt(L"szRead=%d", {int64_t(size)});
    if (::WaitForSingleObject(fBusy.Get(), kBusyTimeoutMs) != WAIT_OBJECT_0) return false;
    return ::ReleaseMutex(fBusy.Get()) != FALSE;
  }

  std::wstring fPath;
  win32::THandle fBusy; // none for the raw echo
  std::atomic<bool> fStop{false};
  std::vector<std::thread> fClients;
};

const std::string kRequest(kPayload, 'p');

// Microseconds per round trip of one client.
double RoundTrip(const std::wstring& path) {
  TPipeClient client;
  if (!client.Connect(path, 10000)) return -1;
  for (int i = 0; i < 100; ++i) client.Request(uint32_t(i), kRequest); // warm up
  const double start = Now();
  for (int i = 0; i < kRoundTrips; ++i)
    if (client.Request(uint32_t(i), kRequest).size() < 8) return -1;
  return (Now() - start) * 1e6 / kRoundTrips;
}

// Requests per second of kThreads clients at once.
double Throughput(const std::wstring& path) {
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (int i = 0; i < kThreads; ++i) {
    clients.push_back(std::make_unique<TPipeClient>());
    if (!clients.back()->Connect(path, 10000)) return -1;
    clients.back()->Request(0, kRequest);
  }
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  const double start = Now();
  for (auto& client : clients)
    threads.emplace_back([&, c = client.get()] {
      for (int i = 0; i < kPerThread; ++i)
        if (c->Request(uint32_t(i), kRequest).size() < 8) ++failed;
    });
  for (auto& t : threads) t.join();
  return failed ? -1 : kThreads * kPerThread / (Now() - start);
}

// Committed private memory of a process, from its address space (Wine does not fill in the
// process memory counters that would say it).
double CommittedBytes(HANDLE process) {
  double total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (uint8_t* at = nullptr; ::VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
       at = static_cast<uint8_t*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += double(region.RegionSize);
    if (region.RegionSize == 0) break;
  }
  return total;
}

// The median of runs that all succeeded (a failed run is -1); ends the benchmark otherwise.
double Median(std::vector<double> v, const char* what) {
  if (std::any_of(v.begin(), v.end(), [](double x) { return x < 0; })) {
    std::printf("a run against the %s failed\n", what);
    std::exit(1);
  }
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Row(const char* what, double value, const char* unit, const char* goal) {
  std::printf("  %-58s %10.2f %-8s %s\n", what, value, unit, goal);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && (std::wstring(argv[1]) == L"--echo" || std::wstring(argv[1]) == L"--reference")) {
    TEchoServer(argv[2], std::wstring(argv[1]) == L"--reference").Run();
    return 0;
  }
  std::printf("== steps of the request path, in-process (microseconds per call)\n");
  double mutexCost = 0, debugLineCost = 0;
  {
    const win32::THandle mutex(::CreateMutexW(nullptr, FALSE, nullptr));
    const win32::THandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    CRITICAL_SECTION section;
    ::InitializeCriticalSection(&section);
    debugLineCost = Micro(2000, [] { ::OutputDebugStringW(L"szRead=72"); });
    Row("OutputDebugStringW (\"szRead=72\", no debug monitor)", debugLineCost, "us", "");
    mutexCost = Micro(5000, [&] {
      ::WaitForSingleObject(mutex.Get(), 10000);
      ::ReleaseMutex(mutex.Get());
    });
    Row("busy mutex: wait + release", mutexCost, "us", "");
    Row("lock: critical section enter + leave", Micro(100000, [&] {
          ::EnterCriticalSection(&section);
          ::LeaveCriticalSection(&section);
        }), "us", "");
    Row("event: set + wait", Micro(5000, [&] {
          ::SetEvent(event.Get());
          ::WaitForSingleObject(event.Get(), 0);
        }), "us", "");
    Row("allocation: CoTaskMemAlloc + CoTaskMemFree, 64 bytes",
        Micro(100000, [] { ::CoTaskMemFree(::CoTaskMemAlloc(kPayload)); }), "us", "");
    ::DeleteCriticalSection(&section);
  }

  THostRun host;
  TPipeClient keeper; // connected throughout, so that the host does not end between measurements
  if (!host.WaitListening() || !host.Connect(keeper)) {
    std::printf("the host did not start\n");
    return 1;
  }
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring echoPath = L"\\\\.\\pipe\\Q417_BENCH_ECHO_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring referencePath = L"\\\\.\\pipe\\Q417_BENCH_REFERENCE_" + std::to_wstring(::GetCurrentProcessId());
  TChildProcess echoServer(self, L"--echo " + echoPath);                // ended with this object
  TChildProcess referenceServer(self, L"--reference " + referencePath); // likewise
  for (const auto& [path, name] : {std::pair{echoPath, "echo"}, std::pair{referencePath, "reference"}}) {
    TPipeClient ready;
    if (!ready.Connect(path, 10000) || ready.Request(0, kRequest).size() < 8) {
      std::printf("the %s server did not start\n", name);
      return 1;
    }
  }

  std::printf("== one client, %zu-byte payload, %d round trips, median of %d alternating runs each\n", kPayload,
              kRoundTrips, kRuns);
  std::vector<double> raw, reference, served;
  for (int run = 0; run < kRuns; ++run) {
    raw.push_back(RoundTrip(echoPath));
    reference.push_back(RoundTrip(referencePath));
    served.push_back(RoundTrip(host.PipePath()));
  }
  const double rawRt = Median(raw, "raw echo"), referenceRt = Median(reference, "reference"),
               hostRt = Median(served, "host");
  Row("raw echo round trip", rawRt, "us", "");
  Row("reference round trip (the echo + busy mutex + debugger line)", referenceRt, "us", "");
  Row("host round trip (a client library that answers at once)", hostRt, "us", "");
  Row("host / raw", hostRt / rawRt, "x", "goal: at most 1.15");
  Row("host - raw", hostRt - rawRt, "us", "");
  Row("  of it the busy mutex, a kernel object (Wine's server twice)", mutexCost, "us", "");
  Row("  the rest", hostRt - rawRt - mutexCost, "us", "");
  Row("(host - busy mutex) / raw", (hostRt - mutexCost) / rawRt, "x", "");
  std::printf("  The debugger line (%.0f us in-process) is written by the host's writer thread, off the\n"
              "  request's path; under Wine its calls still queue at Wine's one server.\n", debugLineCost);
  Row("reference - raw (the design's own cost)", referenceRt - rawRt, "us", "");
  Row("host / reference", hostRt / referenceRt, "x", "goal: at most 1.05");
  Row("host - reference (the host's own cost)", hostRt - referenceRt, "us", "");

  std::printf("== %d clients at once, %d requests each, median of %d alternating runs each\n", kThreads, kPerThread, kRuns);
  std::vector<double> rawT, referenceT, hostT;
  for (int run = 0; run < kRuns; ++run) {
    rawT.push_back(Throughput(echoPath));
    referenceT.push_back(Throughput(referencePath));
    hostT.push_back(Throughput(host.PipePath()));
  }
  const double rawTp = Median(rawT, "raw echo"), referenceTp = Median(referenceT, "reference"),
               hostTp = Median(hostT, "host");
  Row("raw echo throughput", rawTp, "req/s", "");
  Row("reference throughput", referenceTp, "req/s", "");
  Row("host throughput", hostTp, "req/s", "");
  Row("host / raw", hostTp / rawTp, "x", "goal: at least 0.85");
  Row("host / reference", hostTp / referenceTp, "x", "goal: at least 0.95");

  std::printf("== %d clients connected to the host\n", kClients);
  const HANDLE process = host.Process().Handle();
  auto committed = [&] { return CommittedBytes(process); };
  auto handles = [&] { return double(ProcessHandleCount(host.Process().Id())); };
  // Wine commits memory of its own for every thread; measured beside, in this process, with an
  // idle thread of the handlers' stack size.
  double winePerThread = 0;
  {
    const win32::THandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const double before = CommittedBytes(::GetCurrentProcess());
    std::vector<win32::THandle> threads;
    for (int i = 0; i < 20; ++i)
      threads.emplace_back(::CreateThread(
          nullptr, 1 << 20, [](void* e) -> DWORD { return ::WaitForSingleObject(static_cast<HANDLE>(e), INFINITE); },
          release.Get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    ::Sleep(200);
    winePerThread = (CommittedBytes(::GetCurrentProcess()) - before) / 20;
    ::SetEvent(release.Get());
    for (auto& t : threads) ::WaitForSingleObject(t.Get(), INFINITE);
  }
  const double memory0 = committed(), handles0 = handles();
  {
    std::vector<std::unique_ptr<TPipeClient>> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.push_back(std::make_unique<TPipeClient>());
      if (!clients.back()->Connect(host.PipePath(), 10000) || clients.back()->Request(1, kRequest).size() < 8) {
        std::printf("client %d was not served\n", i);
        return 1;
      }
    }
    WaitFor([&] { return host.ClientCount() == std::to_string(kClients + 1); }, 10000);
    const double perClient = (committed() - memory0) / kClients;
    Row("committed memory per client, all of it", perClient / 1024, "KiB", "");
    Row("  of which Wine's own per thread (an idle thread, measured beside)", winePerThread / 1024, "KiB", "");
    Row("  the host's own", (perClient - winePerThread) / 1024, "KiB", "goal: under 100");
    Row("handles per client", (handles() - handles0) / kClients, "", "goal: under 10");
  }
  return 0;
}
