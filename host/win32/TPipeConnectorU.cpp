#include "TPipeConnectorU.h"

#include "HostNames.h"
#include "NVErrorsU.h"

#include <algorithm>
#include <new>

namespace {

HANDLE MakeInstance(const wchar_t* path, DWORD openMode, DWORD pipeMode, DWORD outBuffer, DWORD inBuffer) {
  return ::CreateNamedPipeW(path, openMode, pipeMode, TPipeConnector::MaxInstances, outBuffer, inBuffer, 0, nullptr);
}

} // namespace

TPipeConnector::TPipeConnector(const std::wstring& wsPipeName, const std::wstring& WSDLLName,
                               const std::vector<int32_t>& SerialObj, TClientEntries entries, DWORD busyTimeoutMs,
                               TInstanceMaker makeInstance)
    : fPipeName(wsPipeName), fPipePath(pellix::PipePath(wsPipeName)),
      // An event of this name that a waiting client made already is opened instead. Failing to
      // make it is not fatal: the listener then works the same and signals nothing.
      evACK(win32::MakeEvent(true, false, pellix::AckEventName(pellix::LibraryFileName(WSDLLName)).c_str())),
      evInit(win32::MakeEvent(true, false)), evInitAck(win32::MakeEvent(true, false)),
      evOnConnect(win32::MakeEvent(false, false)), fClientAggregator(SerialObj, entries, busyTimeoutMs),
      fMakeInstance(makeInstance ? makeInstance : MakeInstance) {
  // Without a thread every request answers "already terminated".
  if (evInit && evInitAck && fInitialised.Valid() && fClients.Valid() && evOnConnect) Start(PipeThreadStack);
}

TPipeConnector::~TPipeConnector() {
  // Normally stopped through TerminateAndWait; a listener destroyed without it stops here.
  if (Started() && !IsTerminated()) RequestStop();
  WaitFor();
}

win32::THandle TPipeConnector::CreatePipeInstance(bool first) {
  return win32::THandle(fMakeInstance(fPipePath.c_str(),
                                      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                      dwPipeWriteBuffer, dwPipeReadBuffer));
}

DWORD TPipeConnector::StartConnect() {
  fConnectRecord = OVERLAPPED{};
  fConnectRecord.hEvent = evOnConnect.Get();
  if (::ConnectNamedPipe(hPipe.Get(), &fConnectRecord)) {
    ::SetEvent(evOnConnect.Get());
    return ERROR_SUCCESS;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    fConnectPending = true;
    return ERROR_SUCCESS;
  }
  if (error == ERROR_PIPE_CONNECTED) {
    // A client came between the instance's creation and the connect: no completion will be
    // reported, so report it here and the hand-over takes it as any other.
    ::SetEvent(evOnConnect.Get());
    return ERROR_SUCCESS;
  }
  return error;
}

void TPipeConnector::Execute() {
  try {
    Serve();
  } catch (...) {
    // Nothing in the loop is expected to throw; if it did, the handlers are still stopped.
  }
  Shutdown();
}

void TPipeConnector::Serve() {
  const HANDLE waits[3] = {StopEvent(), evInit.Get(), evOnConnect.Get()};
  for (;;) {
    const DWORD woken = ::WaitForMultipleObjects(3, waits, FALSE, fRetryPending ? RetryMs : INFINITE);
    if (woken == WAIT_OBJECT_0) {
      ::ResetEvent(StopEvent());
      break;
    }
    if (woken == WAIT_OBJECT_0 + 1) {
      ::ResetEvent(evInit.Get());
      HandleInitialise();
      ::SetEvent(evInitAck.Get());
    } else if (woken == WAIT_OBJECT_0 + 2) {
      HandOver();
    } else if (woken == WAIT_TIMEOUT) {
      ListenNext();
    } else {
      break; // the wait failed: end as after a stop request
    }
  }
}

void TPipeConnector::HandleInitialise() {
  hPipe = CreatePipeInstance(true);
  if (!hPipe) {
    iErrorResult = ::GetLastError();
    return;
  }
  fInitialised.Set();
  iErrorResult = StartConnect();
  if (iErrorResult == ERROR_SUCCESS) ::SetEvent(evACK.Get());
}

void TPipeConnector::HandOver() {
  fConnectPending = false;
  if (hPipe) {
    // Made and listed under the list lock: a handler that ends at once finds itself listed.
    win32::TLock lock(fListLock);
    try {
      if (fListenerContainer.size() == fListenerContainer.capacity()) // room first: listing cannot fail
        fListenerContainer.reserve(2 * fListenerContainer.size() + 8);
      // The memory is allocated before the argument is evaluated: if that fails, hPipe still
      // owns the instance.
      auto* handler = new TPipeHandler(hPipe.Release(), this, &fClientAggregator);
      if (handler->Started()) fListenerContainer.push_back(handler);
      else delete handler; // closes the instance: the client sees its pipe end
    } catch (const std::bad_alloc&) {
      hPipe.Reset(); // out of memory: this client sees its pipe end, the listener goes on
    }
  }
  fClients.Set();
  ListenNext();
}

void TPipeConnector::ListenNext() {
  hPipe = CreatePipeInstance(false);
  fRetryPending = !hPipe || StartConnect() != ERROR_SUCCESS;
  if (fRetryPending) hPipe.Reset();
}

void TPipeConnector::Shutdown() {
  MarkTerminated();
  if (fConnectPending) {
    ::CancelIoEx(hPipe.Get(), &fConnectRecord);
    DWORD ignored = 0;
    ::GetOverlappedResult(hPipe.Get(), &fConnectRecord, &ignored, TRUE);
    fConnectPending = false;
  }
  hPipe.Reset();
  for (;;) {
    TPipeHandler* handler = nullptr;
    {
      win32::TLock lock(fListLock);
      if (fListenerContainer.empty()) break;
      handler = fListenerContainer.front();
      fListenerContainer.erase(fListenerContainer.begin());
    }
    handler->TerminateAndWait();
    delete handler; // waits for its thread
  }
}

int32_t TPipeConnector::Initialise() {
  win32::TLock lock(csAccess);
  if (!Started() || IsTerminated()) return NVERR_ALREADY_TERMINATED;
  if (IsInitialised()) return NVERR_ALREADY_INITIALISED;
  ::SetEvent(evInit.Get());
  const DWORD answer = ::WaitForSingleObject(evInitAck.Get(), RequestTimeoutMs);
  const int32_t result = answer == WAIT_OBJECT_0 ? int32_t(iErrorResult)
                         : answer == WAIT_TIMEOUT ? NVERR_LISTENER_NO_ANSWER
                                                  : NVERR_WAIT_FAILED;
  ::ResetEvent(evInitAck.Get());
  return result;
}

int32_t TPipeConnector::TerminateAndWait() {
  win32::TLock lock(csAccess);
  return RequestStopAndWait(RequestTimeoutMs, TAcknowledgement::Reset);
}

void TPipeConnector::ListenerDisconnect(TPipeHandler* Obj) {
  win32::TLock lock(fListLock);
  const auto at = std::find(fListenerContainer.begin(), fListenerContainer.end(), Obj);
  if (at == fListenerContainer.end()) return; // the shutdown has it and destroys it
  Obj->FreeOnTerminate();
  fListenerContainer.erase(at);
}

int32_t TPipeConnector::ListnerCount() {
  win32::TLock lock(fListLock);
  return int32_t(fListenerContainer.size());
}
