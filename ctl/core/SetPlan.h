// What a set sends and what it waits for: one complete next-state table covering every
// reported selector, the named fields changed on the target(s) and every other field as
// reported (as the panel sends it), and the values the target(s) must report back.
#pragma once

#include "CtlCommand.h"
#include "Q417Packet.h"

#include <string>
#include <vector>

namespace q417ctl {

// The values one selector must report for the set to count as done; fields left empty were
// not named and may be anything.
struct TExpectation {
  int32_t DeviceId = 0;
  TFieldChanges Values;
};

struct TSetPlan {
  TExitCode Refusal = kExitDone; // kExitUsage or kExitNoSelector when nothing may be sent
  std::string Error;             // why, when refused
  q417::TBytes Table;
  std::vector<TExpectation> Expected;
};

// selectors: as ReadSelectors gives them (id order, one per id).
TSetPlan PlanSet(const std::vector<TQ417DeviceState>& selectors, const TCommand& command);

// What the selectors do not report yet, or an empty text when every expectation holds: e.g.
// "selector 5: channel=3 (reports none), delay=2.5 (reports 0); selector 9: not connected".
std::string Unconfirmed(const std::vector<TExpectation>& expected, const std::vector<TQ417DeviceState>& selectors);

} // namespace q417ctl
