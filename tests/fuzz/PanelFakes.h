// The control panel's list of device panels as the main window holds it: panels made of the real
// panel state in the real list, a window that records what the list asks of it, and the check
// that the list follows a packet applied in full.
#pragma once

#include "DeviceFrameList.h"
#include "DevicePanelState.h"
#include "FuzzCheck.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>
#include <vector>

namespace fuzz {

class NullView : public q417::IDevicePanelView {
public:
  double field = 0; // the delay field's value in milliseconds
  void StateChanged() override {}
  void ShowIdentity(const std::string&, const std::string&) override {}
  void SetDelayField(double milliseconds) override { field = milliseconds; }
  double DelayFieldValue() override { return field; }
  void ReturnFocusToOwner() override {}
};

class PanelFrame : public q417::IDeviceFrame {
public:
  PanelFrame(int32_t id, int32_t versionId) : version(versionId) { state.OnCreate(id, versionId); }
  int32_t DeviceID() const override { return state.DeviceID(); }
  void SetDeviceState(const TQ417DeviceState& s) override { state.SetDeviceState(s); }
  void GetDeviceState(TQ417DeviceState& s) override { state.GetDeviceState(s); }
  void SelectDevice(const q417::IDeviceFrame* sender) override { state.SelectDevice(sender == this ? &state : nullptr); }
  void OnKeyPress(char16_t& key) override { state.OnKeyPress(key); }

  NullView view;
  q417::TDevicePanelState state{view};
  int32_t version; // as the panel was created with
};

class PanelWindow : public q417::IDeviceFrameHost {
public:
  std::unique_ptr<q417::IDeviceFrame> CreateDeviceFrame(int32_t id, int32_t versionId) override {
    if (failCreate && failCreate(id)) throw std::runtime_error("the panel cannot be created");
    auto frame = std::make_unique<PanelFrame>(id, versionId);
    PanelFrame* created = frame.get();
    created->state.OnSelect = [this, created](q417::TDevicePanelState&) { list.DeviceFrameSelect(created); };
    if (onChange) created->state.OnChange = [this](q417::TDevicePanelState&, int32_t) { onChange(); };
    return frame;
  }
  void SizeWindow(size_t frameCount) override {
    ++sized;
    sizedFor = frameCount;
  }
  void StackFrames(const std::vector<q417::IDeviceFrame*>& topToBottom) override {
    ++stacked;
    stackedIds.clear();
    for (const q417::IDeviceFrame* frame : topToBottom) stackedIds.push_back(frame->DeviceID());
  }

  PanelFrame& At(size_t i) const { return static_cast<PanelFrame&>(list.Frame(i)); }
  std::vector<int32_t> Ids() const {
    std::vector<int32_t> ids;
    for (size_t i = 0; i < list.Count(); ++i) ids.push_back(list.Frame(i).DeviceID());
    return ids;
  }

  std::function<bool(int32_t)> failCreate; // a panel for this id cannot be made
  std::function<void()> onChange;          // every panel's OnChange
  size_t sized = 0, sizedFor = 0, stacked = 0;
  std::vector<int32_t> stackedIds;
  q417::TDeviceFrameList list{*this};
};

// What the list showed before a packet, for the check after it.
struct TListSnapshot {
  struct TPanel {
    int32_t version, delay;
    bool editing;
  };
  std::vector<int32_t> ids;
  std::map<int32_t, TPanel> panels;
  size_t sized, stacked;

  explicit TListSnapshot(const PanelWindow& w) : ids(w.Ids()), sized(w.sized), stacked(w.stacked) {
    for (size_t i = 0; i < w.list.Count(); ++i)
      panels[w.At(i).DeviceID()] = {w.At(i).version, w.At(i).state.Delay(), w.At(i).state.Editing()};
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
inline void CheckListFollowsPacket(const PanelWindow& w, std::span<const uint8_t> packet, const TListSnapshot& before) {
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
    const q417::TDevicePanelState& state = w.At(i).state;
    FUZZ_CHECK(state.Mode() == shown.Q417_Mode);
    FUZZ_CHECK(state.Channel() == (shown.Q417_Mode == 0 ? 0 : shown.Q417_Select));
    FUZZ_CHECK(state.Indicator() == shown.Q417_Indicator);
    const auto old = before.panels.find(ids[i]);
    if (old == before.panels.end()) {
      FUZZ_CHECK(w.At(i).version == first.at(ids[i]).Q417_VersionID);
      FUZZ_CHECK(!state.Selected() && !state.Editing());
    } else {
      FUZZ_CHECK(w.At(i).version == old->second.version);
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
