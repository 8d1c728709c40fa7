// A thread object: its run loop Execute runs on a thread of its own that starts once
// construction is complete. Destroying the object first waits until that thread has ended,
// unless the object was marked to destroy itself when its thread ends.
//
// Stopping: RequestStop sets the stop event, which the run loop waits on beside its work. Once
// Execute has returned the object is terminated and the stop is acknowledged; a run loop may
// count itself terminated earlier (MarkTerminated), from the moment it no longer serves.
// RequestStopAndWait asks and waits for the acknowledgement within a bound; WaitFor waits for
// the thread's end without one.
#pragma once

#include "WinHandles.h"
#include "WinSync.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace win32 {

class TThreadObject {
public:
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;
  virtual ~TThreadObject();

  // Called on the object's own thread, inside Execute: once Execute has returned, the thread
  // deletes the object and no one else may. The one place where an object owns its own life.
  void FreeOnTerminate() noexcept { fFreeOnTerminate = true; }
  bool Started() const noexcept { return bool(fThread); }
  bool IsTerminated() const noexcept { return fTerminated.IsSet(); }
  // Waits until the thread has ended (at once on the object's own thread or when never started).
  void WaitFor() noexcept;

protected:
  // What a stop request does with the acknowledgement after its wait.
  enum class TAcknowledgement { LeftSet, Reset };

  TThreadObject();
  // The last statement of the most-derived constructor, or of a factory; false when no thread
  // could be made. stackReservation 0 reserves the program's default. The thread holds `owner`,
  // if given, until it has left the object for good: an object that its callers share lives as
  // long as its thread needs it.
  bool Start(SIZE_T stackReservation = 0, std::shared_ptr<void> owner = nullptr) noexcept;
  // The run loop; an exception that leaves it ends the thread as a return would. A derived class
  // whose run loop uses its members waits for the thread in its own destructor (WaitFor).
  virtual void Execute() = 0;

  HANDLE StopEvent() const noexcept { return fStop.Get(); }
  bool StopRequested() const noexcept { return ::WaitForSingleObject(fStop.Get(), 0) == WAIT_OBJECT_0; }
  void RequestStop() noexcept { ::SetEvent(fStop.Get()); }
  void MarkTerminated() noexcept { fTerminated.Set(); }
  // One stop request at a time: 0 once acknowledged within timeoutMs, 100003 when never started
  // or already terminated (nothing is asked), 100014 when not acknowledged in time.
  int32_t RequestStopAndWait(DWORD timeoutMs, TAcknowledgement acknowledgement) noexcept;

private:
  static DWORD WINAPI ThreadProc(void* self) noexcept;

  THandle fStop, fStopAcknowledged; // manual-reset
  TEventState fTerminated;
  TCriticalSection fStopLock;
  std::shared_ptr<void> fOwner; // handed to the thread as it starts
  THandle fThread;
  DWORD fThreadId = 0;
  bool fFreeOnTerminate = false; // written and read on the object's own thread only
};

} // namespace win32
