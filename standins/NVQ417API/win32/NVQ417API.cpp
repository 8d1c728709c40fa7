// The device API library as a real client of the device host. Each reference is one client: a
// thread of its own holds a pipe connection to the host that serves the Q417 device type
// (starting Pellix.exe with Q417Client.dll when none runs), turns every poll or next-state
// table into one request, and delivers every answer's update packet through the caller's
// callback. A connection that breaks is made again, starting a host if need be; the caller
// sees only that the answer takes longer.
#define NVQ417API_DECL
#include "NVQ417Hdr.h"

#include "Environment.h"
#include "HostNames.h"
#include "PollPacer.h"
#include "Q417Device.h"
#include "Q417Packet.h"
#include "ThreadObject.h"
#include "WinHandles.h"
#include "WinSync.h"
#include "WireFrames.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

constexpr int32_t kAccepted = 997;
constexpr DWORD kHostStartMs = 15000;  // for a started host's acknowledge event and pipe
constexpr DWORD kReplyMs = 30000;      // a host bounds its busy wait by 10 s; a library call adds its own time
constexpr DWORD kRetryMs = 250;        // between attempts while no host answers
constexpr int32_t kMaxRecords = 100000; // a next-state table beyond this is refused, not copied
// A reply longer than a packet of that many records comes from no sound host: the connection
// is dropped as a broken one instead of the reply growing without bound.
constexpr size_t kMaxReply = pellix::FrameHeaderSize + Q417_COUNT_SIZE + size_t(kMaxRecords) * Q417_RECORD_SIZE;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// Where the host and the Q417 client library are: beside this library, unless the environment
// names them (NVQ417API_HOST, NVQ417API_CLIENT).
struct TConfig {
  std::wstring Host, Client;

  static TConfig Load() {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameW(ThisModule(), path, DWORD(std::size(path)));
    std::wstring folder(path, n);
    folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);
    TConfig config{win32::EnvironmentVariable(L"NVQ417API_HOST"), win32::EnvironmentVariable(L"NVQ417API_CLIENT")};
    if (config.Host.empty()) config.Host = folder + L"Pellix.exe";
    if (config.Client.empty()) config.Client = folder + L"Q417Client.dll";
    return config;
  }
};

// Starts a program and lets it go, its handles closed at once.
DWORD StartProgram(const std::wstring& program, std::wstring commandLine, const std::wstring& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started))
    return ::GetLastError();
  const win32::THandle process(started.hProcess), thread(started.hThread);
  return ERROR_SUCCESS;
}

// Waits for the object or the stop event; true only for the object.
bool WaitOrStop(HANDLE object, HANDLE stop, DWORD timeoutMs) {
  const HANDLE both[2] = {stop, object};
  return ::WaitForMultipleObjects(object ? 2 : 1, both, FALSE, timeoutMs) == WAIT_OBJECT_0 + 1;
}

