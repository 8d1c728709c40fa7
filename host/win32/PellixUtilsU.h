// The Win32 side of discovery's port access: the exclusive open of a serial port. (Its registry
// access, shared with the serial stand-in, is win32::TRegistryReader.)
#pragma once

#include "DeviceDiscovery.h"

namespace pellix {

class TPortProber final : public IPortProber {
public:
  bool CanOpenExclusively(const std::wstring& devicePath) override;
};

} // namespace pellix
