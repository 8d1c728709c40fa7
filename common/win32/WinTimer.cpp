#include "WinTimer.h"

namespace win32 {

void TWinTimer::Start() noexcept {
  if (fRunning || fOwner == nullptr) return;
  if (fFirstTick == FirstTickAtOnce) {
    fKickPending = ::PostMessageW(fOwner, WM_TIMER_KICK, fId, 0) != FALSE;
    fRunning = fKickPending;
    return;
  }
  fArmed = ::SetTimer(fOwner, fId, fPeriodMs, nullptr) != 0;
  fRunning = fArmed;
}

void TWinTimer::Stop() noexcept {
  if (!fRunning) return;
  if (fArmed) ::KillTimer(fOwner, fId);
  fArmed = false;
  fRunning = false;
  fKickPending = false;
}

bool TWinTimer::IsTick(UINT msg, WPARAM wParam) noexcept {
  if (wParam != fId) return false;
  if (msg == WM_TIMER_KICK) {
    if (!fRunning || !fKickPending) return false; // from a start that has since been stopped
    fKickPending = false;
    return true;
  }
  return msg == WM_TIMER && fRunning && fArmed;
}

void TWinTimer::TickHandled() noexcept {
  if (fRunning && !fArmed) fArmed = ::SetTimer(fOwner, fId, fPeriodMs, nullptr) != 0;
}

} // namespace win32
