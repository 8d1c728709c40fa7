// The serial stand-in NVSerial.dll. Devices are simulated selectors (listed in the environment
// variable NVSERIAL_SIMULATED or in the file named by NVSERIAL_SIMULATED_FILE, see README.md)
// and selectors behind real COM ports: the FTDI ports of the serial port map, the same registry
// keys the device host reads, each tried with the selectors' HELLO exchange.
#define NVSERIAL_DECL
#include "NVSerialHdr.h"

#include "DeviceDiscovery.h"
#include "Environment.h"
#include "HostNames.h"
#include "RegistryReader.h"
#include "SelectorSim.h"
#include "WideText.h"
#include "WinHandles.h"
#include "WinSync.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// How long a selector has to answer HELLO while a port is tried.
constexpr DWORD HelloTimeoutMs = 500;

class TDevice {
public:
  TDevice(std::wstring portName, int32_t id) : PortName(std::move(portName)), Id(id) {}
  virtual ~TDevice() = default;
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  virtual int32_t Write(const uint8_t* data, int32_t length, DWORD timeoutMs) = 0;
  virtual int32_t Read(uint8_t* buffer, int32_t size, int32_t& received, DWORD timeoutMs) = 0;
  virtual void DiscardInput() = 0;

  const std::wstring PortName;
  int32_t Id; // the selector's id; set before the device is published
  win32::TCriticalSection Io;      // one I/O call at a time on a device
  std::atomic<bool> Closed{false}; // set by NVSerial_Close; later calls see an invalid reference
};

// A selector that is configured for this process; its state outlives the devices opened on it.
struct TSimulatedSelector {
  TSimulatedSelector(const selsim::TSelectorSpec& spec, std::wstring portName)
      : Selector(spec.State, spec.DeviceType), PortName(std::move(portName)) {}
  selsim::TSelector Selector;
  std::wstring PortName;
  win32::TCriticalSection Lock;
  bool Open = false;
};

class TSimulatedDevice final : public TDevice {
public:
  explicit TSimulatedDevice(std::shared_ptr<TSimulatedSelector> sim)
      : TDevice(sim->PortName, sim->Selector.State().Id), fSim(std::move(sim)) {}
  ~TSimulatedDevice() override {
    const win32::TLock lock(fSim->Lock);
    fSim->Open = false;
  }
  int32_t Write(const uint8_t* data, int32_t length, DWORD) override {
    const win32::TLock lock(fSim->Lock);
    fPending += fSim->Selector.Receive(std::string_view(reinterpret_cast<const char*>(data), size_t(length)));
    return 0;
  }
  // Answers arrive with the command that causes them, so an empty input stays empty: the read
  // waits out its time-out as on a port, and a caller's read loop does not spin.
  int32_t Read(uint8_t* buffer, int32_t size, int32_t& received, DWORD timeoutMs) override {
    if (fPending.empty()) ::Sleep(timeoutMs);
    received = int32_t(std::min(fPending.size(), size_t(size)));
    std::copy_n(fPending.begin(), received, buffer);
    fPending.erase(0, size_t(received));
    return received > 0 ? 0 : int32_t(WAIT_TIMEOUT);
  }
  void DiscardInput() override { fPending.clear(); }

private:
  std::shared_ptr<TSimulatedSelector> fSim;
  std::string fPending;
};

class TComPortDevice final : public TDevice {
public:
  TComPortDevice(win32::THandle port, std::wstring portName, int32_t id)
      : TDevice(std::move(portName), id), fPort(std::move(port)) {}

  int32_t Write(const uint8_t* data, int32_t length, DWORD timeoutMs) override {
    COMMTIMEOUTS t{};
    t.WriteTotalTimeoutConstant = timeoutMs;
    if (!::SetCommTimeouts(fPort.Get(), &t)) return int32_t(::GetLastError());
    DWORD written = 0;
    if (!::WriteFile(fPort.Get(), data, DWORD(length), &written, nullptr)) return int32_t(::GetLastError());
    return written == DWORD(length) ? 0 : int32_t(WAIT_TIMEOUT);
  }
  int32_t Read(uint8_t* buffer, int32_t size, int32_t& received, DWORD timeoutMs) override {
    // Returns at the first bytes, or after timeoutMs without any.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = timeoutMs > 0 ? MAXDWORD : 0;
    t.ReadTotalTimeoutConstant = timeoutMs;
    if (!::SetCommTimeouts(fPort.Get(), &t)) return int32_t(::GetLastError());
    DWORD n = 0;
    if (!::ReadFile(fPort.Get(), buffer, DWORD(size), &n, nullptr)) return int32_t(::GetLastError());
    received = int32_t(n);
    return n > 0 ? 0 : int32_t(WAIT_TIMEOUT);
  }
  void DiscardInput() override { ::PurgeComm(fPort.Get(), PURGE_RXCLEAR); }

private:
  win32::THandle fPort;
};

