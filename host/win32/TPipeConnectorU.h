// The device host's pipe listener: owns the named pipe, hands every connected instance to a new
// pipe handler, keeps the list of live handlers and the one client aggregator, and sets the
// named acknowledge event once the pipe listens.
#pragma once

#include "TClientAggregatorU.h"
#include "TPipeConnectorAbsU.h"
#include "TPipeHandlerU.h"
#include "WinSync.h"

#include <string>
#include <vector>

class TPipeConnector final : public TPipeConnectorAbs {
public:
  // Makes one pipe instance (CreateNamedPipeW with the listener's properties); tests pass one
  // that fails for a while.
  using TInstanceMaker = HANDLE (*)(const wchar_t* path, DWORD openMode, DWORD pipeMode, DWORD outBuffer, DWORD inBuffer);

  static constexpr DWORD PipeBufferSize = 5000;
  static constexpr DWORD MaxInstances = PIPE_UNLIMITED_INSTANCES; // 255: no limit but the system's
  static constexpr DWORD RequestTimeoutMs = 5000;
  // While no instance can be created (all in use, or the system refuses), the run loop tries
  // again this often, so that the pipe accepts clients again once it can.
  static constexpr DWORD RetryMs = 100;

  // wsPipeName: the name after \\.\pipe\; WSDLLName: the client library's path, whose upper-cased
  // file name completes the acknowledge event's name; SerialObj: the open devices' references.
  TPipeConnector(const std::wstring& wsPipeName, const std::wstring& WSDLLName, const std::vector<int32_t>& SerialObj,
                 TClientEntries entries, DWORD busyTimeoutMs = TClientAggregator::BusyTimeoutMs,
                 TInstanceMaker makeInstance = nullptr);
  ~TPipeConnector() override;

  // 0, 100003 (already terminated), 100006 (no answer within 5000 ms), 100016 (already
  // initialised), 100017 (the wait failed) or the system's error code of the first instance.
  int32_t Initialise();
  // 0, 100003 (already terminated) or 100014 (not finished within 5000 ms). The
  // acknowledgement is reset after the wait.
  int32_t TerminateAndWait();
  void UpdateSerialRefs(const std::vector<int32_t>& NewSerialRefs) { fClientAggregator.UpdateSerialRefs(NewSerialRefs); }
  void ListenerDisconnect(TPipeHandler* Obj) override;
  // The number of connected clients.
  int32_t ListnerCount();

  bool IsInitialised() const noexcept { return fInitialised.IsSet(); }
  const std::wstring& PipeName() const noexcept { return fPipeName; }
  TClientAggregator& Aggregator() noexcept { return fClientAggregator; }

protected:
  void Execute() override;

private:
  // The first instance must be the first of its name: a name that another process holds already
  // is not shared, the listener does not listen and the host ends. Remote clients are refused.
  win32::THandle CreatePipeInstance(bool first);
  // Starts the overlapped connect on hPipe; 0 when it is pending or a client is already there.
  DWORD StartConnect();
  void Serve(); // the run loop, until a stop request
  void HandleInitialise();
  void HandOver();
  void ListenNext();
  void Shutdown();

  std::wstring fPipeName;
  std::wstring fPipePath; // made once: making an instance allocates nothing
  DWORD dwPipeWriteBuffer = PipeBufferSize;
  DWORD dwPipeReadBuffer = PipeBufferSize;
  win32::TCriticalSection csAccess; // serialises Initialise and TerminateAndWait
  win32::TCriticalSection fListLock; // the handler list; never held while waiting for a thread
  win32::THandle hPipe;             // the instance waiting for a client
  DWORD iErrorResult = 0;
  win32::THandle evACK;
  win32::THandle evInit, evInitAck;
  win32::TEventState fInitialised;  // evInitialised / evNotInitialised
  win32::TEventState fClients;      // evNonZeroClients / evZeroClients
  win32::THandle evOnConnect;
  std::vector<TPipeHandler*> fListenerContainer; // live handlers, in connecting order; not owned
  TClientAggregator fClientAggregator;
  OVERLAPPED fConnectRecord{};
  bool fConnectPending = false;
  bool fRetryPending = false;
  TInstanceMaker fMakeInstance;
};