// One connection to the host's pipe.
class TConnection {
public:
  // Connects, starting a host when none serves the pipe. 0, or the system's error code.
  DWORD Open(const TConfig& config, HANDLE stop) {
    const std::wstring path = pellix::PipePath(pellix::PipeName(q417::DeviceTypeName));
    const ULONGLONG deadline = ::GetTickCount64() + kHostStartMs;
    bool hostStarted = false;
    for (;;) {
      fPipe.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
      if (fPipe) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        ::SetNamedPipeHandleState(fPipe.Get(), &mode, nullptr, nullptr);
        return ERROR_SUCCESS;
      }
      const DWORD error = ::GetLastError();
      if (::GetTickCount64() >= deadline) return error;
      if (error == ERROR_PIPE_BUSY) {
        ::WaitNamedPipeW(path.c_str(), 500); // the host makes the next instance right after a connection
      } else if (error == ERROR_FILE_NOT_FOUND && !hostStarted) {
        if (const DWORD started = StartHost(config, stop)) return started;
        hostStarted = true;
      } else if (error == ERROR_FILE_NOT_FOUND) {
        if (::WaitForSingleObject(stop, 50) == WAIT_OBJECT_0) return ERROR_CANCELLED;
      } else {
        return error;
      }
      if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return ERROR_CANCELLED;
    }
  }

  void Close() { fPipe.Reset(); }
  bool Connected() const { return bool(fPipe); }

  // Sends the request and reads until the reply with the same tag: one transaction on the
  // message pipe, then further reads only for a long reply or an older request's reply. False
  // when the pipe broke, no reply came in time or the stop event was set.
  bool Exchange(const TBytes& request, uint32_t tag, TBytes& reply, HANDLE stop) {
    bool more = false;
    if (!Complete(::TransactNamedPipe(fPipe.Get(), const_cast<uint8_t*>(request.data()), DWORD(request.size()),
                                      fChunk, sizeof fChunk, nullptr, Prepare()),
                  reply, more, stop))
      return false;
    for (;;) {
      while (more)
        if (!Complete(::ReadFile(fPipe.Get(), fChunk, sizeof fChunk, nullptr, Prepare()), reply, more, stop, true))
          return false;
      if (pellix::ReplyTag(reply) == tag) return true;
      reply.clear(); // an older request's reply is passed over
      if (!Complete(::ReadFile(fPipe.Get(), fChunk, sizeof fChunk, nullptr, Prepare()), reply, more, stop)) return false;
    }
  }

private:
  // Starts Pellix.exe with the client library and waits for its acknowledge event.
  DWORD StartHost(const TConfig& config, HANDLE stop) {
    // Made (or opened) before the host starts, so that its setting cannot be missed.
    const win32::THandle ack =
        win32::MakeEvent(true, false, pellix::AckEventName(pellix::LibraryFileName(config.Client)).c_str());
    // The host ends by itself once no client is connected.
    if (const DWORD error = StartProgram(config.Host, L"\"" + config.Host + L"\" \"" + config.Client + L"\"",
                                         config.Host.substr(0, config.Host.find_last_of(L"\\/") + 1)))
      return error;
    if (!ack) return ERROR_SUCCESS; // without the event, the pipe itself is waited for
    return WaitOrStop(ack.Get(), stop, kHostStartMs) ? ERROR_SUCCESS
           : ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0 ? ERROR_CANCELLED
                                                            : WAIT_TIMEOUT;
  }

  OVERLAPPED* Prepare() {
    fRecord = OVERLAPPED{};
    fRecord.hEvent = fEvent.Get();
    ::ResetEvent(fEvent.Get());
    return &fRecord;
  }

  // Waits for the operation just started and takes its bytes into message (appending when
  // `append`); `more` tells whether the message goes on.
  bool Complete(BOOL started, TBytes& message, bool& more, HANDLE stop, bool append = false) {
    if (!started && ::GetLastError() != ERROR_IO_PENDING && ::GetLastError() != ERROR_MORE_DATA) return false;
    DWORD moved = 0;
    if (!WaitOrStop(fEvent.Get(), stop, kReplyMs)) {
      ::CancelIoEx(fPipe.Get(), &fRecord);
      ::GetOverlappedResult(fPipe.Get(), &fRecord, &moved, TRUE);
      return false;
    }
    const BOOL ok = ::GetOverlappedResult(fPipe.Get(), &fRecord, &moved, TRUE);
    more = !ok && ::GetLastError() == ERROR_MORE_DATA;
    if (!ok && !more) return false;
    if (!append) message.clear();
    if (message.size() + moved > kMaxReply) return false;
    message.insert(message.end(), fChunk, fChunk + moved);
    return true;
  }

  win32::THandle fPipe;
  win32::THandle fEvent = win32::MakeEvent(true, false);
  OVERLAPPED fRecord{};
  uint8_t fChunk[8192];
};

