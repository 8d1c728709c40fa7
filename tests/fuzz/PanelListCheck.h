// The check that the control panel's list of device panels, in the shared fake window, follows a
// packet applied in full.
#pragma once

#include "FuzzCheck.h"
#include "PanelFakes.h"

#include <map>
#include <set>
#include <span>
#include <vector>

namespace fuzz {

// What the list showed before a packet, for the check after it.
struct TListSnapshot {
  struct TPanel {
    int32_t version, delay;
    bool editing;
  };
  std::vector<int32_t> ids;
  std::map<int32_t, TPanel> panels;
  size_t sized, stacked;

  explicit TListSnapshot(const fakes::TFakeWindow& w) : ids(w.Ids()), sized(w.sized), stacked(w.stacked) {
    for (size_t i = 0; i < w.list.Count(); ++i)
      panels[w.At(i).DeviceID()] = {w.At(i).versionId, w.At(i).State().Delay(), w.At(i).State().Editing()};
  }
};

inline bool Ascending(const std::vector<int32_t>& ids) {
  for (size_t i = 1; i < ids.size(); ++i)
    if (ids[i - 1] >= ids[i]) return false;
  return true;
}

// After a packet applied in full: one panel per id of the packet's readable records, showing the
// last record of its id (the delay not while the operator edits it; no channel under mode 0), with
// the version of the record that created it. When the set of ids changed, the window was sized
// for the panels and stacked them in ascending id; otherwise it was left alone.
inline void CheckListFollowsPacket(const fakes::TFakeWindow& w, std::span<const uint8_t> packet, const TListSnapshot& before) {
  std::map<int32_t, TQ417DeviceState> first, last;
  const int32_t n = q417::PacketRecordCount(packet);
  for (int32_t k = 0; k < n; ++k) {
    const TQ417DeviceState record = q417::PacketRecord(packet, k);
    const int32_t id = record.Q417_DeviceID; // a copy: the field is packed
    first.try_emplace(id, record);
    last.insert_or_assign(id, record);
  }
  const std::vector<int32_t> ids = w.Ids();
  FUZZ_CHECK(ids.size() == last.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto record = last.find(ids[i]);
    FUZZ_CHECK(record != last.end());
    const TQ417State shown = record->second.Q417_State;
    const q417::TDevicePanelState& state = w.At(i).State();
    FUZZ_CHECK(state.Mode() == shown.Q417_Mode);
    FUZZ_CHECK(state.Channel() == (shown.Q417_Mode == 0 ? 0 : shown.Q417_Select));
    FUZZ_CHECK(state.Indicator() == shown.Q417_Indicator);
    const auto old = before.panels.find(ids[i]);
    if (old == before.panels.end()) {
      FUZZ_CHECK(w.At(i).versionId == first.at(ids[i]).Q417_VersionID);
      FUZZ_CHECK(!state.Selected() && !state.Editing());
    } else {
      FUZZ_CHECK(w.At(i).versionId == old->second.version);
    }
    const bool editing = old != before.panels.end() && old->second.editing;
    FUZZ_CHECK(state.Delay() == (editing ? old->second.delay : int32_t(shown.Q417_Delay)));
  }
  const bool sameSet = std::set<int32_t>(ids.begin(), ids.end()) == std::set<int32_t>(before.ids.begin(), before.ids.end());
  if (sameSet) {
    FUZZ_CHECK(ids == before.ids);
    FUZZ_CHECK(w.sized == before.sized && w.stacked == before.stacked);
  } else {
    FUZZ_CHECK(Ascending(ids));
    FUZZ_CHECK(w.sized == before.sized + 1 && w.sizedFor == ids.size());
    FUZZ_CHECK(w.stacked == before.stacked + 1 && w.stackedIds == ids);
  }
}

} // namespace fuzz
