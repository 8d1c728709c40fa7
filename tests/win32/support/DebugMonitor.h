// A debug monitor for tests: takes the lines that programs write with OutputDebugString through
// the DBWIN_BUFFER protocol, as debug-output viewers do. A writer waits up to 10 s for the
// monitor to take its previous line, so the monitor keeps taking lines on its own thread for as
// long as it exists. Only one monitor can run on a desktop session at a time: tests that use one
// must not run in parallel with each other.
#pragma once

#include "WinHandles.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class TDebugMonitor {
public:
  TDebugMonitor();
  ~TDebugMonitor();
  TDebugMonitor(const TDebugMonitor&) = delete;
  TDebugMonitor& operator=(const TDebugMonitor&) = delete;

  // False when the protocol's objects could not be made (another monitor runs).
  bool Ready() const { return fReady; }
  // The lines written by one process so far, without line ends.
  std::vector<std::string> Lines(DWORD processId) const;

private:
  void Run();

  bool fReady = false;
  win32::THandle fBufferReady, fDataReady, fMapping, fStop;
  const void* fView = nullptr;
  mutable std::mutex fLock;
  std::vector<std::pair<DWORD, std::string>> fLines;
  std::thread fThread;
};

} // namespace testing_support
