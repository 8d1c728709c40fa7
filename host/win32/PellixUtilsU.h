// The Win32 side of discovery's registry and port access: HKEY_LOCAL_MACHINE read-only, and the
// exclusive open of a serial port. Shared with the serial stand-in, which finds ports through
// the same registry keys.
#pragma once

#include "DeviceDiscovery.h"

namespace pellix {

class TRegistryReader final : public IRegistryReader {
public:
  bool SubKeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) override;
  bool ValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names) override;
  // String data (REG_SZ, REG_EXPAND_SZ unexpanded); a value of another type counts as absent.
  bool ReadString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& data) override;
};

class TPortProber final : public IPortProber {
public:
  bool CanOpenExclusively(const std::wstring& devicePath) override;
};

} // namespace pellix
