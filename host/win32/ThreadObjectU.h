// The device host's thread objects (the pipe listener and every pipe handler): the run loop
// Execute runs on a thread of its own that starts once construction is complete. Destroying
// the object first waits until Execute has returned, unless the object was marked to destroy
// itself when its thread ends; that mark is the one place where an object owns its own life.
#pragma once

#include "WinHandles.h"

#include <windows.h>

class TThreadObject {
public:
  // The stack each thread reserves. The client library's calls run on pipe handler threads, so
  // they get the 1 MiB usual for Windows programs; this build's default of 2 MiB is also what
  // Wine commits in full, once per connected client.
  static constexpr SIZE_T StackReservation = 1 << 20;

  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;
  virtual ~TThreadObject();

  // Called on the object's own thread, inside Execute: once Execute has returned, the thread
  // deletes the object and no one else may.
  void FreeOnTerminate() noexcept { fFreeOnTerminate = true; }
  bool Started() const noexcept { return bool(fThread); }
  // Waits until Execute has returned (at once on the object's own thread or when never started).
  void WaitFor() noexcept;

protected:
  TThreadObject() = default;
  // The last statement of the most-derived constructor. False when no thread could be made.
  bool Start() noexcept;
  // The run loop; an exception that leaves it ends the thread as a return would.
  virtual void Execute() = 0;

private:
  static DWORD WINAPI ThreadProc(void* self) noexcept;

  win32::THandle fThread;
  DWORD fThreadId = 0;
  bool fFreeOnTerminate = false; // written and read on the object's own thread only
};
