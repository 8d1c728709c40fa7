// The main window's list of device panels: bringing it in line with each update packet,
// ordering it by device id, the window's size rule, selection and key fan-out. The Win32 window
// creates and places the panels; this list decides which exist and in what order.
#pragma once

#include "DevicePanelState.h"
#include "Q417Packet.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace q417 {

// One device panel as the list sees it: its state, with the list's calls forwarded to it. The
// base of every panel, the program's and the tests'. The view is only kept here, so it may be a
// part of the derived panel.
class TDeviceFrame {
public:
  TDeviceFrame(const TDeviceFrame&) = delete;
  TDeviceFrame& operator=(const TDeviceFrame&) = delete;

  TDevicePanelState& State() noexcept { return fState; }
  const TDevicePanelState& State() const noexcept { return fState; }

  int32_t DeviceID() const { return fState.DeviceID(); }
  void SetDeviceState(const TQ417DeviceState& state) { fState.SetDeviceState(state); }
  void GetDeviceState(TQ417DeviceState& state) const { fState.GetDeviceState(state); }
  void SelectDevice(const TDeviceFrame* sender) { fState.SelectDevice(sender == this ? &fState : nullptr); }
  void OnKeyPress(char16_t& key) { fState.OnKeyPress(key); }

protected:
  explicit TDeviceFrame(IDevicePanelView& view) : fState(view) {}
  ~TDeviceFrame() = default; // owned as the derived panel

private:
  TDevicePanelState fState;
};

// The window that holds the panels, each a TFrame of its own making.
template <typename TFrame>
class IDeviceFrameHost {
public:
  virtual ~IDeviceFrameHost() = default;
  // A new panel for the device, named, bound to the window's events, placed and shown, with
  // OnCreate called. Throws when the panel cannot be made.
  virtual std::unique_ptr<TFrame> CreateDeviceFrame(int32_t deviceId, int32_t versionId) = 0;
  // Fits the window to this many panels (the waiting display when there are none).
  virtual void SizeWindow(size_t frameCount) = 0;
  // Stacks the panels from the top of the window down in this order.
  virtual void StackFrames(const std::vector<TFrame*>& topToBottom) = 0;
};

// Orders panels by device id.
struct TCompDevices {
  int32_t Compare(const TDeviceFrame& left, const TDeviceFrame& right) const {
    return left.DeviceID() < right.DeviceID() ? -1 : left.DeviceID() > right.DeviceID() ? 1 : 0;
  }
};

// The object name of a device's panel: "FDeviceFrame" and the id ("FDeviceFrame7"). An object
// name is an identifier, so a negative id is written with an underscore for the minus sign:
// id -7 gives "FDeviceFrame_7".
std::string DeviceFrameName(int32_t deviceId);

// The client area for a number of panels: the panels' height (or the waiting display's when
// there is none) and the status line below them.
int ClientHeightFor(size_t frameCount, int frameHeight, int fillerHeight, int statusHeight);

// The panels are of the window's own type (a TDeviceFrame), so that the window reaches what it
// made, to place it or hand it new resources, without casting.
template <typename TFrame>
class TDeviceFrameList {
  static_assert(std::is_base_of_v<TDeviceFrame, TFrame>, "a device panel is a TDeviceFrame");

public:
  explicit TDeviceFrameList(IDeviceFrameHost<TFrame>& host) : Host(host) {}

  // Removes panels of devices the packet no longer lists, updates the others, creates new ones;
  // when the set changed, sizes the window and stacks the panels by ascending id. An error while
  // creating a panel stops the packet there (panels handled so far keep their state).
  void ApplyPacket(std::span<const uint8_t> packet);
  // Makes sender the selected panel; every other panel leaves selection and editing.
  void DeviceFrameSelect(const TDeviceFrame* sender) {
    for (const auto& frame : fDeviceFrames) frame->SelectDevice(sender);
  }
  // Offers a typed character to the panels in order until one uses it.
  void FormKeyPress(char16_t& key) {
    for (const auto& frame : fDeviceFrames) {
      frame->OnKeyPress(key);
      if (key == 0) break;
    }
  }

  size_t Count() const { return fDeviceFrames.size(); }
  TFrame& Frame(size_t index) const { return *fDeviceFrames[index]; }
  TFrame* FindDeviceFrame(int32_t deviceId) const {
    for (const auto& frame : fDeviceFrames)
      if (frame->DeviceID() == deviceId) return frame.get();
    return nullptr;
  }
  // The panels in list order, which is top to bottom once a packet has been applied.
  std::vector<TFrame*> Frames() const {
    std::vector<TFrame*> frames;
    for (const auto& frame : fDeviceFrames) frames.push_back(frame.get());
    return frames;
  }
  void Clear() { fDeviceFrames.clear(); }

private:
  void SortDeviceFrames() {
    const TCompDevices comparer;
    std::stable_sort(fDeviceFrames.begin(), fDeviceFrames.end(),
                     [&](const auto& a, const auto& b) { return comparer.Compare(*a, *b) < 0; });
  }

  IDeviceFrameHost<TFrame>& Host;
  std::vector<std::unique_ptr<TFrame>> fDeviceFrames; // owns the panels
};

template <typename TFrame>
void TDeviceFrameList<TFrame>::ApplyPacket(std::span<const uint8_t> packet) {
  bool changed = false;
  for (size_t i = fDeviceFrames.size(); i-- > 0;) {
    if (!PacketContainsId(packet, fDeviceFrames[i]->DeviceID())) {
      fDeviceFrames.erase(fDeviceFrames.begin() + std::ptrdiff_t(i));
      changed = true;
    }
  }
  const int32_t n = PacketRecordCount(packet);
  for (int32_t k = 0; k < n; ++k) {
    const TQ417DeviceState record = PacketRecord(packet, k);
    if (TFrame* frame = FindDeviceFrame(record.Q417_DeviceID)) {
      frame->SetDeviceState(record);
      continue;
    }
    fDeviceFrames.push_back(Host.CreateDeviceFrame(record.Q417_DeviceID, record.Q417_VersionID));
    fDeviceFrames.back()->SetDeviceState(record);
    changed = true;
  }
  if (!changed) return;
  Host.SizeWindow(fDeviceFrames.size());
  if (fDeviceFrames.size() > 1) SortDeviceFrames();
  Host.StackFrames(Frames());
}

} // namespace q417
