// The device host's program entry: debug switch, client library, device type, the one host per
// device type, the hidden window and its message loop. Every early end is quiet, exit code 0.
#include "ClientBinding.h"
#include "ClientSupportU.h"
#include "DebugUtilsU.h"
#include "HostNames.h"
#include "PellixF.h"
#include "PellixUSBU.h"
#include "PellixUtilsU.h"
#include "RegistryReader.h"

namespace {

constexpr const wchar_t* DebugSwitchKey = L"SOFTWARE\\Norvane Limited\\Pellix";
constexpr const wchar_t* DebugSwitchValue = L"PellixIsDebug";

int32_t ReadDebugSwitch() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, DebugSwitchKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return 0;
  const win32::TRegKey key(raw);
  DWORD type = 0, value = 0, size = sizeof value;
  if (::RegQueryValueExW(key.Get(), DebugSwitchValue, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS || type != REG_DWORD)
    return 0;
  if (::RegQueryValueExW(key.Get(), DebugSwitchValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return 0;
  return pellix::DebugModeFromValue(type == REG_DWORD, value);
}

void RunHost(HINSTANCE instance) {
  // No library is ever looked for in the current folder. The process-wide search order stays
  // the platform's otherwise, so that the client library's own loads by bare name find what
  // they would in any program (beside the host, the system folders, the PATH); the host loads
  // the client library itself only from narrower places (ClientSupportU).
  ::SetDllDirectoryW(L"");
  DebugMode = ReadDebugSwitch();
  if (!InitClientLibrary()) return;
  if (!QueryDeviceMeta()) return; // the library failed: ends quietly like any failed start

  ::SetLastError(ERROR_SUCCESS);
  const win32::THandle instanceMutex(
      ::CreateMutexW(nullptr, TRUE, pellix::MutexName(ClientSupport::DeviceType).c_str()));
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    FreeClientLibrary();
    return; // another host serves this device type
  }

  win32::TRegistryReader registry;
  pellix::TPortProber prober;
  TNVSerialLibrary serial;
  {
    const THostIdentity identity{ClientSupport::LibraryPath, ClientSupport::DeviceType, ClientSupport::DeviceTypeName,
                                 TClientEntries{ClientSupport::UpdateEntry, ClientSupport::MetaEntry}};
    const std::unique_ptr<TForm1> form = TForm1::Create(instance, identity, registry, prober, serial);
    if (form && DebugMode != 0) {
      ::ShowWindow(form->Handle(), SW_SHOW);
      ::UpdateWindow(form->Handle());
    }
    MSG msg;
    while (form && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  FreeClientLibrary();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    RunHost(instance);
  } catch (...) {
    // Out of memory during start-up: end quietly like every other failed start.
  }
  DebugFlush(); // the last lines are written before the process ends
  return 0;
}
