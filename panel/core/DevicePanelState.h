// The device panel's state and rules: what one selector shows and what the operator's clicks,
// digit keys and delay entries do to it. The Win32 panel draws from this state and forwards
// its elements' events here; the owner binds OnChange and OnSelect.
#pragma once

#include "Q417Records.h"

#include <cstdint>
#include <functional>
#include <string>

namespace q417 {

// What the state needs from the panel that shows it.
class IDevicePanelView {
public:
  virtual ~IDevicePanelView() = default;
  // Lamps, bars or the selection bar changed: draw them again from the state.
  virtual void StateChanged() = 0;
  // OnCreate: the id and version texts of the header.
  virtual void ShowIdentity(const std::string& deviceId, const std::string& version) = 0;
  // The delay field takes this value (milliseconds) and shows it.
  virtual void SetDelayField(double milliseconds) = 0;
  // The delay field's current value, in milliseconds.
  virtual double DelayFieldValue() = 0;
  // OK and Cancel leave the keyboard focus with the window that holds the panel.
  virtual void ReturnFocusToOwner() = 0;
};

class TDevicePanelState {
public:
  using TOnDeviceChange = std::function<void(TDevicePanelState& sender, int32_t deviceId)>;
  using TNotifyEvent = std::function<void(TDevicePanelState& sender)>;

  explicit TDevicePanelState(IDevicePanelView& view) : View(view) {}
  TDevicePanelState(const TDevicePanelState&) = delete;
  TDevicePanelState& operator=(const TDevicePanelState&) = delete;

  TOnDeviceChange OnChange;
  TNotifyEvent OnSelect;

  int32_t DeviceID() const { return fDeviceID; }
  bool Selected() const { return fSelected; }
  bool Editing() const { return fEditing; }
  int32_t Channel() const { return fChannel; }
  int32_t Mode() const { return fMode; }
  int32_t Indicator() const { return fIndicator; }
  int32_t Delay() const { return fDelay; }

  // What the elements show.
  bool LampLit(int channel) const { return channel >= 1 && channel <= 8 && fChannel == (1 << (channel - 1)); }
  bool ModeBarLit(int mode) const { return fMode == mode; }
  bool IndicatorLit() const { return fIndicator == 1; }

  // The owner's operations.
  void OnCreate(int32_t deviceId, int32_t versionId);
  void SetDeviceState(const TQ417DeviceState& state);
  void GetDeviceState(TQ417DeviceState& state) const;
  void SelectDevice(const TDevicePanelState* sender);
  // Uses a digit key by setting key to 0; any other key is left as it is.
  void OnKeyPress(char16_t& key);

  // The panel's elements. Tags: channel tiles 1, 2, 4 ... 128; mode tiles 0 to 3.
  void shChxClick(int32_t tag);
  void OnClickSetMode(int32_t tag);
  void JvShape9Click();
  void edDELAYEnter();
  void btOKClick();
  void btCANCELClick();

private:
  void SetChannel(int32_t channel);
  void SetMode(int32_t mode);
  void SetIndicator(int32_t indicator);
  void NotifyChange();
  void RequestSelect();

  IDevicePanelView& View;
  bool fSelected = false;
  bool fEditing = false;
  int32_t fDeviceID = 0;
  int32_t fChannel = 0;
  int32_t fMode = 0;
  int32_t fIndicator = 0;
  int32_t fDelay = 0;
  // As last reported through OnChange: the change check compares with these, not with what
  // the device last reported.
  int32_t fXChannel = 0;
  int32_t fXMode = 0;
  int32_t fXIndicator = 0;
  int32_t fXDelay = 0;
};

} // namespace q417
