// A client library of the device host, loaded by path with its two entries bound by name as the
// host binds them.
#pragma once

#include "PellixHdr.h"
#include "TestSupport.h"
#include "WinHandles.h"

#include <string>

namespace testing_support {

struct TClientLibrary {
  explicit TClientLibrary(const std::wstring& path)
      : module(::LoadLibraryW(path.c_str())),
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
