// A Pellix.exe run serving a test client library under a name of its own: a copy of the library
// with a unique file name (so its acknowledge event is its own), a unique device type and name
// (so its pipe and instance mutex are), optionally in debug mode.
#pragma once

#include "PipeClient.h"
#include "TestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class THostRun {
public:
  // library: a client library in the test program's folder; environment: more variables for it.
  explicit THostRun(bool debugMode = false, const std::wstring& library = L"PellixClientDouble.dll",
                    const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
  ~THostRun();
  THostRun(const THostRun&) = delete;
  THostRun& operator=(const THostRun&) = delete;

  // Waits for the acknowledge event: the pipe listens.
  bool WaitListening(DWORD timeoutMs = 20000) const { return WaitForAck(fAckName, timeoutMs); }
  const std::wstring& PipePath() const { return fPipePath; }
  const std::wstring& LibraryPath() const { return fLibraryCopy; }
  const std::wstring& DeviceTypeName() const { return fTypeName; }
  uint32_t DeviceType() const { return fType; }
  const std::wstring& AckName() const { return fAckName; }
  TChildProcess& Process() { return *fProcess; }
  HWND Window() const;
  // The text of a value label of the host window, by control id.
  std::string Label(int id) const;
  std::string ClientCount() const { return Label(105); }
  // A connected client of this host.
  bool Connect(TPipeClient& client, DWORD timeoutMs = 10000) const { return client.Connect(fPipePath, timeoutMs); }

private:
  std::wstring fUnique, fLibraryCopy, fAckName, fPipePath, fTypeName;
  uint32_t fType = 0;
  std::unique_ptr<TChildProcess> fProcess;
};

// A host whose test library logs its calls, so that a test knows when a call has begun.
struct TLoggedHost {
  TTempFile log{L"lib"};
  THostRun host;

  explicit TLoggedHost(bool debugMode)
      : host(debugMode, L"PellixClientDouble.dll", {{L"PELLIX_CLIENT_LOG", log.Path()}}) {}
  // The number of update calls begun so far: the library logs each as it begins.
  size_t Calls() const;
};

void SetHostDebugSwitch(bool on);

// The window of a running device host of this device type (its "Device Type ID" row), or null.
HWND HostWindowOfType(uint32_t deviceType);
// Waits until no device host of this device type runs: none shows a window and its instance
// mutex is gone, so that a host started next is not turned away as a second one. A host still
// there at the deadline is ended. False when one had to be ended. Call it only while nothing
// starts a host of the type: the look at the mutex holds it for a moment.
bool WaitNoHostOfType(uint32_t deviceType, DWORD timeoutMs);

} // namespace testing_support
