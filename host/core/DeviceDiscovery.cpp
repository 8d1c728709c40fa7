#include "DeviceDiscovery.h"

#include "HostNames.h"

#include <algorithm>

namespace pellix {

namespace {

// Deletes the first occurrence of pattern from text; false when there is none.
bool CutFirst(std::wstring& text, const std::wstring& pattern) {
  const size_t at = text.find(pattern);
  if (at == std::wstring::npos) return false;
  text.erase(at, pattern.size());
  return true;
}

// Room for one more element, so that the next push_back cannot fail.
template <typename T>
void MakeRoomForOne(std::vector<T>& list) {
  if (list.size() == list.capacity()) list.reserve(2 * list.size() + 4);
}

} // namespace

bool ParseFTDIKeyName(std::wstring_view keyName, uint32_t vendorId, uint32_t productId, std::wstring& serialNumber) {
  serialNumber.clear();
  std::wstring rest = AsciiUpper(Trim(keyName));
  if (!CutFirst(rest, L"VID_" + Hex(vendorId, 4) + L"+")) return false;
  if (!CutFirst(rest, L"PID_" + Hex(productId, 4) + L"+")) return false;
  rest = Trim(rest);
  if (rest.size() <= 1) return false;
  rest.pop_back();
  serialNumber = rest;
  return true;
}

void TDeviceDiscovery::FirstDiscovery() {
  ScanFTDIBus();
  ScanSerialComm(fCommList);
  OpenNewDevices();
}

std::vector<TFTDIDevice> FindFTDIPorts(IRegistryReader& registry) {
  std::vector<TFTDIDevice> ports;
  std::vector<std::wstring> subKeys;
  if (!registry.SubKeyNames(FTDIBusKey, subKeys)) return ports;
  for (const std::wstring& name : subKeys) {
    std::wstring serialNumber, portName;
    if (!ParseFTDIKeyName(name, FTDIVendorId, FTDIProductId, serialNumber)) continue;
    const std::wstring portKey = std::wstring(FTDIBusKey) + L"\\" + name + FTDIPortKeySuffix;
    if (!registry.ReadString(portKey, FTDIPortValue, portName)) continue;
    ports.push_back({serialNumber, DevicePath(portName), TFTDIDevice::InitialTMR});
  }
  return ports;
}

bool SerialCommPorts(IRegistryReader& registry, std::vector<std::wstring>& ports) {
  ports.clear();
  std::vector<std::wstring> valueNames;
  if (!registry.ValueNames(SerialCommKey, valueNames)) return false;
  for (auto it = valueNames.rbegin(); it != valueNames.rend(); ++it) {
    std::wstring data;
    if (registry.ReadString(SerialCommKey, *it, data)) ports.push_back(data);
  }
  return true;
}

int TDeviceDiscovery::ScanFTDIBus() {
  fDevFTDIList = FindFTDIPorts(fRegistry);
  return int(fDevFTDIList.size());
}

bool TDeviceDiscovery::IsFTDIPort(const std::wstring& devicePath) const {
  return std::any_of(fDevFTDIList.begin(), fDevFTDIList.end(),
                     [&](const TFTDIDevice& d) { return d.SERPORT == devicePath; });
}

int TDeviceDiscovery::ScanSerialComm(std::vector<std::wstring>& list) {
  list.clear();
  fDevUnkownList.clear();
  std::vector<std::wstring> ports;
  SerialCommPorts(fRegistry, ports);
  for (const std::wstring& data : ports) {
    const std::wstring path = DevicePath(data);
    // Only FTDI ports are probed at all; the probe holds the port for a moment only.
    if (!IsFTDIPort(path) || !fProber.CanOpenExclusively(path)) continue;
    list.push_back(data);
    fDevUnkownList.push_back({L"", path, TFTDIDevice::InitialTMR});
  }
  return int(list.size());
}

void TDeviceDiscovery::OpenNewDevices() {
  int32_t ref = 0;
  while (fSerial.OpenDevice(ref, fDeviceType, BaudRate) == 0) {
    // Everything that may fail comes before the device is listed: the two lists stay in step.
    std::wstring portName;
    try {
      portName = fSerial.DevicePortName(ref);
      MakeRoomForOne(fRefSerial);
      MakeRoomForOne(fDevCommList);
    } catch (...) {
      fSerial.Close(ref); // out of memory: the device is not kept
      throw;
    }
    fRefSerial.push_back(ref);
    fDevCommList.push_back(std::move(portName));
    DropUnknownPort(fDevCommList.back());
  }
  fOwner.ShowDeviceCount(fRefSerial.size());
}

bool TDeviceDiscovery::DropUnknownPort(const std::wstring& portName) {
  if (fDevUnkownList.empty()) return false;
  const std::wstring path = DevicePath(portName);
  const auto it = std::find_if(fDevUnkownList.begin(), fDevUnkownList.end(),
                               [&](const TFTDIDevice& d) { return d.SERPORT == path; });
  if (it != fDevUnkownList.end()) fDevUnkownList.erase(it);
  return !fDevUnkownList.empty();
}

void TDeviceDiscovery::CloseVanishedDevices(const std::vector<std::wstring>& list) {
  for (size_t i = fRefSerial.size(); i-- > 0;) {
    const bool present = std::any_of(list.begin(), list.end(),
                                     [&](const std::wstring& name) { return EqualsIgnoringAsciiCase(name, fDevCommList[i]); });
    if (present) continue;
    fSerial.Close(fRefSerial[i]);
    fRefSerial.erase(fRefSerial.begin() + std::ptrdiff_t(i));
    fDevCommList.erase(fDevCommList.begin() + std::ptrdiff_t(i));
  }
}

void TDeviceDiscovery::RescanDevices() {
  std::vector<std::wstring> current;
  ScanFTDIBus();
  ScanSerialComm(current);
  CloseVanishedDevices(current);
  OpenNewDevices();
  fOwner.UpdateSerialRefs(fRefSerial);
}

void TDeviceDiscovery::DeviceChange(uint32_t event) {
  if (event == DBT_DEVNODES_CHANGED_Value) RescanDevices();
}

void TDeviceDiscovery::DiscoverTimerTick() {
  const size_t noted = fDevUnkownList.size();
  if (noted == 0) return;
  OpenNewDevices();
  if (fDevUnkownList.size() != noted) fOwner.UpdateSerialRefs(fRefSerial);
  for (size_t i = fDevUnkownList.size(); i-- > 0;) {
    fDevUnkownList[i].TMR -= fDiscoverPeriodMs;
    if (fDevUnkownList[i].TMR < 1) fDevUnkownList.erase(fDevUnkownList.begin() + std::ptrdiff_t(i));
  }
}

} // namespace pellix
