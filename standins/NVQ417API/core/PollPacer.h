// When a poll's answer goes to the panel. A poll is answered at once when the selectors' state
// differs from the packet the panel last received; otherwise the library keeps asking the host
// every RepollMs and answers with the unchanged packet once HoldMs have passed. An idle panel
// thus polls about five times a second, and a change reaches it within about RepollMs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nvq417 {

class TPollPacer {
public:
  static constexpr uint32_t HoldMs = 200;
  static constexpr uint32_t RepollMs = 100;

  struct TDecision {
    bool Deliver;    // hand this packet to the panel now
    uint32_t WaitMs; // otherwise: ask the host again after this long
  };

  explicit TPollPacer(uint32_t holdMs = HoldMs, uint32_t repollMs = RepollMs) : fHoldMs(holdMs), fRepollMs(repollMs) {}

  // For a packet received `elapsedMs` after the poll began.
  TDecision Decide(std::span<const uint8_t> packet, uint64_t elapsedMs) const;
  // The packet the panel received, from a poll or from a next-state table's answer.
  void Delivered(std::span<const uint8_t> packet);

private:
  uint32_t fHoldMs, fRepollMs;
  bool fAnyDelivered = false;
  std::vector<uint8_t> fLast;
};

} // namespace nvq417
