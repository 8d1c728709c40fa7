// When a poll's answer goes to the panel. A poll is answered as soon as the selectors' state
// differs from the packet the panel last received; otherwise the library keeps asking the host
// and answers with the unchanged packet once HoldMs have passed. The host is asked at most every
// RepollMs, counted from the last question: right after a delivery the panel polls again at
// once, and asking then would only bring the state just delivered. With RepollMs equal to
// HoldMs an idle panel polls five times a second with one question to the host each, and a
// change made at a selector reaches it within about RepollMs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nvq417 {

class TPollPacer {
public:
  static constexpr uint32_t HoldMs = 200;
  static constexpr uint32_t RepollMs = 200;

  struct TDecision {
    bool Deliver;    // hand this packet to the panel now
    uint32_t WaitMs; // otherwise: ask the host again after this long
  };

  explicit TPollPacer(uint32_t holdMs = HoldMs, uint32_t repollMs = RepollMs) : fHoldMs(holdMs), fRepollMs(repollMs) {}

  // How long to wait before asking the host, `sinceLastAskMs` after the last question.
  uint32_t WaitBeforeAsking(uint64_t sinceLastAskMs) const {
    return sinceLastAskMs >= fRepollMs ? 0 : uint32_t(fRepollMs - sinceLastAskMs);
  }
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
