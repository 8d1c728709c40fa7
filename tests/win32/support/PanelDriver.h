// Drives a running control panel from outside as an operator would: its device panels, clicks
// at the places of tiles, lamps and captions, the delay field and its buttons.
#pragma once

#include "PanelLayout.h"

#include <windows.h>

#include <string>
#include <vector>

namespace panel_driver {

// Points in a device panel's elements, in design pixels within the panel (q417::layout).
POINT ChannelTile(int channel);    // channel 1 to 8, above its lamp
POINT ChannelLamp(int channel);
POINT ChannelCaption(int channel);
POINT ModeTile(int mode);          // mode 0 to 3, above its bar
POINT ModeBar(int mode);
POINT ModePicture(int mode);
POINT IndicatorTile();
POINT Background();                // the header strip: reacts to nothing

// The main window's device panels, top to bottom.
std::vector<HWND> DevicePanels(HWND mainWindow);
HWND DevicePanel(HWND mainWindow, const std::wstring& objectName);
std::wstring ObjectName(HWND panel);
SIZE ClientSize(HWND window);
RECT RectIn(HWND child, HWND parent); // child's window rectangle in parent's client coordinates
// The panel's scale: its height over its design height.
double Scale(HWND panel);

// A click (button down and up) posted at a design place of the panel.
void Click(HWND panel, POINT design);

HWND DelayEdit(HWND panel);
HWND OkButton(HWND panel);
HWND CancelButton(HWND panel);
// Focuses the delay field with a click and types the characters into it.
void TypeIntoDelay(HWND panel, const std::wstring& text);
void PostChars(HWND window, const std::wstring& text);

// What a device panel shows, as its state query answers it.
using TPanelState = q417::layout::TShownState;
// False when the panel does not answer.
bool QueryState(HWND panel, TPanelState& state);

// The user's decimal separator, as the panel reads it.
wchar_t DecimalSeparator();

} // namespace panel_driver
