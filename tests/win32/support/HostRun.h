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

void SetHostDebugSwitch(bool on);

} // namespace testing_support
