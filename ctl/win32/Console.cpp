#include "Console.h"

#include "SelectorReport.h"

#include <cstdio>

namespace q417ctl {
namespace {

// Made once and kept until the process ends: the system calls the control handler on a thread
// of its own, possibly while the owner is already going.
HANDLE StopEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}
HANDLE FinishedEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnControl(DWORD type) {
  ::SetEvent(StopEvent());
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this returns: give the main thread a moment to close the library.
    ::WaitForSingleObject(FinishedEvent(), 4000);
  }
  return TRUE;
}

SYSTEMTIME ToSystemTime(const FILETIME& time) {
  SYSTEMTIME st{};
  ::FileTimeToSystemTime(&time, &st);
  return st;
}

int64_t Ticks(const SYSTEMTIME& st) {
  FILETIME ft{};
  ::SystemTimeToFileTime(&st, &ft);
  return int64_t(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

} // namespace

bool WriteOut(const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return std::fflush(stdout) == 0 && written;
}

void WriteError(const std::string& message) {
  const std::string line = "q417ctl: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string LocalTimeNow() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const SYSTEMTIME utc = ToSystemTime(now);
  SYSTEMTIME local = utc;
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  // The offset in force at this moment, daylight saving included, to the minute.
  const int64_t offsetTicks = Ticks(local) - Ticks(utc);
  const int offsetMinutes = int((offsetTicks + (offsetTicks >= 0 ? 1 : -1) * 300000000) / 600000000);
  return Iso8601({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  local.wMilliseconds, offsetMinutes});
}

TConsoleStop::TConsoleStop() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

TConsoleStop::~TConsoleStop() {
  ::SetEvent(FinishedEvent());
  ::SetConsoleCtrlHandler(OnControl, FALSE);
}

HANDLE TConsoleStop::Event() const { return StopEvent(); }

} // namespace q417ctl
