#include "DevicePanelState.h"

#include "DelayField.h"
#include "Q417Packet.h"

namespace q417 {

void TDevicePanelState::OnCreate(int32_t deviceId, int32_t versionId) {
  fDeviceID = deviceId;
  View.ShowIdentity(std::to_string(deviceId), "Version : " + FormatVersion(versionId));
}

void TDevicePanelState::SetChannel(int32_t channel) {
  fChannel = fMode == 0 ? 0 : channel;
  View.StateChanged();
}

void TDevicePanelState::SetMode(int32_t mode) {
  fMode = mode;
  View.StateChanged();
}

void TDevicePanelState::SetIndicator(int32_t indicator) {
  fIndicator = indicator;
  View.StateChanged();
}

void TDevicePanelState::NotifyChange() {
  if (fIndicator == fXIndicator && fMode == fXMode && fChannel == fXChannel && fDelay == fXDelay) return;
  fXChannel = fChannel;
  fXMode = fMode;
  fXIndicator = fIndicator;
  fXDelay = fDelay;
  if (OnChange) OnChange(*this, fDeviceID);
}

void TDevicePanelState::RequestSelect() {
  if (!fSelected && OnSelect) OnSelect(*this);
}

void TDevicePanelState::SetDeviceState(const TQ417DeviceState& state) {
  if (state.Q417_DeviceID != fDeviceID) return;
  SetMode(state.Q417_State.Q417_Mode);
  SetChannel(state.Q417_State.Q417_Select);
  SetIndicator(state.Q417_State.Q417_Indicator);
  if (!fEditing) {
    fDelay = state.Q417_State.Q417_Delay;
    View.SetDelayField(state.Q417_State.Q417_Delay / 10.0);
  }
}

void TDevicePanelState::GetDeviceState(TQ417DeviceState& state) const {
  state.Q417_DeviceID = fDeviceID;
  state.Q417_State.Q417_Mode = uint8_t(fMode);
  state.Q417_State.Q417_Select = uint8_t(fChannel);
  state.Q417_State.Q417_Indicator = uint8_t(fIndicator);
  state.Q417_State.Q417_Delay = uint16_t(fDelay);
}

void TDevicePanelState::SelectDevice(const TDevicePanelState* sender) {
  if (sender == this) {
    fSelected = true;
  } else {
    fEditing = false;
    fSelected = false;
  }
  View.StateChanged();
}

void TDevicePanelState::OnKeyPress(char16_t& key) {
  if (!fSelected || fEditing) return;
  if (key == u'0') {
    SetChannel(0);
  } else if (key >= u'1' && key <= u'8') {
    const int32_t bit = 1 << (key - u'1');
    fChannel = fChannel == bit ? 0 : bit;
    SetChannel(fChannel);
  } else {
    return;
  }
  key = 0;
  NotifyChange();
}

void TDevicePanelState::shChxClick(int32_t tag) {
  if (fMode == 1) {
    SetChannel(tag == fChannel ? 0 : tag);
    NotifyChange();
  }
  RequestSelect();
}

void TDevicePanelState::OnClickSetMode(int32_t tag) {
  SetMode(tag);
  NotifyChange();
  RequestSelect();
}

void TDevicePanelState::JvShape9Click() {
  SetIndicator(fIndicator == 0 ? 1 : 0);
  NotifyChange();
  RequestSelect();
}

void TDevicePanelState::edDELAYEnter() {
  fEditing = true;
  RequestSelect();
}

void TDevicePanelState::btOKClick() {
  const double entered = View.DelayFieldValue();
  fDelay = DelayTenthsFromMs(entered);
  // An entry outside what a selector carries was clamped: show what is stored instead.
  if (entered < 0 || entered * 10.0 > MaxDelayTenths) View.SetDelayField(fDelay / 10.0);
  fEditing = false;
  View.ReturnFocusToOwner();
  NotifyChange();
}

void TDevicePanelState::btCANCELClick() {
  View.SetDelayField(fDelay / 10.0);
  fEditing = false;
  View.ReturnFocusToOwner();
}

} // namespace q417
