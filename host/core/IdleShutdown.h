// The host's idle rule: the window's idle timer counts consecutive ticks without a connected
// client and ends the host once the count passes the idle limit (60 ticks in debug mode, else 1).
#pragma once

#include <cstdint>

namespace pellix {

class TIdleShutdown {
public:
  static constexpr uint32_t TickPeriodMs = 1000;
  static constexpr int32_t DebugIdleLimit = 60;
  static constexpr int32_t NormalIdleLimit = 1;

  explicit TIdleShutdown(int32_t debugMode) noexcept
      : fIdleLimit(debugMode != 0 ? DebugIdleLimit : NormalIdleLimit) {}

  // One tick of the idle timer; true when the host is to end now.
  bool Tick(int32_t clientCount) noexcept {
    if (clientCount != 0) {
      fZeroCount = 0;
      return false;
    }
    return ++fZeroCount > fIdleLimit;
  }
  int32_t IdleLimit() const noexcept { return fIdleLimit; }

private:
  int32_t fIdleLimit;
  int32_t fZeroCount = 0;
};

} // namespace pellix
