// Synchronisation helpers: the locks with their scope guards, events, and the two-event states
// whose one set event tells the state.
//
// One kind of lock for each use, each held through its scope guard and never released by hand.
// In the Win32 layer (both programs' shells, these helpers, the stand-in libraries, q417ctl):
//  - data that threads share: a TCriticalSection, held by a TLock;
//  - state that a thread sleeps on until another thread changes it: an SRWLOCK with its
//    condition variables, held by a TSlimExclusive (whose Sleep waits on one of them);
//  - a wait bounded by a time-out, or one that another process takes part in: a kernel mutex,
//    given back by a TMutexOwnership once a wait has obtained it.
// The portable core, which has no windows.h, uses std::mutex.
#pragma once

#include "WinHandles.h"

#include <windows.h>

namespace win32 {

class TCriticalSection {
public:
  TCriticalSection() noexcept { ::InitializeCriticalSection(&fSection); }
  ~TCriticalSection() { ::DeleteCriticalSection(&fSection); }
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;
  void Enter() noexcept { ::EnterCriticalSection(&fSection); }
  void Leave() noexcept { ::LeaveCriticalSection(&fSection); }

private:
  CRITICAL_SECTION fSection;
};

class TLock {
public:
  explicit TLock(TCriticalSection& section) noexcept : fSection(section) { fSection.Enter(); }
  ~TLock() { fSection.Leave(); }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;

private:
  TCriticalSection& fSection;
};

// An SRW lock held exclusively for a scope.
class TSlimExclusive {
public:
  explicit TSlimExclusive(SRWLOCK& lock) noexcept : fLock(lock) { ::AcquireSRWLockExclusive(&fLock); }
  ~TSlimExclusive() { ::ReleaseSRWLockExclusive(&fLock); }
  TSlimExclusive(const TSlimExclusive&) = delete;
  TSlimExclusive& operator=(const TSlimExclusive&) = delete;

  // Gives the lock up while asleep on the condition variable and holds it again on waking;
  // false when the time-out passed first.
  bool Sleep(CONDITION_VARIABLE& condition, DWORD timeoutMs) const noexcept {
    return ::SleepConditionVariableSRW(&condition, &fLock, timeoutMs, 0) != FALSE;
  }

private:
  SRWLOCK& fLock;
};

// A kernel mutex that a wait has obtained (also as abandoned), given back on scope exit.
class TMutexOwnership {
public:
  explicit TMutexOwnership(HANDLE mutex) noexcept : fMutex(mutex) {}
  ~TMutexOwnership() { ::ReleaseMutex(fMutex); }
  TMutexOwnership(const TMutexOwnership&) = delete;
  TMutexOwnership& operator=(const TMutexOwnership&) = delete;

private:
  HANDLE fMutex;
};

// An event with default security; a named one that exists already is opened instead.
inline THandle MakeEvent(bool manualReset, bool initiallySet, const wchar_t* name = nullptr) {
  return THandle(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, name));
}

// A state held by two manual-reset events of which exactly one is set. A change resets the
// negative event first, so that no reader ever sees both set.
class TEventState {
public:
  TEventState() : fPositive(MakeEvent(true, false)), fNegative(MakeEvent(true, true)) {}
  bool Valid() const noexcept { return fPositive && fNegative; }
  // Answers at once: one of the two is always set.
  bool IsSet() const noexcept {
    const HANDLE both[2] = {fPositive.Get(), fNegative.Get()};
    return ::WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0;
  }
  void Set() noexcept {
    ::ResetEvent(fNegative.Get());
    ::SetEvent(fPositive.Get());
  }
  HANDLE Positive() const noexcept { return fPositive.Get(); }
  HANDLE Negative() const noexcept { return fNegative.Get(); }

private:
  THandle fPositive, fNegative;
};

} // namespace win32
