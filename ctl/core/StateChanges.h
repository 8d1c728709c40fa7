// What watch reports between two readings of the selectors: which appeared, which changed in
// any field of their record and which disappeared.
#pragma once

#include "SelectorReport.h"

#include <vector>

namespace q417ctl {

struct TStateChange {
  TStateEvent Event;
  TQ417DeviceState Selector; // the new record; for a removal the last one seen
};

// The first reading: every selector as present.
std::vector<TStateChange> PresentSelectors(const std::vector<TQ417DeviceState>& current);

// From one reading to the next, both in id order with one record per id (ReadSelectors); the
// changes in id order. A record counts as changed when any of its bytes differ (version and
// error included).
std::vector<TStateChange> ChangesBetween(const std::vector<TQ417DeviceState>& previous,
                                         const std::vector<TQ417DeviceState>& current);

} // namespace q417ctl
