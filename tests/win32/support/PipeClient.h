// A client of the device host's pipe, as a device API library is: it waits for the host's
// acknowledge event, connects in message mode, writes request frames and reads replies with
// deadlines.
#pragma once

#include "WinHandles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using TBytes = std::vector<uint8_t>;

// Waits until the named acknowledge event is set (creating it if the host has not yet).
bool WaitForAck(const std::wstring& ackName, DWORD timeoutMs);

// A request frame: the 4-byte tag, 4 bytes the reply overwrites, then the payload.
TBytes Frame(uint32_t tag, const TBytes& payload);
TBytes Frame(uint32_t tag, const std::string& payload);
uint32_t Tag(const TBytes& reply);
int32_t Result(const TBytes& reply);
TBytes Payload(const TBytes& reply);

class TPipeClient {
public:
  enum class TRead { Message, TimedOut, Broken };

  // Connects, waiting while all instances are busy, until the deadline.
  bool Connect(const std::wstring& pipePath, DWORD timeoutMs);
  bool Connected() const { return bool(fPipe); }
  void Close() { fPipe.Reset(); }
  bool Write(const TBytes& message);
  // One whole message, or why there is none.
  TRead Read(TBytes& message, DWORD timeoutMs);
  // Writes a request and reads its reply; an empty result when none came.
  TBytes Request(uint32_t tag, const std::string& payload, DWORD timeoutMs = 10000);
  DWORD LastError() const { return fLastError; }

private:
  win32::THandle fPipe;
  win32::THandle fEvent = win32::THandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD fLastError = 0;
};

} // namespace testing_support
