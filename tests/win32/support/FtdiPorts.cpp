#include "FtdiPorts.h"

#include "Environment.h"
#include "WinHandles.h"

#include <sstream>

namespace testing_support {

namespace {

const std::wstring FTDIBus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\";
constexpr const wchar_t* SerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool SetString(const std::wstring& key, const std::wstring& name, const std::wstring& data) {
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return false;
  const win32::TRegKey owner(raw);
  return ::RegSetValueExW(raw, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring BusKey(const std::wstring& port) { return FTDIBus + L"VID_0403+PID_FAA8+PTY" + port + L"A"; }

} // namespace

std::vector<std::wstring> PtyPorts() {
  std::vector<std::wstring> ports;
  std::wstringstream in(win32::EnvironmentVariable(L"PELLIX_PTY_PORTS"));
  for (std::wstring port; std::getline(in, port, L',');) ports.push_back(port);
  return ports;
}

bool AddFTDIPort(const std::wstring& port) {
  return SetString(BusKey(port) + L"\\0000\\Device Parameters", L"PortName", port) &&
         SetString(SerialComm, L"\\Device\\PtyTest" + port, port);
}

void RemoveFTDIPort(const std::wstring& port) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, BusKey(port).c_str());
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SerialComm, (L"\\Device\\PtyTest" + port).c_str());
}

} // namespace testing_support
