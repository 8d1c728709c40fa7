#include "PipeClient.h"

namespace testing_support {

bool WaitForAck(const std::wstring& ackName, DWORD timeoutMs) {
  const win32::THandle ack(::CreateEventW(nullptr, TRUE, FALSE, ackName.c_str()));
  return ack && ::WaitForSingleObject(ack.Get(), timeoutMs) == WAIT_OBJECT_0;
}

TBytes Frame(uint32_t tag, const TBytes& payload) {
  TBytes frame(8 + payload.size(), 0);
  for (int i = 0; i < 4; ++i) frame[size_t(i)] = uint8_t(tag >> (8 * i));
  frame[4] = 0xEE, frame[5] = 0xEE, frame[6] = 0xEE, frame[7] = 0xEE; // the reply puts the result here
  std::copy(payload.begin(), payload.end(), frame.begin() + 8);
  return frame;
}

TBytes Frame(uint32_t tag, const std::string& payload) { return Frame(tag, TBytes(payload.begin(), payload.end())); }

uint32_t Tag(const TBytes& reply) {
  return reply.size() < 4 ? 0 : uint32_t(reply[0]) | uint32_t(reply[1]) << 8 | uint32_t(reply[2]) << 16 | uint32_t(reply[3]) << 24;
}

int32_t Result(const TBytes& reply) {
  return reply.size() < 8 ? -1
                          : int32_t(uint32_t(reply[4]) | uint32_t(reply[5]) << 8 | uint32_t(reply[6]) << 16 |
                                    uint32_t(reply[7]) << 24);
}

TBytes Payload(const TBytes& reply) { return reply.size() <= 8 ? TBytes() : TBytes(reply.begin() + 8, reply.end()); }

bool TPipeClient::Connect(const std::wstring& pipePath, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    fPipe.Reset(::CreateFileW(pipePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
    if (fPipe) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      ::SetNamedPipeHandleState(fPipe.Get(), &mode, nullptr, nullptr);
      return true;
    }
    fLastError = ::GetLastError();
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    // All instances busy: the host makes the next one right after each connection.
    if (fLastError == ERROR_PIPE_BUSY) ::WaitNamedPipeW(pipePath.c_str(), DWORD(std::min<ULONGLONG>(deadline - now, 1000)));
    else ::Sleep(20);
  }
}

bool TPipeClient::Write(const TBytes& message) {
  OVERLAPPED record{};
  record.hEvent = fEvent.Get();
  ::ResetEvent(fEvent.Get());
  DWORD written = 0;
  if (!::WriteFile(fPipe.Get(), message.data(), DWORD(message.size()), nullptr, &record) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    fLastError = ::GetLastError();
    return false;
  }
  if (!::GetOverlappedResult(fPipe.Get(), &record, &written, TRUE)) {
    fLastError = ::GetLastError();
    return false;
  }
  return written == message.size();
}

TPipeClient::TRead TPipeClient::Read(TBytes& message, DWORD timeoutMs) {
  message.clear();
  for (;;) {
    uint8_t chunk[16384];
    OVERLAPPED record{};
    record.hEvent = fEvent.Get();
    ::ResetEvent(fEvent.Get());
    DWORD got = 0;
    BOOL ok = ::ReadFile(fPipe.Get(), chunk, sizeof chunk, nullptr, &record);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_IO_PENDING && ::WaitForSingleObject(fEvent.Get(), timeoutMs) != WAIT_OBJECT_0) {
      ::CancelIoEx(fPipe.Get(), &record);
      ::GetOverlappedResult(fPipe.Get(), &record, &got, TRUE);
      return TRead::TimedOut;
    }
    // A read that took bytes, at once or later: a part of a longer message that was already
    // waiting ends at once with ERROR_MORE_DATA, and its bytes count too.
    if (ok || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
      ok = ::GetOverlappedResult(fPipe.Get(), &record, &got, TRUE);
      error = ok ? ERROR_SUCCESS : ::GetLastError();
    }
    message.insert(message.end(), chunk, chunk + got);
    if (ok) return TRead::Message;
    if (error != ERROR_MORE_DATA) {
      fLastError = error;
      return TRead::Broken;
    }
  }
}

TBytes TPipeClient::Request(uint32_t tag, const std::string& payload, DWORD timeoutMs) {
  TBytes reply;
  if (!Write(Frame(tag, payload)) || Read(reply, timeoutMs) != TRead::Message) return {};
  return reply;
}

} // namespace testing_support
