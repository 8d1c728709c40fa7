// Discovery's read access to HKEY_LOCAL_MACHINE: the FTDI bus and serial port map keys that the
// device host and the serial stand-in both read.
#pragma once

#include "DeviceDiscovery.h"

namespace win32 {

class TRegistryReader final : public pellix::IRegistryReader {
public:
  bool SubKeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) override;
  bool ValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names) override;
  // String data (REG_SZ, REG_EXPAND_SZ unexpanded); a value of another type counts as absent.
  bool ReadString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& data) override;
};

} // namespace win32
