#include "PanelDriver.h"

#include "TestSupport.h"

#include <algorithm>

namespace panel_driver {

POINT ChannelTile(int n) { return {29 + 52 * (n - 1) + 23, 25 + 7 + 4}; }
POINT ChannelLamp(int n) { return {39 + 52 * (n - 1) + 12, 25 + 40 + 12}; }
POINT ChannelCaption(int n) { return {46 + 52 * (n - 1) + 4, 25 + 13 + 9}; }
POINT ModeTile(int m) { return {29 + 52 * m + 23, 25 + 79 + 4}; }
POINT ModeBar(int m) { return {33 + 52 * m + 19, 25 + 88 + 5}; }
POINT ModePicture(int m) { return {32 + 52 * m + 20, 25 + 101 + 20}; }
POINT IndicatorTile() { return {393 + 23, 25 + 79 + 4}; }
POINT Background() { return {200, 12}; }

std::wstring ObjectName(HWND panel) { return testing_support::WindowText(panel); }

std::vector<HWND> DevicePanels(HWND mainWindow) {
  std::vector<HWND> panels;
  for (HWND child = ::GetWindow(mainWindow, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    ::GetClassNameW(child, name, 64);
    if (std::wstring(name) == L"TFDeviceIntf" && ::IsWindowVisible(child)) panels.push_back(child);
  }
  std::sort(panels.begin(), panels.end(), [&](HWND a, HWND b) { return RectIn(a, mainWindow).top < RectIn(b, mainWindow).top; });
  return panels;
}

HWND DevicePanel(HWND mainWindow, const std::wstring& objectName) {
  for (HWND panel : DevicePanels(mainWindow))
    if (ObjectName(panel) == objectName) return panel;
  return nullptr;
}

SIZE ClientSize(HWND window) {
  RECT r{};
  ::GetClientRect(window, &r);
  return {r.right, r.bottom};
}

RECT RectIn(HWND child, HWND parent) {
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

double Scale(HWND panel) { return double(ClientSize(panel).cy) / 182.0; }

void Click(HWND panel, POINT design) {
  const double scale = Scale(panel);
  const LPARAM at = MAKELPARAM(int(design.x * scale + 0.5), int(design.y * scale + 0.5));
  ::PostMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageW(panel, WM_LBUTTONUP, 0, at);
}

HWND DelayEdit(HWND panel) { return ::GetDlgItem(panel, 101); }
HWND OkButton(HWND panel) { return ::GetDlgItem(panel, 102); }
HWND CancelButton(HWND panel) { return ::GetDlgItem(panel, 103); }

void PostChars(HWND window, const std::wstring& text) {
  for (wchar_t c : text) ::PostMessageW(window, WM_CHAR, c, 1);
}

void TypeIntoDelay(HWND panel, const std::wstring& text) {
  const HWND edit = DelayEdit(panel);
  ::PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  ::PostMessageW(edit, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  ::PostMessageW(edit, EM_SETSEL, 0, -1); // replace what it shows
  PostChars(edit, text);
}

bool QueryState(HWND panel, TPanelState& state) {
  static const UINT message = ::RegisterWindowMessageW(L"Q417PanelState");
  DWORD_PTR answer = 0;
  if (!::SendMessageTimeoutW(panel, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) return false;
  const uint64_t v = answer;
  state.Mode = int(v & 0xFF);
  state.Select = int((v >> 8) & 0xFF);
  state.Indicator = int((v >> 16) & 0xFF);
  state.Delay = int((v >> 24) & 0xFFFF);
  state.Selected = (v >> 40) & 1;
  state.Editing = (v >> 41) & 1;
  return true;
}

wchar_t DecimalSeparator() {
  wchar_t buffer[8] = {};
  return ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) > 0 ? buffer[0] : L'.';
}

} // namespace panel_driver