// One reference: a thread that serves its requests one at a time.
class TApiClient final : public win32::TThreadObject, public std::enable_shared_from_this<TApiClient> {
public:
  struct TRequest {
    bool Poll;
    TBytes Table;
    TNVQ417UpdateDone Done;
    void* UserData;
  };

  TApiClient(TNVQ417InitDone initDone, void* userData) : fInitDone(initDone), fInitUserData(userData) {}
  ~TApiClient() override { Stop(); }

  // The thread holds a reference of its own: a caller may close the reference from inside one
  // of its callbacks, and the object then lives until the thread has left it.
  bool Start() { return TThreadObject::Start(0, shared_from_this()); }

  // Ends the thread; its callbacks have all returned when this returns (unless called from one).
  void Stop() {
    RequestStop();
    WaitFor();
  }

  bool Failed() const { return fFailed; }

  void Queue(TRequest request) {
    {
      const win32::TLock lock(fLock);
      fRequests.push_back(std::move(request));
    }
    ::SetEvent(fWork.Get());
  }

protected:
  void Execute() override {
    try {
      Run();
    } catch (...) {
      fFailed = true; // nobody serves this reference any more: its updates are refused
    }
  }

private:
  bool Pending() {
    const win32::TLock lock(fLock);
    return !fRequests.empty();
  }

  void Run() {
    const DWORD opened = fConnection.Open(fConfig, StopEvent());
    fFailed = opened != ERROR_SUCCESS;
    if (StopRequested()) return;
    fInitDone(int32_t(opened), fInitUserData);
    if (fFailed) return;
    const HANDLE waits[2] = {StopEvent(), fWork.Get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      for (;;) {
        TRequest request;
        {
          const win32::TLock lock(fLock);
          if (fRequests.empty()) break;
          request = std::move(fRequests.front());
          fRequests.pop_front();
        }
        Serve(request);
        if (StopRequested()) return;
      }
    }
  }

  // Asks the host until a reply carries an update packet; reconnects (and restarts the host)
  // while the pipe is broken. False when stopped.
  bool Ask(const TBytes& payload, TBytes& packet) {
    for (;;) {
      if (StopRequested()) return false;
      if (!fConnection.Connected() && fConnection.Open(fConfig, StopEvent()) != ERROR_SUCCESS) {
        if (::WaitForSingleObject(StopEvent(), kRetryMs) == WAIT_OBJECT_0) return false;
        continue;
      }
      const uint32_t tag = fNextTag++;
      pellix::BuildRequest(tag, payload, fRequestFrame);
      fLastAsked = ::GetTickCount64();
      if (!fConnection.Exchange(fRequestFrame, tag, fReply, StopEvent())) {
        fConnection.Close(); // the host went or stopped answering: connect anew
        continue;
      }
      const auto answer = pellix::ReplyPayload(fReply);
      if (answer.size() >= Q417_COUNT_SIZE) {
        packet.assign(answer.begin(), answer.end());
        return true;
      }
      // No packet (the host's library was busy or unbound): ask again shortly.
      if (::WaitForSingleObject(StopEvent(), kRetryMs) == WAIT_OBJECT_0) return false;
    }
  }

  void Serve(const TRequest& request) {
    TBytes packet;
    if (!request.Poll) {
      // A table is sent once it reached the host; its answer is the selectors' new state.
      if (!Ask(request.Table, packet)) return;
      Deliver(request, packet);
      return;
    }
    const ULONGLONG start = ::GetTickCount64();
    const HANDLE waits[2] = {StopEvent(), fWork.Get()};
    if (const uint32_t wait = fPacer.WaitBeforeAsking(start - fLastAsked))
      if (::WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0) return;
    for (;;) {
      if (!Ask({}, packet)) return;
      const auto decision = fPacer.Decide(packet, ::GetTickCount64() - start);
      if (decision.Deliver || Pending()) break;
      if (::WaitForMultipleObjects(2, waits, FALSE, decision.WaitMs) == WAIT_OBJECT_0) return;
    }
    Deliver(request, packet);
  }

