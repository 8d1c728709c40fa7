#include "StateChanges.h"

namespace q417ctl {
namespace {

bool SameRecord(const TQ417DeviceState& a, const TQ417DeviceState& b) {
  const TQ417State &x = a.Q417_State, &y = b.Q417_State;
  return a.Q417_DeviceID == b.Q417_DeviceID && a.Q417_VersionID == b.Q417_VersionID && a.Q417_Error == b.Q417_Error &&
         x.Q417_Mode == y.Q417_Mode && x.Q417_Select == y.Q417_Select && x.Q417_Indicator == y.Q417_Indicator &&
         x.Q417_Delay == y.Q417_Delay;
}

} // namespace

std::vector<TStateChange> PresentSelectors(const std::vector<TQ417DeviceState>& current) {
  std::vector<TStateChange> changes;
  for (const TQ417DeviceState& s : current) changes.push_back({TStateEvent::Present, s});
  return changes;
}

std::vector<TStateChange> ChangesBetween(const std::vector<TQ417DeviceState>& previous,
                                         const std::vector<TQ417DeviceState>& current) {
  std::vector<TStateChange> changes;
  auto p = previous.begin();
  auto c = current.begin();
  // Both are in id order: one merge pass.
  while (p != previous.end() || c != current.end()) {
    if (c == current.end() || (p != previous.end() && p->Q417_DeviceID < c->Q417_DeviceID)) {
      changes.push_back({TStateEvent::Removed, *p++});
    } else if (p == previous.end() || c->Q417_DeviceID < p->Q417_DeviceID) {
      changes.push_back({TStateEvent::Added, *c++});
    } else {
      if (!SameRecord(*p, *c)) changes.push_back({TStateEvent::Changed, *c});
      ++p;
      ++c;
    }
  }
  return changes;
}

} // namespace q417ctl
