// Serial device discovery of the device host: which FTDI ports exist, which of them are free,
// when to ask the serial library for devices, which open devices have vanished, and the
// 20-second retry of unclaimed ports. Everything runs on the host window's thread; the
// registry, the exclusive-open probe, the serial library and the window are reached through
// the interfaces below, which the Win32 shell binds (RegistryReader, PellixUtilsU, PellixF).
#pragma once

#include "PellixTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

inline constexpr uint32_t FTDIVendorId = 0x0403;
inline constexpr uint32_t FTDIProductId = 0xFAA8;
inline constexpr const wchar_t* FTDIBusKey = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
inline constexpr const wchar_t* FTDIPortKeySuffix = L"\\0000\\Device Parameters";
inline constexpr const wchar_t* FTDIPortValue = L"PortName";
inline constexpr const wchar_t* SerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr uint32_t DBT_DEVNODES_CHANGED_Value = 7;

// Matches a bus key name such as VID_0403+PID_FAA8+FT12345A (the two patterns in either order,
// any case) and cuts the adapter's serial number from it (FT12345: the rest without its last
// character). False when the name does not match or too little is left.
bool ParseFTDIKeyName(std::wstring_view keyName, uint32_t vendorId, uint32_t productId, std::wstring& serialNumber);

// Read access to HKEY_LOCAL_MACHINE. Paths are relative to it.
class IRegistryReader {
public:
  virtual ~IRegistryReader() = default;
  // False when the key does not open.
  virtual bool SubKeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) = 0;
  virtual bool ValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names) = 0;
  // False when the key does not open or has no such value; the data read as a string.
  virtual bool ReadString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& data) = 0;
};

// The FTDI ports on the bus: one entry per matching bus key whose first instance names a port
// (SERPORT the device path, FTDISN the serial number), in the order the registry lists the keys.
std::vector<TFTDIDevice> FindFTDIPorts(IRegistryReader& registry);
// The serial port map's data, from the last value to the first, unchanged. False when the key
// does not open.
bool SerialCommPorts(IRegistryReader& registry, std::vector<std::wstring>& ports);

class IPortProber {
public:
  virtual ~IPortProber() = default;
  // Opens the device path for reading and writing without sharing and closes it at once.
  virtual bool CanOpenExclusively(const std::wstring& devicePath) = 0;
};

// The serial library's three calls as discovery makes them.
class ISerialLibrary {
public:
  virtual ~ISerialLibrary() = default;
  virtual int32_t OpenDevice(int32_t& ref, uint32_t deviceType, int32_t baudRate) = 0;
  virtual std::wstring DevicePortName(int32_t ref) = 0;
  virtual void Close(int32_t ref) = 0;
};

// What discovery tells its window.
class IDiscoveryOwner {
public:
  virtual ~IDiscoveryOwner() = default;
  virtual void ShowDeviceCount(size_t count) = 0;
  // A new reference list for the pipe listener.
  virtual void UpdateSerialRefs(const std::vector<int32_t>& refs) = 0;
};

class TDeviceDiscovery {
public:
  static constexpr int32_t DiscoverPeriodMs = 2000;
  static constexpr int32_t BaudRate = 115200;

  TDeviceDiscovery(uint32_t deviceType, IRegistryReader& registry, IPortProber& prober, ISerialLibrary& serial,
                   IDiscoveryOwner& owner, int32_t discoverPeriodMs = DiscoverPeriodMs)
      : fDeviceType(deviceType), fRegistry(registry), fProber(prober), fSerial(serial), fOwner(owner),
        fDiscoverPeriodMs(discoverPeriodMs) {}

  // At window creation: bus scan, serial port scan into fCommList, open loop.
  void FirstDiscovery();
  int ScanFTDIBus();
  bool IsFTDIPort(const std::wstring& devicePath) const;
  int ScanSerialComm(std::vector<std::wstring>& list);
  void OpenNewDevices();
  bool DropUnknownPort(const std::wstring& portName);
  void CloseVanishedDevices(const std::vector<std::wstring>& list);
  void RescanDevices();
  // WM_DEVICECHANGE: only DBT_DEVNODES_CHANGED rescans.
  void DeviceChange(uint32_t event);
  // One tick of the discovery timer.
  void DiscoverTimerTick();

  const std::vector<int32_t>& refSerial() const noexcept { return fRefSerial; }
  const std::vector<std::wstring>& DevCommList() const noexcept { return fDevCommList; }
  const std::vector<TFTDIDevice>& DevFTDIList() const noexcept { return fDevFTDIList; }
  const std::vector<TFTDIDevice>& DevUnkownList() const noexcept { return fDevUnkownList; }
  const std::vector<std::wstring>& CommList() const noexcept { return fCommList; }

private:
  uint32_t fDeviceType;
  IRegistryReader& fRegistry;
  IPortProber& fProber;
  ISerialLibrary& fSerial;
  IDiscoveryOwner& fOwner;
  int32_t fDiscoverPeriodMs;

  std::vector<int32_t> fRefSerial;          // open devices, in opening order
  std::vector<std::wstring> fDevCommList;   // port name of each open device, as the library reports it
  std::vector<TFTDIDevice> fDevFTDIList;    // FTDI ports of the last bus scan
  std::vector<TFTDIDevice> fDevUnkownList;  // free FTDI ports that no device has claimed yet
  std::vector<std::wstring> fCommList;      // names collected by the first serial port scan
};

} // namespace pellix
