// A periodic window timer that ticks on the window thread. Starting a running timer or stopping
// a stopped one changes nothing, so a start never restarts the period. A timer made with
// FirstTickAtOnce ticks right after each start (through a posted message) and then every period.
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

private:
  HWND fOwner = nullptr;
  UINT_PTR fId;
  UINT fPeriodMs;
  TFirstTick fFirstTick;
  bool fRunning = false;
  bool fKickPending = false;
};

} // namespace win32