// Reads one line (without its line end) within timeoutMs; bytes after the line end are dropped.
int32_t ReadLine(TDevice& device, std::string& line, DWORD timeoutMs) {
  line.clear();
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return int32_t(WAIT_TIMEOUT);
    uint8_t chunk[256];
    int32_t got = 0;
    const int32_t result = device.Read(chunk, sizeof chunk, got, DWORD(deadline - now));
    if (result == int32_t(WAIT_TIMEOUT)) continue;
    if (result != 0) return result;
    for (int32_t i = 0; i < got; ++i) {
      if (chunk[i] == '\n') return 0;
      if (chunk[i] != '\r' && line.size() < selsim::MaxLineLength) line += char(chunk[i]);
    }
  }
}

int32_t Exchange(TDevice& device, const std::string& command, std::string& reply, DWORD timeoutMs) {
  device.DiscardInput();
  const std::string line = command + "\n";
  const int32_t written = device.Write(reinterpret_cast<const uint8_t*>(line.data()), int32_t(line.size()), timeoutMs);
  return written != 0 ? written : ReadLine(device, reply, timeoutMs);
}

class TLibrary {
public:
  int32_t Open(int32_t& ref, uint32_t deviceType, int32_t baudRate) {
    const win32::TLock opening(fOpening); // one search at a time, so no port is taken twice
    LoadSimulatedSelectors();
    for (const auto& sim : fSimulated) {
      {
        const win32::TLock lock(sim->Lock);
        if (sim->Open || sim->Selector.DeviceType() != deviceType) continue;
        sim->Open = true;
      }
      ref = Add(std::make_shared<TSimulatedDevice>(sim));
      return 0;
    }
    win32::TRegistryReader registry;
    const std::vector<pellix::TFTDIDevice> ftdi = pellix::FindFTDIPorts(registry);
    std::vector<std::wstring> ports;
    pellix::SerialCommPorts(registry, ports);
    for (const std::wstring& portName : ports) {
      const std::wstring path = pellix::DevicePath(portName);
      const bool isFTDI = std::any_of(ftdi.begin(), ftdi.end(), [&](const auto& d) { return d.SERPORT == path; });
      if (!isFTDI || IsOpen(path)) continue;
      if (auto device = TryPort(path, pellix::Trim(portName), deviceType, baudRate)) {
        ref = Add(std::move(device));
        return 0;
      }
    }
    return ERROR_NO_MORE_ITEMS;
  }

  std::shared_ptr<TDevice> Find(int32_t ref) {
    const win32::TLock lock(fTable);
    const auto it = fDevices.find(ref);
    return it == fDevices.end() ? nullptr : it->second;
  }

  int32_t Close(int32_t ref) {
    std::shared_ptr<TDevice> device;
    {
      const win32::TLock lock(fTable);
      const auto it = fDevices.find(ref);
      if (it == fDevices.end()) return ERROR_INVALID_HANDLE;
      device = std::move(it->second);
      fDevices.erase(it);
    }
    device->Closed = true; // released when the last call that uses it returns
    return 0;
  }

private:
  int32_t Add(std::shared_ptr<TDevice> device) {
    const win32::TLock lock(fTable);
    const int32_t ref = fNextRef++;
    fDevices.emplace(ref, std::move(device));
    return ref;
  }

  bool IsOpen(const std::wstring& devicePath) {
    const win32::TLock lock(fTable);
    return std::any_of(fDevices.begin(), fDevices.end(),
                       [&](const auto& d) { return pellix::DevicePath(d.second->PortName) == devicePath; });
  }

