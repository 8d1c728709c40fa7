#include "PellixUtilsU.h"

#include "WinHandles.h"

#include <windows.h>

namespace pellix {

bool TPortProber::CanOpenExclusively(const std::wstring& devicePath) {
  const win32::THandle port(::CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return bool(port);
}

} // namespace pellix
