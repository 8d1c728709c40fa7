// q417ctl's console: results to standard output and errors to standard error, each line
// written whole and flushed at once (a script or a log file sees it while q417ctl runs), the
// local time for watch lines, and Ctrl+C turned into a stop request.
#pragma once

#include <windows.h>

#include <string>

namespace q417ctl {

// Writes text (UTF-8, lines ending in '\n') and flushes. False when the output is gone (a
// closed pipe): there is no one left to tell.
bool WriteOut(const std::string& text);
// One error line, "q417ctl: " + message.
void WriteError(const std::string& message);

// The current local time as watch prints it: 2026-12-10T10:15:30.123+01:00.
std::string LocalTimeNow();

// Ctrl+C, Ctrl+Break and closing the console set the returned event instead of ending the
// process, so that watch ends its loop and closes the library. Closing the console waits for
// Finished() (the system ends the process soon after the handler returns).
class TConsoleStop {
public:
  TConsoleStop();
  ~TConsoleStop();
  TConsoleStop(const TConsoleStop&) = delete;
  TConsoleStop& operator=(const TConsoleStop&) = delete;
  HANDLE Event() const;
};

} // namespace q417ctl
