#include "PellixUSBU.h"

#include "NVSerialHdr.h"
#include "WinHandles.h"

#include <dbt.h>

namespace {
// GUID_DEVINTERFACE_USB_DEVICE
constexpr GUID UsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the filter record is 32 bytes");
} // namespace

HDEVNOTIFY RegisterUSBNotification(HWND window) noexcept {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = UsbDeviceInterface;
  return ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

int32_t TNVSerialLibrary::OpenDevice(int32_t& ref, uint32_t deviceType, int32_t baudRate) {
  return NVSerial_OpenDevice(&ref, deviceType, baudRate);
}

std::wstring TNVSerialLibrary::DevicePortName(int32_t ref) {
  wchar_t* name = nullptr;
  int32_t ignored = 0;
  NVSerial_DeviceMeta(ref, &name, &ignored);
  const win32::TCoTaskString owned(name);
  return owned ? std::wstring(owned.Get()) : std::wstring();
}

void TNVSerialLibrary::Close(int32_t ref) { NVSerial_Close(ref); }