  void Deliver(const TRequest& request, const TBytes& packet) {
    fPacer.Delivered(packet);
    if (request.Done && !StopRequested()) request.Done(0, packet.data(), int32_t(packet.size()), request.UserData);
  }

  const TConfig fConfig = TConfig::Load();
  TNVQ417InitDone fInitDone;
  void* fInitUserData;
  win32::THandle fWork = win32::MakeEvent(false, false);
  win32::TCriticalSection fLock;
  std::deque<TRequest> fRequests;
  TConnection fConnection;
  nvq417::TPollPacer fPacer;
  uint32_t fNextTag = 1;
  ULONGLONG fLastAsked = 0;
  TBytes fRequestFrame, fReply;
  std::atomic<bool> fFailed{false}; // read by callers' threads
};

// The references in use. Never destroyed: a caller may close its reference while the process
// is ending.
struct TClients {
  win32::TCriticalSection Lock;
  std::map<int32_t, std::shared_ptr<TApiClient>> ByRef;
  int32_t NextRef = 1;
};

TClients& Clients() {
  static TClients* clients = new TClients();
  return *clients;
}

std::shared_ptr<TApiClient> Find(int32_t ref) {
  TClients& clients = Clients();
  const win32::TLock lock(clients.Lock);
  const auto found = clients.ByRef.find(ref);
  return found == clients.ByRef.end() ? nullptr : found->second;
}

} // namespace

extern "C" {

int32_t WINAPI NVQ417_Initialise(int32_t* Ref, int32_t*, TNVQ417InitDone InitDone, void* UserData) {
  try {
    if (Ref == nullptr || InitDone == nullptr) return ERROR_INVALID_PARAMETER;
    auto client = std::make_shared<TApiClient>(InitDone, UserData);
    TClients& clients = Clients();
    {
      const win32::TLock lock(clients.Lock);
      *Ref = clients.NextRef++;
      clients.ByRef[*Ref] = client;
    }
    // The reference is in place before the thread can report: its callback may use it.
    if (!client->Start()) {
      const win32::TLock lock(clients.Lock);
      clients.ByRef.erase(*Ref);
      *Ref = 0;
      return int32_t(::GetLastError());
    }
    return kAccepted;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

int32_t WINAPI _NVQ417_Update(int32_t Ref, int32_t*, const uint8_t* NextState, void**, TNVQ417UpdateDone UpdateDone,
                              void* UserData) {
  try {
    const auto client = Find(Ref);
    if (!client) return ERROR_INVALID_HANDLE;
    if (client->Failed()) return ERROR_NOT_READY;
    TApiClient::TRequest request{NextState == nullptr, {}, UpdateDone, UserData};
    if (NextState) {
      // The table carries no length besides its count; the caller empties it once this returns.
      const int32_t count = q417::PacketDeclaredCount({NextState, Q417_COUNT_SIZE});
      if (count < 0 || count > kMaxRecords) return ERROR_INVALID_PARAMETER;
      request.Table.assign(NextState, NextState + Q417_COUNT_SIZE + size_t(count) * Q417_RECORD_SIZE);
    }
    client->Queue(std::move(request));
    return kAccepted;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

int32_t WINAPI NVQ417_Close(int32_t* Ref, int32_t*, void*, void*) {
  try {
    if (Ref == nullptr) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<TApiClient> client;
    {
      TClients& clients = Clients();
      const win32::TLock lock(clients.Lock);
      const auto found = clients.ByRef.find(*Ref);
      if (found == clients.ByRef.end()) return ERROR_INVALID_HANDLE;
      client = std::move(found->second);
      clients.ByRef.erase(found);
    }
    client->Stop(); // no callback of this reference comes after this returns
    *Ref = 0;
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

} // extern "C"
