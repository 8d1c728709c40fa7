// Benchmarks of the device host under this machine's Wine, each beside its yardstick in the same
// run: the costs of the request path's steps; the host's round trip and throughput against
// servers over the same kind of pipe (message mode, overlapped, the same client code), each in a
// process of its own: a raw echo, and a reference that does per request what the host's design
// asks of it besides (the busy mutex taken and given back, the `szRead=N` debugger line queued
// to a writer thread through the host's own DebugUtilsU), so that host / reference is the host's
// own overhead; a second, equal reference, whose distance from the first is the run's own spread
// (on this shared machine two equal servers may lie a good way apart); for the throughput, the
// reference with a lock around its mutex, as the host's client aggregator has; and the memory
// and handles that each connected client costs the host.
#include "DebugUtilsU.h"
#include "HostRun.h"
#include "LibraryCallGuard.h"
#include "PellixHdr.h"
#include "PipeClient.h"
#include "ProcessMemory.h"
#include "WinSync.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

using namespace testing_support;

namespace {

constexpr size_t kPayload = 64;
// Many short runs rather than a few long ones: the machine is shared, and a burst of other work
// then falls on one run of one server rather than on a whole median.
constexpr int kRoundTrips = 500;
constexpr int kRoundTripRuns = 9;
constexpr int kThreads = 8;
constexpr int kPerThread = 150;
constexpr int kThroughputRuns = 15;
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
// and release of one unnamed mutex that all its client threads share; the locked reference takes
// a critical section around that wait and release besides, as the host's client aggregator does,
// to tell the lock's share of the host's cost under contention. Each runs in a process of its own
// (this program started with --echo, --reference or --reference-locked), as the host does.
class TEchoServer {
public:
  enum class TWork { Echo, Reference, ReferenceLocked };

  TEchoServer(std::wstring path, TWork work)
      : fPath(std::move(path)), fBusy(work != TWork::Echo ? ::CreateMutexW(nullptr, FALSE, nullptr) : nullptr),
        fLocked(work == TWork::ReferenceLocked) {}
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
    if (!fLocked) return TakeAndGiveBack();
    const win32::TLock lock(fLock);
    return TakeAndGiveBack();
  }
  bool TakeAndGiveBack() {
    if (::WaitForSingleObject(fBusy.Get(), kBusyTimeoutMs) != WAIT_OBJECT_0) return false;
    return ::ReleaseMutex(fBusy.Get()) != FALSE;
  }

  std::wstring fPath;
  win32::THandle fBusy; // none for the raw echo
  bool fLocked;
  win32::TCriticalSection fLock;
  std::atomic<bool> fStop{false};
  std::vector<std::thread> fClients;
};

const std::string kRequest(kPayload, 'p');

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

struct TServer {
  const char* name;
  std::wstring path;
};

