#include "PollPacer.h"

#include <algorithm>

namespace nvq417 {

TPollPacer::TDecision TPollPacer::Decide(std::span<const uint8_t> packet, uint64_t elapsedMs) const {
  const bool changed = !fAnyDelivered || !std::equal(packet.begin(), packet.end(), fLast.begin(), fLast.end());
  if (changed || elapsedMs >= fHoldMs) return {true, 0};
  return {false, uint32_t(std::min<uint64_t>(fRepollMs, fHoldMs - elapsedMs))};
}

void TPollPacer::Delivered(std::span<const uint8_t> packet) {
  fLast.assign(packet.begin(), packet.end());
  fAnyDelivered = true;
}

} // namespace nvq417
