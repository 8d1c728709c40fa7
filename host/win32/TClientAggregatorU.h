// The one gate through which every pipe client reaches the client library: calls into the
// library are strictly one at a time across the host (the lock, then the busy mutex bounded by
// 10000 ms), each with the host's current serial device references and a pointer slot that the
// library keeps its own state in from one call to the next.
#pragma once

#include "PellixHdr.h"
#include "WinHandles.h"
#include "WinSync.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A byte array at the client library's boundary: COM task allocator memory owned by the host.
class TPellixBuffer {
public:
  TPellixBuffer() = default;
  ~TPellixBuffer() { Clear(); }
  TPellixBuffer(const TPellixBuffer&) = delete;
  TPellixBuffer& operator=(const TPellixBuffer&) = delete;

  // Copies the bytes in; false when the memory cannot be had.
  bool Assign(std::span<const uint8_t> bytes) noexcept;
  void Clear() noexcept;
  // Forgets the array without freeing it: after a call that did not return normally its
  // pointer may not be one the allocator knows.
  void Abandon() noexcept { fBytes = {nullptr, 0}; }
  // For the library call, which may reallocate it.
  TPellixBytes& Raw() noexcept { return fBytes; }
  // The bytes as the library left them; empty for a null array or a length of 0 or less.
  std::span<const uint8_t> View() const noexcept;

private:
  TPellixBytes fBytes{nullptr, 0};
};

// The library's two entry points as the aggregator calls them; either may be missing.
struct TClientEntries {
  TPELLIX_DeviceUpdate Update = nullptr;
  TPELLIX_DeviceMeta Meta = nullptr;
};

class TClientAggregator {
public:
  static constexpr DWORD BusyTimeoutMs = 10000;

  // Tests may pass a shorter busy time-out; the host never does.
  TClientAggregator(const std::vector<int32_t>& serialRefs, TClientEntries entries, DWORD busyTimeoutMs = BusyTimeoutMs);
  ~TClientAggregator() = default;
  TClientAggregator(const TClientAggregator&) = delete;
  TClientAggregator& operator=(const TClientAggregator&) = delete;

  void UpdateSerialRefs(const std::vector<int32_t>& newSerialRefs);
  // One request: its payload in, the library's response out (emptied first). The library's
  // result, or 100021 (no update entry), 100027 (busy mutex not obtained in time), 735 (the
  // mutex was abandoned by a thread that ended inside a call: this request is not served, the
  // next one is), 574 (an exception left the library's call unhandled: the response is empty,
  // and one debugger line names the exception), or the system's error code of a failed wait.
  int32_t PELLIX_DeviceUpdate(TPellixBuffer& request, TPellixBuffer& response);
  int32_t PELLIX_DeviceMeta(uint32_t& deviceType, std::wstring& deviceTypeName, int32_t& baudRate);

  // The busy mutex, for tests that hold or abandon it.
  HANDLE BusyMutex() const noexcept { return fNotBusy.Get(); }

private:
  template <typename TCall>
  int32_t CallLibrary(bool bound, TCall call);

  std::vector<int32_t> fSerialRefs; // the aggregator's own copy
  void* fHelperPointer = nullptr;   // the library's, never read or released by the host
  win32::THandle fNotBusy;
  win32::TCriticalSection csAccess;
  TClientEntries fEntries;
  DWORD fBusyTimeoutMs;
};
