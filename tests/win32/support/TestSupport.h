// Helpers for tests under Wine: waiting for conditions, pumping messages, temporary files,
// starting programs and reading their windows from outside as assistive tools do.
#pragma once

#include "WinHandles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Calls until the condition holds or the deadline passes; pumps this thread's messages between
// calls. Returns whether it held.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 10);

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// A fresh, empty file name in the temp folder, removed when the object goes.
class TTempFile {
public:
  explicit TTempFile(const wchar_t* prefix);
  ~TTempFile();
  const std::wstring& Path() const { return fPath; }
  std::string Read() const;
  void Write(const std::string& text) const;

private:
  std::wstring fPath;
};

// The complete lines of a text, split at '\n'. A last line without its '\n' is left out: a log
// read while its writer appends may end inside a line.
std::vector<std::string> Lines(const std::string& text);

// The system time in milliseconds, on the clock that process exit times are kept in.
ULONGLONG SystemTimeMs();

// The seed of the stress tests' random choices: Q417_STRESS_SEED (decimal or 0x-hex) or 417,
// printed when first asked for, so that a run can be replayed.
uint32_t StressSeed();

// A program started with extra environment variables; killed if still running when destroyed.
class TChildProcess {
public:
  // stdOut, stdErr: files (or pipes) the child writes its standard output and error to.
  TChildProcess(const std::wstring& exePath, const std::wstring& arguments,
                const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
                const std::wstring& workingFolder = {}, HANDLE stdOut = nullptr, HANDLE stdErr = nullptr);
  ~TChildProcess();
  bool Started() const { return bool(fProcess); }
  DWORD Id() const { return fId; }
  HANDLE Handle() const { return fProcess.Get(); }
  bool WaitExit(DWORD timeoutMs);
  DWORD ExitCode() const;
  // When the process ended, as the system recorded it (SystemTimeMs' clock), or 0 while it runs:
  // unlike the moment a test notices the end, no later when the test itself is kept waiting.
  ULONGLONG ExitTimeMs() const;
  // From the process's start to its end as the system recorded them; -1 while it runs.
  double SecondsRun() const;

  // The first visible-or-not top-level window of the process with this class name.
  HWND FindTopWindow(const wchar_t* className) const;

private:
  win32::THandle fProcess;
  DWORD fId = 0;
};

// The number of handles a process has open, read from the system's handle table (what
// GetProcessHandleCount answers on Windows; Wine answers that call with 0). -1 when unreadable.
int ProcessHandleCount(DWORD processId);

// The text of part 0 of a status bar in another process (the message is not marshalled, so the
// buffer is allocated in the owning process).
std::wstring ReadStatusBar(HWND statusBar);

// The window text of a window in any process.
std::wstring WindowText(HWND window);

std::string Narrow(const std::wstring& text);

} // namespace testing_support
