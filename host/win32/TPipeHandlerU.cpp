#include "TPipeHandlerU.h"

#include "DebugUtilsU.h"

#include <new>

TPipeHandler::TPipeHandler(HANDLE Pipe, TPipeConnectorAbs* Owner, TClientAggregator* ClientAggregator)
    : hPipe(Pipe), evPipeRdEvent(win32::MakeEvent(false, false)), evPipeWrEvent(win32::MakeEvent(false, false)),
      fOwner(Owner), fAggregator(ClientAggregator) {
  if (evPipeRdEvent && evPipeWrEvent) Start(TPipeConnectorAbs::PipeThreadStack);
}

TPipeHandler::~TPipeHandler() {
  WaitFor(); // Execute uses every member until it returns
}

int32_t TPipeHandler::TerminateAndWait() { return RequestStopAndWait(TerminateTimeoutMs, TAcknowledgement::LeftSet); }

void TPipeHandler::Execute() {
  fReadRecord.hEvent = evPipeRdEvent.Get();
  fWriteRecord.hEvent = evPipeWrEvent.Get();
  bool byItself = true;
  try {
    byItself = Serve();
  } catch (...) {
    MarkTerminated(); // out of memory: the connection ends as if the pipe had broken
  }
  if (byItself) fOwner->ListenerDisconnect(this);
  EndPendingIo();
  hPipe.Reset();
}

bool TPipeHandler::Serve() {
  if (!StartRead()) return true;
  const HANDLE waits[3] = {StopEvent(), evPipeRdEvent.Get(), evPipeWrEvent.Get()};
  for (;;) {
    // A reply's write usually completes at once: its event is waited for only while a write
    // is pending, which spares a wake-up per request. (A completion signalled for a write that
    // had completed at once may still wake the loop later; it is passed over.)
    const DWORD woken = ::WaitForMultipleObjects(fWritePending ? 3 : 2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0) { // stop request
      MarkTerminated();
      return false;
    }
    if (woken == WAIT_OBJECT_0 + 2) { // the pending write completed (or an earlier one signalled late)
      if (HasOverlappedIoCompleted(&fWriteRecord)) WaitForWrite();
      continue;
    }
    if (woken == WAIT_OBJECT_0 + 1) {
      DWORD size = 0;
      const BOOL read = ::GetOverlappedResult(hPipe.Get(), &fReadRecord, &size, TRUE);
      fReadPending = false;
      if (!read) { // the client went, the pipe broke, or the message did not fit the buffer
        DebugOut(L"Broken pipe");
        MarkTerminated();
        return true;
      }
      if (size > 0 && !HandleMessage(size)) { // stopped while the previous reply waited for the client
        MarkTerminated();
        return false;
      }
      if (!StartRead()) return true;
      continue;
    }
    MarkTerminated(); // the wait failed
    return true;
  }
}

bool TPipeHandler::StartRead() {
  const HANDLE event = fReadRecord.hEvent;
  fReadRecord = OVERLAPPED{};
  fReadRecord.hEvent = event;
  if (::ReadFile(hPipe.Get(), rxBuff.data(), DWORD(rxBuff.size()), nullptr, &fReadRecord) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    fReadPending = true; // completion, even an immediate one, comes through evPipeRdEvent
    return true;
  }
  DebugOutFmt(L"Broken pipe (ReadFile) LastError = 0x%x", {int64_t(::GetLastError())});
  MarkTerminated();
  return false;
}

bool TPipeHandler::HandleMessage(size_t size) {
  pellix::TFrameHeader header{};
  std::span<const uint8_t> payload;
  if (!pellix::SplitRequest({rxBuff.data(), size}, header, payload)) {
    DebugOut(L"szRead<=0");
    return true; // no reply
  }
  DebugOutFmt(L"szRead=%d", {int64_t(size)});
  const int32_t result = fRequest.Assign(payload) ? fAggregator->PELLIX_DeviceUpdate(fRequest, fResponse)
                                                  : int32_t(ERROR_NOT_ENOUGH_MEMORY);
  fRequest.Clear();
  // One write at a time: the previous reply's bytes stay as they are until its write is done.
  if (fWritePending && !WaitForWriteOrStop()) return false;
  try {
    pellix::BuildReply(header, result, fResponse.View(), fReply);
  } catch (const std::bad_alloc&) { // a response too large to copy: the header alone says so
    pellix::BuildReply(header, int32_t(ERROR_NOT_ENOUGH_MEMORY), {}, fReply);
  }
  fResponse.Clear();
  const HANDLE event = fWriteRecord.hEvent;
  fWriteRecord = OVERLAPPED{};
  fWriteRecord.hEvent = event;
  if (::WriteFile(hPipe.Get(), fReply.data(), DWORD(fReply.size()), nullptr, &fWriteRecord))
    return true; // done at once
  fWritePending = ::GetLastError() == ERROR_IO_PENDING;
  return true;
}

bool TPipeHandler::WaitForWriteOrStop() {
  // A client that reads no more replies holds the write for good: a stop request ends the wait.
  // (A completion signalled late for an earlier write wakes it once more; it is passed over.)
  const HANDLE waits[2] = {StopEvent(), evPipeWrEvent.Get()};
  while (!HasOverlappedIoCompleted(&fWriteRecord)) {
    const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0) return false;
    if (woken != WAIT_OBJECT_0 + 1) break; // the wait failed: wait for the write alone
  }
  WaitForWrite();
  return true;
}

void TPipeHandler::WaitForWrite() {
  DWORD written = 0;
  ::GetOverlappedResult(hPipe.Get(), &fWriteRecord, &written, TRUE);
  fWritePending = false;
}

void TPipeHandler::EndPendingIo() noexcept {
  // Pending I/O writes into our buffers and records until it has completed: cancel and wait.
  if (!fReadPending && !fWritePending) return;
  ::CancelIoEx(hPipe.Get(), nullptr);
  DWORD ignored = 0;
  if (fReadPending) ::GetOverlappedResult(hPipe.Get(), &fReadRecord, &ignored, TRUE);
  if (fWritePending) ::GetOverlappedResult(hPipe.Get(), &fWriteRecord, &ignored, TRUE);
  fReadPending = fWritePending = false;
}
