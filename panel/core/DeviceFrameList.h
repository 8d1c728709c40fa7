// The main window's list of device panels: bringing it in line with each update packet,
// ordering it by device id, the window's size rule, selection and key fan-out. The Win32 window
// creates and places the panels; this list decides which exist and in what order.
#pragma once

#include "DevicePanelState.h"
#include "Q417Packet.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace q417 {

// One device panel as the list sees it.
class IDeviceFrame {
public:
  virtual ~IDeviceFrame() = default;
  virtual int32_t DeviceID() const = 0;
  virtual void SetDeviceState(const TQ417DeviceState& state) = 0;
  virtual void GetDeviceState(TQ417DeviceState& state) = 0;
  virtual void SelectDevice(const IDeviceFrame* sender) = 0;
  virtual void OnKeyPress(char16_t& key) = 0;
};

// A device panel's state with the list's calls forwarded to it: the base of every panel, the
// program's and the tests'. The view is only kept here, so it may be a part of the derived panel.
class TDeviceFrame : public IDeviceFrame {
public:
  TDevicePanelState& State() noexcept { return fState; }
  const TDevicePanelState& State() const noexcept { return fState; }

  int32_t DeviceID() const override { return fState.DeviceID(); }
  void SetDeviceState(const TQ417DeviceState& state) override { fState.SetDeviceState(state); }
  void GetDeviceState(TQ417DeviceState& state) override { fState.GetDeviceState(state); }
  void SelectDevice(const IDeviceFrame* sender) override { fState.SelectDevice(sender == this ? &fState : nullptr); }
  void OnKeyPress(char16_t& key) override { fState.OnKeyPress(key); }

protected:
  explicit TDeviceFrame(IDevicePanelView& view) : fState(view) {}

private:
  TDevicePanelState fState;
};

// The window that holds the panels.
class IDeviceFrameHost {
public:
  virtual ~IDeviceFrameHost() = default;
  // A new panel for the device, named, bound to the window's events, placed and shown, with
  // OnCreate called. Throws when the panel cannot be made.
  virtual std::unique_ptr<IDeviceFrame> CreateDeviceFrame(int32_t deviceId, int32_t versionId) = 0;
  // Fits the window to this many panels (the waiting display when there are none).
  virtual void SizeWindow(size_t frameCount) = 0;
  // Stacks the panels from the top of the window down in this order.
  virtual void StackFrames(const std::vector<IDeviceFrame*>& topToBottom) = 0;
};

// Orders panels by device id.
struct TCompDevices {
  int32_t Compare(const IDeviceFrame& left, const IDeviceFrame& right) const {
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

class TDeviceFrameList {
public:
  explicit TDeviceFrameList(IDeviceFrameHost& host) : Host(host) {}

  // Removes panels of devices the packet no longer lists, updates the others, creates new ones;
  // when the set changed, sizes the window and stacks the panels by ascending id. An error while
  // creating a panel stops the packet there (panels handled so far keep their state).
  void ApplyPacket(std::span<const uint8_t> packet);
  // Makes sender the selected panel; every other panel leaves selection and editing.
  void DeviceFrameSelect(const IDeviceFrame* sender);
  // Offers a typed character to the panels in order until one uses it.
  void FormKeyPress(char16_t& key);

  size_t Count() const { return fDeviceFrames.size(); }
  IDeviceFrame& Frame(size_t index) const { return *fDeviceFrames[index]; }
  IDeviceFrame* FindDeviceFrame(int32_t deviceId) const;
  void Clear() { fDeviceFrames.clear(); }

private:
  void SortDeviceFrames();

  IDeviceFrameHost& Host;
  std::vector<std::unique_ptr<IDeviceFrame>> fDeviceFrames; // owns the panels
};

} // namespace q417
