#include "DebugUtilsU.h"

#include <windows.h>

#include <deque>

namespace {

// The queue of lines and the thread that writes them. Slim locks and condition variables wait
// without a round trip through the system when nobody has to be woken. Never destroyed: its
// thread runs until the process ends.
class TDebugWriter {
public:
  static constexpr size_t MaxQueued = 10000; // beyond this a writer of lines waits for room
  static constexpr DWORD FlushTimeoutMs = 20000;

  void Push(std::wstring line) {
    ::AcquireSRWLockExclusive(&fLock);
    if (!fThread) fThread = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
    if (!fThread) {
      ::ReleaseSRWLockExclusive(&fLock);
      ::OutputDebugStringW(line.c_str()); // no writer thread: write it here
      return;
    }
    while (fLines.size() >= MaxQueued) ::SleepConditionVariableSRW(&fProgress, &fLock, INFINITE, 0);
    try {
      fLines.push_back(std::move(line));
    } catch (...) {
      ::ReleaseSRWLockExclusive(&fLock); // out of memory: the line is lost, the lock is not
      throw;
    }
    ::ReleaseSRWLockExclusive(&fLock);
    ::WakeConditionVariable(&fQueued);
  }

  void Flush() {
    const ULONGLONG deadline = ::GetTickCount64() + FlushTimeoutMs;
    ::AcquireSRWLockExclusive(&fLock);
    while (fThread && (!fLines.empty() || fWriting)) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) break;
      ::SleepConditionVariableSRW(&fProgress, &fLock, DWORD(deadline - now), 0);
    }
    ::ReleaseSRWLockExclusive(&fLock);
  }

private:
  static DWORD WINAPI Run(void* self) noexcept {
    auto& writer = *static_cast<TDebugWriter*>(self);
    ::AcquireSRWLockExclusive(&writer.fLock);
    for (;;) {
      while (writer.fLines.empty()) ::SleepConditionVariableSRW(&writer.fQueued, &writer.fLock, INFINITE, 0);
      const std::wstring line = std::move(writer.fLines.front());
      writer.fLines.pop_front();
      writer.fWriting = true;
      ::ReleaseSRWLockExclusive(&writer.fLock);
      ::OutputDebugStringW(line.c_str());
      ::AcquireSRWLockExclusive(&writer.fLock);
      writer.fWriting = false;
      ::WakeAllConditionVariable(&writer.fProgress);
    }
  }

  SRWLOCK fLock = SRWLOCK_INIT;
  CONDITION_VARIABLE fQueued = CONDITION_VARIABLE_INIT;   // a line was queued
  CONDITION_VARIABLE fProgress = CONDITION_VARIABLE_INIT; // a line was written
  std::deque<std::wstring> fLines;
  bool fWriting = false;
  HANDLE fThread = nullptr;
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
