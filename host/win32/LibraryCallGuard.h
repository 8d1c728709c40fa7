// Calls into the client library that survive what the library leaves unhandled: an access
// violation, a division by zero, an illegal instruction, RaiseException with any code, any
// compiler's language exceptions (they are structured exceptions too). The guard is a frame
// handler around the call, so it is asked only once no handler of the library's own has taken
// the exception: exceptions that a library raises and handles itself never reach it. It then
// resumes right before the call, as if the call had returned.
//
// What it cannot do: the library's frames are not unwound, so whatever the library held when
// it failed (its locks, memory, handles, a C++ exception object) stays held, and memory it may
// have corrupted stays corrupted; a library that ends its own thread or the process inside the
// call, or overflows the stack a second time, is beyond any guard.
#pragma once

#include "PellixHdr.h"

#include <cstdint>

struct TLibraryFault {
  uint32_t Code = 0;    // the exception code
  uint64_t Address = 0; // where it was raised
};

// Each returns true when the entry returned normally (result holds its answer), and false when
// an exception left it unhandled (fault says which, and where).
bool GuardedDeviceUpdate(TPELLIX_DeviceUpdate entry, TPellixBytes* request, TPellixBytes* response,
                         const TNVSerialRefs* serialRefs, void** helperPointer, int32_t& result,
                         TLibraryFault& fault) noexcept;
bool GuardedDeviceMeta(TPELLIX_DeviceMeta entry, uint32_t* deviceType, wchar_t** deviceTypeName, int32_t* baudRate,
                       int32_t& result, TLibraryFault& fault) noexcept;
