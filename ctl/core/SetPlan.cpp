#include "SetPlan.h"

#include "SelectorReport.h"
#include "SelectorValues.h"

namespace q417ctl {
namespace {

// A selector's state as the panel would send it back: under mode 0 it routes no channel.
TQ417State AsReported(const TQ417State& state) {
  TQ417State s = state;
  if (s.Q417_Mode == 0) s.Q417_Select = 0;
  return s;
}

} // namespace

TSetPlan PlanSet(const std::vector<TQ417DeviceState>& selectors, const TCommand& command) {
  TSetPlan plan;
  const TFieldChanges& changes = command.Changes;
  if (!command.AllSelectors && !FindSelector(selectors, command.DeviceId)) {
    plan.Refusal = kExitNoSelector;
    plan.Error = "no selector with id " + std::to_string(command.DeviceId) + " is connected";
    return plan;
  }
  if (command.AllSelectors && selectors.empty()) {
    plan.Refusal = kExitNoSelector;
    plan.Error = "no selector is connected";
    return plan;
  }

  std::vector<TQ417State> next;
  next.reserve(selectors.size());
  for (const TQ417DeviceState& selector : selectors) {
    TQ417State state = AsReported(selector.Q417_State);
    if (command.AllSelectors || selector.Q417_DeviceID == command.DeviceId) {
      TExpectation expected{selector.Q417_DeviceID, changes};
      if (changes.Mode) state.Q417_Mode = *changes.Mode;
      if (changes.Select) state.Q417_Select = *changes.Select;
      if (changes.Indicator) state.Q417_Indicator = *changes.Indicator;
      if (changes.Delay) state.Q417_Delay = *changes.Delay;
      if (state.Q417_Mode == 0) {
        if (changes.Select && *changes.Select != 0) {
          plan.Refusal = kExitUsage;
          plan.Error = "selector " + std::to_string(selector.Q417_DeviceID) +
                       " would be in mode 0, which routes no channel: channel=" + ChannelText(*changes.Select) +
                       " needs a mode of 1 to 3";
          plan.Expected.clear();
          return plan;
        }
        // What a selector in mode 0 reports.
        state.Q417_Select = 0;
        expected.Values.Select = uint8_t(0);
      }
      plan.Expected.push_back(expected);
    }
    next.push_back(state);
  }
  q417::BuildNextStateTable(plan.Table, int32_t(selectors.size()), [&](int32_t i, TQ417DeviceState& record) {
    record.Q417_DeviceID = selectors[size_t(i)].Q417_DeviceID;
    record.Q417_State = next[size_t(i)];
  });
  return plan;
}

std::string Unconfirmed(const std::vector<TExpectation>& expected, const std::vector<TQ417DeviceState>& selectors) {
  std::string text;
  for (const TExpectation& e : expected) {
    std::string missing;
    if (const TQ417DeviceState* selector = FindSelector(selectors, e.DeviceId)) {
      const TQ417State& s = selector->Q417_State;
      auto check = [&](const char* field, bool holds, const std::string& wanted, const std::string& reported) {
        if (holds) return;
        missing += (missing.empty() ? "" : ", ") + std::string(field) + "=" + wanted + " (reports " + reported + ")";
      };
      const TFieldChanges& v = e.Values;
      if (v.Mode) check("mode", s.Q417_Mode == *v.Mode, std::to_string(*v.Mode), std::to_string(s.Q417_Mode));
      if (v.Select) check("channel", s.Q417_Select == *v.Select, ChannelText(*v.Select), ChannelText(s.Q417_Select));
      if (v.Indicator)
        check("indicator", s.Q417_Indicator == *v.Indicator, IndicatorText(*v.Indicator), IndicatorText(s.Q417_Indicator));
      if (v.Delay) check("delay", s.Q417_Delay == *v.Delay, DelayMsText(*v.Delay), DelayMsText(s.Q417_Delay));
    } else {
      missing = "not connected";
    }
    if (!missing.empty()) text += (text.empty() ? "" : "; ") + ("selector " + std::to_string(e.DeviceId) + ": ") + missing;
  }
  return text;
}

} // namespace q417ctl