[[noreturn]] void Failed(const TServer& server) {
  std::printf("a run against the %s failed\n", server.name);
  std::exit(1);
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + ptrdiff_t(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Microseconds per round trip of one client of each server, in the order given. The servers
// take turns request by request, so that a burst of other work on this shared machine falls on
// all of them alike; a run's figure is the median of its round trips (one that waited for a core
// weighs no more than any other), and the result the median of kRoundTripRuns runs.
std::vector<double> RoundTrips(const std::vector<TServer>& servers) {
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (const auto& server : servers) {
    clients.push_back(std::make_unique<TPipeClient>());
    if (!clients.back()->Connect(server.path, 10000)) Failed(server);
    for (int i = 0; i < 100; ++i) clients.back()->Request(uint32_t(i), kRequest); // warm up
  }
  std::vector<std::vector<double>> runs(servers.size());
  for (int run = 0; run < kRoundTripRuns; ++run) {
    std::vector<std::vector<double>> times(servers.size());
    for (int i = 0; i < kRoundTrips; ++i)
      for (size_t k = 0; k < servers.size(); ++k) {
        const size_t at = (k + size_t(i)) % servers.size(); // none always follows another
        const double start = Now();
        if (clients[at]->Request(uint32_t(i), kRequest).size() < 8) Failed(servers[at]);
        times[at].push_back((Now() - start) * 1e6);
      }
    for (size_t k = 0; k < servers.size(); ++k) runs[k].push_back(Median(times[k]));
  }
  std::vector<double> medians;
  for (const auto& v : runs) medians.push_back(Median(v));
  return medians;
}

// Requests per second of kThreads clients of each server, in the order given: each server
// measured once per run, the servers' order turning from run to run; the median of
// kThroughputRuns runs.
std::vector<double> Throughputs(const std::vector<TServer>& servers) {
  std::vector<std::vector<double>> runs(servers.size());
  for (int run = 0; run < kThroughputRuns; ++run)
    for (size_t k = 0; k < servers.size(); ++k) {
      const size_t at = (k + size_t(run)) % servers.size();
      const double value = Throughput(servers[at].path);
      if (value < 0) Failed(servers[at]);
      runs[at].push_back(value);
    }
  std::vector<double> medians;
  for (const auto& v : runs) medians.push_back(Median(v));
  return medians;
}

void Row(const char* what, double value, const char* unit, const char* goal) {
  std::printf("  %-58s %10.2f %-8s %s\n", what, value, unit, goal);
}

// The servers the benchmark starts this program as, one process each: --MODE PIPE.
constexpr std::pair<std::wstring_view, TEchoServer::TWork> kServerModes[] = {
    {L"--echo", TEchoServer::TWork::Echo},
    {L"--reference", TEchoServer::TWork::Reference},
    {L"--reference-locked", TEchoServer::TWork::ReferenceLocked},
};

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3) {
    const auto mode = std::find_if(std::begin(kServerModes), std::end(kServerModes),
                                   [&](const auto& m) { return m.first == argv[1]; });
    if (mode == std::end(kServerModes)) return 2;
    TEchoServer(argv[2], mode->second).Run();
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
    // What the host does for a request besides the reference's work, all in user space.
    const win32::TModule library(::LoadLibraryW((ProgramFolder() + L"PellixClientDouble.dll").c_str()));
    void* entry = library ? reinterpret_cast<void*>(::GetProcAddress(library.Get(), "_PELLIX_DeviceUpdate")) : nullptr;
    const auto update = reinterpret_cast<TPELLIX_DeviceUpdate>(entry);
    if (!update) {
      std::printf("the test client library did not load\n");
      return 1;
    }
    void* slot = nullptr;
    // One update with its request and response allocated, called directly or through the guard
    // that the host calls the library through.
    auto call = [&](bool guarded) {
      TPellixBytes request{static_cast<uint8_t*>(::CoTaskMemAlloc(kPayload)), int32_t(kPayload)};
      if (!request.Data) return;
      std::memcpy(request.Data, kRequest.data(), kPayload);
      TPellixBytes response{nullptr, 0};
      const TNVSerialRefs refs{nullptr, 0};
      int32_t result = 0;
      TLibraryFault fault;
      if (guarded) GuardedDeviceUpdate(update, &request, &response, &refs, &slot, result, fault);
      else update(&request, &response, &refs, &slot);
      ::CoTaskMemFree(response.Data);
      ::CoTaskMemFree(request.Data);
    };
    Row("test client library update, request + response allocated", Micro(20000, [&] { call(false); }), "us", "");
    Row("the same through the host's guard of library calls", Micro(20000, [&] { call(true); }), "us", "");
  }

  THostRun host;
  TPipeClient keeper; // connected throughout, so that the host does not end between measurements
  if (!host.WaitListening() || !host.Connect(keeper)) {
    std::printf("the host did not start\n");
    return 1;
  }
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring unique = std::to_wstring(::GetCurrentProcessId());
  const TServer echo{"raw echo", L"\\\\.\\pipe\\Q417_BENCH_ECHO_" + unique};
  const TServer reference{"reference", L"\\\\.\\pipe\\Q417_BENCH_REFERENCE_" + unique};
  const TServer locked{"locked reference", L"\\\\.\\pipe\\Q417_BENCH_LOCKED_" + unique};
  // A second reference, the same in every way: how far two equal servers' figures lie apart in
  // this run, against which host / reference is read.
  const TServer twin{"second reference", L"\\\\.\\pipe\\Q417_BENCH_TWIN_" + unique};
  const TServer served{"host", host.PipePath()};
  // Each ended with its object.
  TChildProcess echoServer(self, L"--echo " + echo.path);
  TChildProcess referenceServer(self, L"--reference " + reference.path);
  TChildProcess lockedServer(self, L"--reference-locked " + locked.path);
  TChildProcess twinServer(self, L"--reference " + twin.path);
  for (const TServer* server : {&echo, &reference, &locked, &twin}) {
    TPipeClient ready;
    if (!ready.Connect(server->path, 10000) || ready.Request(0, kRequest).size() < 8) {
      std::printf("the %s server did not start\n", server->name);
      return 1;
    }
  }

  std::printf("== one client each, %zu-byte payload, %d runs of %d round trips, taking turns request by request\n",
              kPayload, kRoundTripRuns, kRoundTrips);
  const auto rt = RoundTrips({echo, reference, served, twin});
  const double rawRt = rt[0], referenceRt = rt[1], hostRt = rt[2], twinRt = rt[3];
  Row("raw echo round trip", rawRt, "us", "");
  Row("reference round trip (echo + busy mutex + debugger line)", referenceRt, "us", "");
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
  Row("second reference / reference (two equal servers)", twinRt / referenceRt, "x", "");

  std::printf("== %d clients at once, %d requests each, median of %d alternating runs each\n", kThreads, kPerThread,
              kThroughputRuns);
  const auto tp = Throughputs({echo, reference, locked, served, twin});
  const double rawTp = tp[0], referenceTp = tp[1], lockedTp = tp[2], hostTp = tp[3], twinTp = tp[4];
  Row("raw echo throughput", rawTp, "req/s", "");
  Row("reference throughput", referenceTp, "req/s", "");
  Row("host throughput", hostTp, "req/s", "");
  Row("host / raw", hostTp / rawTp, "x", "goal: at least 0.85");
  Row("host / reference", hostTp / referenceTp, "x", "goal: at least 0.95");
  Row("second reference / reference (two equal servers)", twinTp / referenceTp, "x", "");
  Row("locked reference throughput (a lock, as the host's)", lockedTp, "req/s", "");
  Row("locked reference / reference", lockedTp / referenceTp, "x", "");
  Row("host / locked reference", hostTp / lockedTp, "x", "");

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
