// A client library of the device host loaded from the test program's folder, with its two
// entries bound by name as the host binds them.
#pragma once

#include "PellixHdr.h"
#include "TestSupport.h"
#include "WinHandles.h"

namespace testing_support {

struct TClientLibrary {
  explicit TClientLibrary(const wchar_t* fileName)
      : module(::LoadLibraryW((ProgramFolder() + fileName).c_str())),
        meta(reinterpret_cast<TPELLIX_DeviceMeta>(Entry("_PELLIX_DeviceMeta"))),
        update(reinterpret_cast<TPELLIX_DeviceUpdate>(Entry("_PELLIX_DeviceUpdate"))) {}
  bool Bound() const { return meta != nullptr && update != nullptr; }

  win32::TModule module;
  TPELLIX_DeviceMeta meta;
  TPELLIX_DeviceUpdate update;

private:
  void* Entry(const char* name) const {
    return module ? reinterpret_cast<void*>(::GetProcAddress(module.Get(), name)) : nullptr;
  }
};

} // namespace testing_support
