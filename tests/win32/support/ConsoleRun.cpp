#include "ConsoleRun.h"

namespace testing_support {
namespace {

// An inheritable handle that appends to the file, shared so that the test can read it meanwhile.
win32::THandle OpenForChild(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return win32::THandle(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::vector<std::string> WithoutCarriageReturns(std::vector<std::string> lines) {
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

} // namespace

TConsoleRun::TConsoleRun(const std::wstring& exePath, const std::wstring& arguments,
                         const std::vector<std::pair<std::wstring, std::wstring>>& environment,
                         const std::wstring& workingFolder) {
  // The child's copies stay open in the child; ours are closed once it has been made.
  const win32::THandle out = OpenForChild(fOut.Path()), err = OpenForChild(fErr.Path());
  fProcess = std::make_unique<TChildProcess>(exePath, arguments, environment, workingFolder, out.Get(), err.Get());
}

TConsoleRun::~TConsoleRun() { fProcess.reset(); } // ended before its files are removed

std::vector<std::string> TConsoleRun::OutLines() const { return WithoutCarriageReturns(Lines(Out())); }
std::vector<std::string> TConsoleRun::ErrLines() const { return WithoutCarriageReturns(Lines(Err())); }

TConsoleResult RunConsole(const std::wstring& exePath, const std::wstring& arguments,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment, DWORD timeoutMs) {
  TConsoleRun run(exePath, arguments, environment);
  TConsoleResult result;
  if (!run.Started()) return result;
  run.WaitExit(timeoutMs);
  result.ExitCode = run.ExitCode();
  result.Out = run.Out();
  result.Err = run.Err();
  return result;
}

} // namespace testing_support
