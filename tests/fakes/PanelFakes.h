// Fakes of the control panel's portable interfaces, one set for the native tests, the panel
// list's benchmark and the fuzz targets: a device panel's view that keeps what it is told, a
// device panel made of the real panel state behind that view, a window that holds the real panel
// list and records what the list asks of it, and a device API library that answers from a list
// of results and records its calls.
#pragma once

#include "DeviceFrameList.h"
#include "DevicePanelState.h"
#include "UpdateCycle.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fakes {

class TFakeView : public q417::IDevicePanelView {
public:
  std::string id = "<NONE>", version = "Version : ";
  double field = 0; // the delay field's value in milliseconds, as the operator left it
  int focusReturns = 0;

  void StateChanged() override {}
  void ShowIdentity(const std::string& deviceId, const std::string& versionText) override {
    id = deviceId;
    version = versionText;
  }
  void SetDelayField(double milliseconds) override {
    field = milliseconds;
  }
  double DelayFieldValue() override { return field; }
  void ReturnFocusToOwner() override { ++focusReturns; }
};

class TFakeWindow;

// A device panel as the window makes it: the real panel state behind a fake view, OnCreate done,
// its selection requests bound to the list.
class TFakeFrame final : public q417::TDeviceFrame {
public:
  TFakeFrame(TFakeWindow& window, int32_t deviceId, int32_t versionId);
  ~TFakeFrame();
  // Logged, then the panel's own rule; the list calls it on a TFakeFrame.
  void OnKeyPress(char16_t& key);

  TFakeWindow& window;
  TFakeView view;
  const int32_t versionId; // as the panel was created with
};

class TFakeWindow : public q417::IDeviceFrameHost<TFakeFrame> {
public:
  std::unique_ptr<TFakeFrame> CreateDeviceFrame(int32_t deviceId, int32_t versionId) override {
    if (failOn == deviceId) throw std::runtime_error("the panel cannot be created");
    Log([&] { return "create " + std::to_string(deviceId); });
    auto frame = std::make_unique<TFakeFrame>(*this, deviceId, versionId);
    if (onChange) frame->State().OnChange = [this](q417::TDevicePanelState&, int32_t) { onChange(); };
    return frame;
  }
  void SizeWindow(size_t frameCount) override {
    ++sized;
    sizedFor = frameCount;
    Log([&] { return "size " + std::to_string(frameCount); });
  }
  void StackFrames(const std::vector<TFakeFrame*>& topToBottom) override {
    ++stacked;
    stackedIds.clear();
    for (const TFakeFrame* frame : topToBottom) stackedIds.push_back(frame->DeviceID());
    Log([&] {
      std::string entry = "stack";
      for (const int32_t id : stackedIds) entry += " " + std::to_string(id);
      return entry;
    });
  }

  TFakeFrame& At(size_t i) const { return list.Frame(i); }
  std::vector<int32_t> Ids() const {
    std::vector<int32_t> ids;
    for (size_t i = 0; i < list.Count(); ++i) ids.push_back(list.Frame(i).DeviceID());
    return ids;
  }
  // Builds the entry only while logging, so that a benchmark pays nothing for it.
  template <typename TEntry>
  void Log(TEntry&& entry) {
    if (logging) log.push_back(entry());
  }

  std::optional<int32_t> failOn; // a panel for this id cannot be made
  std::function<void()> onChange; // bound as OnChange of the panels made while it is set
  size_t sized = 0, sizedFor = 0, stacked = 0;
  std::vector<int32_t> stackedIds;
  bool logging = false;
  std::vector<std::string> log; // "create 5", "destroy 3", "size 3", "stack 3 5 9", "key 3"
  q417::TDeviceFrameList<TFakeFrame> list{*this}; // last: its panels log into the members above
};

inline TFakeFrame::TFakeFrame(TFakeWindow& w, int32_t deviceId, int32_t version)
    : TDeviceFrame(view), window(w), versionId(version) {
  State().OnCreate(deviceId, version);
  State().OnSelect = [this](q417::TDevicePanelState&) { window.list.DeviceFrameSelect(this); };
}

inline TFakeFrame::~TFakeFrame() {
  window.Log([&] { return "destroy " + std::to_string(DeviceID()); });
}

inline void TFakeFrame::OnKeyPress(char16_t& key) {
  window.Log([&] { return "key " + std::to_string(DeviceID()); });
  TDeviceFrame::OnKeyPress(key);
}

// One call of the library: 'I'nitialise, 'P'oll, 'T'able or 'C'lose.
struct TFakeCall {
  char kind;
  int32_t ref;
  q417::TBytes table; // the table's bytes as they were at the call
  int32_t result;     // what the call answered (Close: 0)
};

class TFakeLibrary : public q417::IDeviceLibrary {
public:
  int32_t initResult = NV_PENDING;
  int32_t refToGive = 7;
  std::deque<int32_t> results; // for updates, in call order; NV_PENDING once used up
  std::vector<TFakeCall> calls;
  std::function<void(const TFakeCall&)> onCall; // sees each call as it is made

  int32_t Initialise(int32_t* ref) override {
    *ref = refToGive;
    return Record({'I', 0, {}, initResult});
  }
  int32_t Update(int32_t ref, const uint8_t* table) override {
    q417::TBytes copy;
    if (table) copy.assign(table, table + 4 + 17 * size_t(std::max(q417::PacketDeclaredCount({table, 4}), 0)));
    int32_t result = NV_PENDING;
    if (!results.empty()) {
      result = results.front();
      results.pop_front();
    }
    return Record({table ? 'T' : 'P', ref, std::move(copy), result});
  }
  void Close(int32_t* ref) override { Record({'C', *ref, {}, 0}); }

  std::string Kinds() const {
    std::string s;
    for (const auto& c : calls) s += c.kind;
    return s;
  }

private:
  int32_t Record(TFakeCall call) {
    const int32_t result = call.result;
    calls.push_back(std::move(call));
    if (onCall) onCall(calls.back());
    return result;
  }
};

} // namespace fakes
