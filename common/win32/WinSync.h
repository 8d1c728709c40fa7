// Synchronisation helpers: a recursive critical section with a scoped lock, events, and the
// two-event states whose one set event tells the state.
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

// An unnamed event with default security.
inline THandle MakeEvent(bool manualReset, bool initiallySet) {
  return THandle(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr));
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
