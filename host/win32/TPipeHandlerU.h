// Serves one connected pipe client: reads its requests one at a time into a fixed 10000-byte
// buffer, passes each payload through the client aggregator to the client library, and writes
// one reply per request. Ends when the client goes (reporting to its owner, which then lets it
// destroy itself) or when its owner stops it.
#pragma once

#include "TClientAggregatorU.h"
#include "TPipeConnectorAbsU.h"
#include "WinSync.h"
#include "WireFrames.h"

#include <array>
#include <cstdint>
#include <vector>

class TPipeHandler final : public win32::TThreadObject {
public:
  static constexpr DWORD TerminateTimeoutMs = 5000;

  // Takes ownership of the connected pipe instance and starts serving it. Not Started() when
  // its events or thread could not be made: it then serves nothing and closes the instance when
  // destroyed.
  TPipeHandler(HANDLE Pipe, TPipeConnectorAbs* Owner, TClientAggregator* ClientAggregator);
  ~TPipeHandler() override;

  // 0 once the run loop has ended, 100003 when it had already ended, 100014 when it did not end
  // within 5000 ms. The acknowledgement stays set.
  int32_t TerminateAndWait();

protected:
  void Execute() override;

private:
  // The run loop; true when it ended by itself (the client went), false on a stop request.
  bool Serve();
  bool StartRead();
  // False when a stop request came while the previous reply's write was still pending.
  bool HandleMessage(size_t size);
  void WaitForWrite();
  // Waits for the pending write's completion; false when a stop request came first.
  bool WaitForWriteOrStop();
  void EndPendingIo() noexcept;

  win32::THandle hPipe;
  win32::THandle evPipeRdEvent, evPipeWrEvent;
  TPipeConnectorAbs* fOwner;
  TClientAggregator* fAggregator;

  OVERLAPPED fReadRecord{}, fWriteRecord{};
  bool fReadPending = false, fWritePending = false;
  std::array<uint8_t, pellix::MaxRequestSize> rxBuff;
  std::vector<uint8_t> fReply; // untouched while its write is pending
  TPellixBuffer fRequest, fResponse;
};
