// The device host's program entry: its identity (debug switch, client library, device type), the
// one host per device type, the hidden window and its message loop. Every early end is quiet,
// exit code 0.
#include "ClientSupportU.h"
#include "DebugUtilsU.h"
#include "HostNames.h"
#include "PellixF.h"
#include "PellixUSBU.h"
#include "PellixUtilsU.h"
#include "RegistryReader.h"

namespace {

void RunHost(HINSTANCE instance) {
  // No library is ever looked for in the current folder. The process-wide search order stays
  // the platform's otherwise, so that the client library's own loads by bare name find what
  // they would in any program (beside the host, the system folders, the PATH); the host loads
  // the client library itself only from narrower places (ClientSupportU).
  ::SetDllDirectoryW(L"");
  win32::THandle instanceMutex; // closed last: a next host of this device type finds the library freed
  const std::optional<TBoundHost> host = BindHost();
  if (!host) return; // ends quietly like any failed start
  const THostIdentity& identity = host->Identity;

  ::SetLastError(ERROR_SUCCESS);
  instanceMutex.Reset(::CreateMutexW(nullptr, TRUE, pellix::MutexName(identity.DeviceType).c_str()));
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return; // another host serves this device type

  win32::TRegistryReader registry;
  pellix::TPortProber prober;
  TNVSerialLibrary serial;
  const std::unique_ptr<TForm1> form = TForm1::Create(instance, identity, registry, prober, serial);
  if (form && identity.DebugMode != 0) {
    ::ShowWindow(form->Handle(), SW_SHOW);
    ::UpdateWindow(form->Handle());
  }
  MSG msg;
  while (form && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
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
