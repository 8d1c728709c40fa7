// Discovery's Win32 bindings to devices: device-change notifications for USB devices and the
// serial library NVSerial as discovery calls it.
#pragma once

#include "DeviceDiscovery.h"

#include <windows.h>

// Registers the window for device-interface notifications of USB devices. The handle is
// neither kept nor unregistered: the registration ends with the window.
HDEVNOTIFY RegisterUSBNotification(HWND window) noexcept;

class TNVSerialLibrary final : public pellix::ISerialLibrary {
public:
  int32_t OpenDevice(int32_t& ref, uint32_t deviceType, int32_t baudRate) override;
  std::wstring DevicePortName(int32_t ref) override;
  void Close(int32_t ref) override;
};