  static std::shared_ptr<TDevice> TryPort(const std::wstring& path, const std::wstring& portName, uint32_t deviceType,
                                          int32_t baudRate) {
    win32::THandle port(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!port) return nullptr;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port.Get(), &dcb)) return nullptr;
    dcb.BaudRate = DWORD(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = FALSE;
    if (!::SetCommState(port.Get(), &dcb)) return nullptr;
    auto device = std::make_shared<TComPortDevice>(std::move(port), portName, 0);
    std::string answer;
    uint32_t type = 0;
    int32_t id = 0, version = 0;
    if (Exchange(*device, "HELLO", answer, HelloTimeoutMs) != 0 || !selsim::ParseHelloLine(answer, type, id, version) ||
        type != deviceType)
      return nullptr;
    device->Id = id;
    return device;
  }

  void LoadSimulatedSelectors() {
    if (fSimulatedLoaded) return;
    fSimulatedLoaded = true;
    std::string text = win32::Narrow(win32::EnvironmentVariable(L"NVSERIAL_SIMULATED"));
    const std::wstring file = win32::EnvironmentVariable(L"NVSERIAL_SIMULATED_FILE");
    if (!file.empty()) {
      std::ifstream in{std::filesystem::path(file)};
      std::stringstream content;
      content << in.rdbuf();
      text += "\n" + content.str();
    }
    std::vector<selsim::TSelectorSpec> specs;
    if (!selsim::ParseSelectorList(text, specs)) return; // a bad list simulates nothing
    for (size_t i = 0; i < specs.size(); ++i)
      fSimulated.push_back(std::make_shared<TSimulatedSelector>(specs[i], L"SIM" + std::to_wstring(i + 1)));
  }

  win32::TCriticalSection fOpening, fTable;
  std::map<int32_t, std::shared_ptr<TDevice>> fDevices;
  int32_t fNextRef = 1;
  bool fSimulatedLoaded = false;
  std::vector<std::shared_ptr<TSimulatedSelector>> fSimulated;
};

// Lives until the process ends: client threads may still call in while it exits.
TLibrary& Library() {
  static TLibrary* library = new TLibrary();
  return *library;
}

// Runs an I/O call on a device that is open and stays alive for the call.
template <typename F>
int32_t WithDevice(int32_t ref, F&& call) noexcept {
  try {
    const std::shared_ptr<TDevice> device = Library().Find(ref);
    if (!device) return ERROR_INVALID_HANDLE;
    const win32::TLock io(device->Io);
    if (device->Closed) return ERROR_INVALID_HANDLE;
    return call(*device);
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

wchar_t* CoTaskCopy(const std::wstring& text) {
  auto* out = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (out) std::copy_n(text.c_str(), text.size() + 1, out);
  return out;
}

} // namespace

extern "C" {

int32_t WINAPI NVSerial_OpenDevice(int32_t* Ref, uint32_t DeviceType, int32_t BaudRate) {
  if (Ref == nullptr || BaudRate <= 0) return ERROR_INVALID_PARAMETER;
  try {
    return Library().Open(*Ref, DeviceType, BaudRate);
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

int32_t WINAPI NVSerial_DeviceMeta(int32_t Ref, wchar_t** PortName, int32_t* Unused) {
  if (PortName) *PortName = nullptr;
  try {
    const std::shared_ptr<TDevice> device = Library().Find(Ref);
    if (!device) return ERROR_INVALID_HANDLE;
    if (Unused) *Unused = device->Id;
    if (PortName && (*PortName = CoTaskCopy(device->PortName)) == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

int32_t WINAPI NVSerial_Close(int32_t Ref) {
  try {
    return Library().Close(Ref);
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

int32_t WINAPI NVSerial_Write(int32_t Ref, const uint8_t* Data, int32_t Length, int32_t TimeoutMs) {
  if ((Data == nullptr && Length != 0) || Length < 0 || TimeoutMs < 0) return ERROR_INVALID_PARAMETER;
  return WithDevice(Ref, [&](TDevice& d) { return Length == 0 ? 0 : d.Write(Data, Length, DWORD(TimeoutMs)); });
}

int32_t WINAPI NVSerial_Read(int32_t Ref, uint8_t* Buffer, int32_t Size, int32_t* Received, int32_t TimeoutMs) {
  if (Received) *Received = 0;
  if (Buffer == nullptr || Received == nullptr || Size <= 0 || TimeoutMs < 0) return ERROR_INVALID_PARAMETER;
  return WithDevice(Ref, [&](TDevice& d) { return d.Read(Buffer, Size, *Received, DWORD(TimeoutMs)); });
}

int32_t WINAPI NVSerial_Command(int32_t Ref, const char* Command, char** Reply, int32_t TimeoutMs) {
  if (Reply) *Reply = nullptr;
  if (Command == nullptr || Reply == nullptr || TimeoutMs < 0) return ERROR_INVALID_PARAMETER;
  return WithDevice(Ref, [&](TDevice& d) {
    std::string answer;
    const int32_t result = Exchange(d, Command, answer, DWORD(TimeoutMs));
    if (result != 0) return result;
    auto* out = static_cast<char*>(::CoTaskMemAlloc(answer.size() + 1));
    if (out == nullptr) return int32_t(ERROR_NOT_ENOUGH_MEMORY);
    std::copy_n(answer.c_str(), answer.size() + 1, out);
    *Reply = out;
    return 0;
  });
}

} // extern "C"
