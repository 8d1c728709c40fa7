// Q417Client.dll, the Q417 device type's client library. The device host loads it, asks its meta
// entry for the device type and hands every client request to its update entry, which serves it
// over the selectors through NVSerial.dll (the work itself is in ../core). The contract and the
// result codes are in ../README.md.
#include "NVSerialHdr.h"
#include "PellixHdr.h"
#include "Q417Device.h"
#include "SelectorUpdate.h"
#include "WinHandles.h"

#include <objbase.h>

#include <cstring>
#include <new>
#include <span>

namespace {

// A selector answers a line at once; this bounds the wait for one that has gone, so that a poll
// of the others is not held up for long.
constexpr int32_t CommandTimeoutMs = 200;

using TCoTaskText = win32::TOwner<char*, win32::CoTaskMemTraits<char*>>;

class TNVSerialLine final : public q417client::ISelectorLine {
public:
  int32_t Command(int32_t ref, const std::string& command, std::string& reply) override {
    char* answer = nullptr;
    const int32_t result = NVSerial_Command(ref, command.c_str(), &answer, CommandTimeoutMs);
    const TCoTaskText owned(answer);
    if (result == 0) reply = owned ? owned.Get() : "";
    return result;
  }
};

// Gives the response the packet's bytes (or none) in COM task memory; false when out of memory,
// with the response left empty.
bool FillResponse(TPellixBytes& response, const q417::TBytes& packet) {
  if (!packet.empty()) {
    if (void* data = ::CoTaskMemRealloc(response.Data, packet.size())) {
      std::memcpy(data, packet.data(), packet.size());
      response.Data = static_cast<uint8_t*>(data);
      response.Length = int32_t(packet.size());
      return true;
    }
  }
  ::CoTaskMemFree(response.Data);
  response.Data = nullptr;
  response.Length = 0;
  return packet.empty();
}

} // namespace

extern "C" {

int32_t WINAPI _PELLIX_DeviceMeta(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate) {
  if (DeviceType) *DeviceType = q417::DeviceType;
  if (BaudRate) *BaudRate = q417::BaudRate;
  if (DeviceTypeName) {
    *DeviceTypeName = static_cast<wchar_t*>(::CoTaskMemAlloc(sizeof q417::DeviceTypeName));
    if (*DeviceTypeName == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(*DeviceTypeName, q417::DeviceTypeName, sizeof q417::DeviceTypeName);
  }
  return 0;
}

// The pointer slot is not used: the id behind each reference is read afresh on every call (see
// SelectorUpdate.h), so there is nothing to keep from one call to the next.
int32_t WINAPI _PELLIX_DeviceUpdate(TPellixBytes* Request, TPellixBytes* Response, const TNVSerialRefs* SerialRefs,
                                    void** /*HelperPointer*/) {
  if (Request == nullptr || Response == nullptr || SerialRefs == nullptr || Request->Length < 0 ||
      SerialRefs->Length < 0 || (Request->Length > 0 && Request->Data == nullptr) ||
      (SerialRefs->Length > 0 && SerialRefs->Data == nullptr))
    return ERROR_INVALID_PARAMETER;
  try {
    TNVSerialLine line;
    q417::TBytes packet;
    const int32_t result = q417client::ServeRequest(std::span(Request->Data, size_t(Request->Length)),
                                                    std::span(SerialRefs->Data, size_t(SerialRefs->Length)),
                                                    line, packet);
    return FillResponse(*Response, packet) ? result : int32_t(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

} // extern "C"
