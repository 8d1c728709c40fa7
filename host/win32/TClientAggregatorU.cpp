#include "TClientAggregatorU.h"

#include "DebugText.h"
#include "DebugUtilsU.h"
#include "LibraryCallGuard.h"
#include "NVErrorsU.h"

#include <objbase.h>

#include <cstring>

namespace {
// The system's ERROR_UNHANDLED_EXCEPTION: an exception left the library's call unhandled.
constexpr int32_t kCallDidNotReturn = 574;
} // namespace

bool TPellixBuffer::Assign(std::span<const uint8_t> bytes) noexcept {
  Clear();
  if (bytes.empty()) return true;
  auto* data = static_cast<uint8_t*>(::CoTaskMemAlloc(bytes.size()));
  if (data == nullptr) return false;
  std::memcpy(data, bytes.data(), bytes.size());
  fBytes = {data, int32_t(bytes.size())};
  return true;
}

void TPellixBuffer::Clear() noexcept {
  if (fBytes.Data) ::CoTaskMemFree(fBytes.Data);
  fBytes = {nullptr, 0};
}

std::span<const uint8_t> TPellixBuffer::View() const noexcept {
  if (fBytes.Data == nullptr || fBytes.Length <= 0) return {};
  return {fBytes.Data, size_t(fBytes.Length)};
}

TClientAggregator::TClientAggregator(const std::vector<int32_t>& serialRefs, TClientEntries entries, DWORD busyTimeoutMs)
    : fSerialRefs(serialRefs), fNotBusy(::CreateMutexW(nullptr, FALSE, nullptr)), fEntries(entries),
      fBusyTimeoutMs(busyTimeoutMs) {}

void TClientAggregator::UpdateSerialRefs(const std::vector<int32_t>& newSerialRefs) {
  win32::TLock lock(csAccess);
  fSerialRefs = newSerialRefs;
}

template <typename TCall>
int32_t TClientAggregator::CallLibrary(bool bound, TCall call) {
  win32::TLock lock(csAccess);
  switch (::WaitForSingleObject(fNotBusy.Get(), fBusyTimeoutMs)) {
  case WAIT_OBJECT_0: {
    // Given back however the call ends, so that no other client is left waiting for it.
    const win32::TMutexOwnership owned(fNotBusy.Get());
    if (!bound) return NVERR_ENTRY_NOT_BOUND;
    return call();
  }
  case WAIT_TIMEOUT:
    return NVERR_BUSY_TIMEOUT;
  case WAIT_ABANDONED: {
    // The wait hands the mutex over, but a call ended inside the library: not a result to pass
    // on as one. This request is refused with its own code and the mutex is given back.
    const win32::TMutexOwnership owned(fNotBusy.Get());
    return ERROR_ABANDONED_WAIT_0;
  }
  default: {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? int32_t(error) : int32_t(ERROR_GEN_FAILURE);
  }
  }
}

int32_t TClientAggregator::PELLIX_DeviceUpdate(TPellixBuffer& request, TPellixBuffer& response) {
  response.Clear();
  return CallLibrary(fEntries.Update != nullptr, [&]() -> int32_t {
    const TNVSerialRefs refs{fSerialRefs.data(), int32_t(fSerialRefs.size())};
    const TPellixBytes sent = request.Raw();
    int32_t result = 0;
    TLibraryFault fault;
    if (GuardedDeviceUpdate(fEntries.Update, &request.Raw(), &response.Raw(), &refs, &fHelperPointer, result, fault))
      return result;
    // Whatever the library left half-made in either array is dropped, never freed; the request
    // is freed as usual when the library did not touch it.
    response.Abandon();
    if (request.Raw().Data != sent.Data || request.Raw().Length != sent.Length) request.Abandon();
    DebugOut(pellix::LibraryExceptionLine(fault.Code, fault.Address));
    return kCallDidNotReturn;
  });
}

int32_t TClientAggregator::PELLIX_DeviceMeta(uint32_t& deviceType, std::wstring& deviceTypeName, int32_t& baudRate) {
  return CallLibrary(fEntries.Meta != nullptr, [&]() -> int32_t {
    wchar_t* name = nullptr;
    int32_t result = 0;
    TLibraryFault fault;
    if (!GuardedDeviceMeta(fEntries.Meta, &deviceType, &name, &baudRate, result, fault)) {
      DebugOut(pellix::LibraryExceptionLine(fault.Code, fault.Address));
      return kCallDidNotReturn; // the name, if any, is the library's half-made one: not freed
    }
    const win32::TCoTaskString owned(name);
    if (name) deviceTypeName = name;
    return result;
  });
}
