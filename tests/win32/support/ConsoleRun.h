// A console program run with its standard output and error each in a file of its own, which a
// test can read while the program still runs (a log being written) or once it has ended.
#pragma once

#include "TestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class TConsoleRun {
public:
  TConsoleRun(const std::wstring& exePath, const std::wstring& arguments,
              const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
              const std::wstring& workingFolder = {});
  ~TConsoleRun();
  TConsoleRun(const TConsoleRun&) = delete;
  TConsoleRun& operator=(const TConsoleRun&) = delete;

  bool Started() const { return fProcess && fProcess->Started(); }
  TChildProcess& Process() { return *fProcess; }
  bool WaitExit(DWORD timeoutMs) { return fProcess->WaitExit(timeoutMs); }
  DWORD ExitCode() const { return fProcess->ExitCode(); }

  std::string Out() const { return fOut.Read(); }
  std::string Err() const { return fErr.Read(); }
  // The complete lines written so far, without their line ends ("\r\n" or "\n").
  std::vector<std::string> OutLines() const;
  std::vector<std::string> ErrLines() const;

private:
  TTempFile fOut{L"out"}, fErr{L"err"};
  std::unique_ptr<TChildProcess> fProcess;
};

// Runs the program to its end (or ends it after timeoutMs): its exit code and what it wrote.
struct TConsoleResult {
  DWORD ExitCode = STILL_ACTIVE;
  std::string Out, Err;
};
TConsoleResult RunConsole(const std::wstring& exePath, const std::wstring& arguments,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
                          DWORD timeoutMs = 60000);

} // namespace testing_support
