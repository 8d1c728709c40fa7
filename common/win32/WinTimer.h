// A periodic window timer that ticks on the window thread. Starting a running timer or stopping
// a stopped one changes nothing, so a start never restarts the period. A timer made with
// FirstTickAtOnce ticks right after each start (through a posted message) and then every period;
// its system timer is set only once that first tick has been handled with the timer still
// running, since most of its starts are stopped by their first tick.
#pragma once

#include <windows.h>

namespace win32 {

class TWinTimer {
public:
  // Posted to the owner window for the at-once tick; wParam is the timer id.
  static constexpr UINT WM_TIMER_KICK = WM_APP + 0x3F0;
  enum TFirstTick { FirstTickAfterPeriod, FirstTickAtOnce };

  TWinTimer(UINT_PTR id, UINT periodMs, TFirstTick firstTick) noexcept
      : fId(id), fPeriodMs(periodMs), fFirstTick(firstTick) {}
  TWinTimer(const TWinTimer&) = delete;
  TWinTimer& operator=(const TWinTimer&) = delete;
  ~TWinTimer() { Stop(); }

  void Attach(HWND owner) noexcept { fOwner = owner; }
  void Start() noexcept;
  void Stop() noexcept;
  bool Running() const noexcept { return fRunning; }
  UINT PeriodMs() const noexcept { return fPeriodMs; }

  // Routes WM_TIMER and WM_TIMER_KICK: true when the message is a tick of this timer that is
  // to be handled (a kick that a stop or a tick made stale is swallowed).
  bool IsTick(UINT msg, WPARAM wParam) noexcept;
  // Runs onTick for a tick of this timer; true when the message was one.
  template <typename TOnTick>
  bool Dispatch(UINT msg, WPARAM wParam, TOnTick&& onTick) {
    if (!IsTick(msg, wParam)) return false;
    onTick();
    TickHandled();
    return true;
  }

private:
  // After a tick: sets the system timer if the timer still runs and it is not set yet.
  void TickHandled() noexcept;

public:

private:
  HWND fOwner = nullptr;
  UINT_PTR fId;
  UINT fPeriodMs;
  TFirstTick fFirstTick;
  bool fRunning = false;
  bool fKickPending = false;
  bool fArmed = false; // the system timer is set
};

} // namespace win32
