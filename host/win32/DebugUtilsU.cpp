#include "DebugUtilsU.h"

#include "ThreadObject.h"
#include "WinSync.h"

#include <windows.h>

#include <deque>

namespace {

// The queue of lines and the thread that writes them, started with the first line. Slim locks
// and condition variables wait without a round trip through the system when nobody has to be
// woken. Never destroyed or stopped: its thread runs until the process ends.
class TDebugWriter final : public win32::TThreadObject {
public:
  static constexpr size_t MaxQueued = 10000; // beyond this a writer of lines waits for room
  static constexpr DWORD FlushTimeoutMs = 20000;

  void Push(std::wstring line) {
    if (!Queue(line)) {
      ::OutputDebugStringW(line.c_str()); // no writer thread: write it here
      return;
    }
    ::WakeConditionVariable(&fQueued);
  }

  void Flush() {
    const ULONGLONG deadline = ::GetTickCount64() + FlushTimeoutMs;
    const win32::TSlimExclusive hold(fLock);
    while (Started() && (!fLines.empty() || fWriting)) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) break;
      hold.Sleep(fProgress, DWORD(deadline - now));
    }
  }

protected:
  void Execute() override {
    for (;;) {
      std::wstring line;
      {
        const win32::TSlimExclusive hold(fLock);
        while (fLines.empty()) hold.Sleep(fQueued, INFINITE);
        line = std::move(fLines.front());
        fLines.pop_front();
        fWriting = true;
      }
      ::OutputDebugStringW(line.c_str());
      const win32::TSlimExclusive hold(fLock);
      fWriting = false;
      ::WakeAllConditionVariable(&fProgress);
    }
  }

private:
  // False when there is no writer thread; an exception (out of memory) loses the line.
  bool Queue(std::wstring& line) {
    const win32::TSlimExclusive hold(fLock);
    if (!Started() && !Start()) return false;
    while (fLines.size() >= MaxQueued) hold.Sleep(fProgress, INFINITE);
    fLines.push_back(std::move(line));
    return true;
  }

  SRWLOCK fLock = SRWLOCK_INIT;
  CONDITION_VARIABLE fQueued = CONDITION_VARIABLE_INIT;   // a line was queued
  CONDITION_VARIABLE fProgress = CONDITION_VARIABLE_INIT; // a line was written
  std::deque<std::wstring> fLines;
  bool fWriting = false;
};

TDebugWriter& Writer() {
  static TDebugWriter* writer = new TDebugWriter();
  return *writer;
}

} // namespace

void DebugOut(std::wstring_view text) noexcept {
  try {
    Writer().Push(std::wstring(text));
  } catch (...) {
    // Out of memory: the line is lost, the caller goes on.
  }
}

void DebugOutFmt(const wchar_t* format, std::initializer_list<pellix::TDebugArg> args) noexcept {
  try {
    Writer().Push(pellix::FormatDebugText(format, args));
  } catch (...) {
  }
}

void DebugFlush() noexcept { Writer().Flush(); }
