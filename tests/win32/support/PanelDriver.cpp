#include "PanelDriver.h"

#include "TestSupport.h"

#include <algorithm>

namespace panel_driver {

namespace layout = q417::layout;

namespace {

// A tile is clicked across its middle near its top edge, away from its lamp, bar or picture.
POINT NearTop(const layout::TDesignRect& r) { return {r.x + r.w / 2, r.y + 4}; }
POINT Middle(const layout::TDesignRect& r) { return {r.x + r.w / 2, r.y + r.h / 2}; }

} // namespace

POINT ChannelTile(int n) { return NearTop(layout::ChannelTile(n - 1)); }
POINT ChannelLamp(int n) { return Middle(layout::ChannelLamp(n - 1)); }
POINT ChannelCaption(int n) { // on the digit's stroke
  const layout::TDesignRect r = layout::ChannelCaption(n - 1);
  return {r.x + 4, r.y + r.h / 2};
}
POINT ModeTile(int m) { return NearTop(layout::ModeTile(m)); }
POINT ModeBar(int m) { return Middle(layout::ModeBar(m)); }
POINT ModePicture(int m) { return Middle(layout::ModePicture(m)); }
POINT IndicatorTile() { return NearTop(layout::IndicatorTile); }
POINT Background() { return {200, layout::HeaderHeight / 2}; } // between the id and the version

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

double Scale(HWND panel) { return double(ClientSize(panel).cy) / layout::PanelHeight; }

void Click(HWND panel, POINT design) {
  const double scale = Scale(panel);
  const LPARAM at = MAKELPARAM(int(design.x * scale + 0.5), int(design.y * scale + 0.5));
  ::PostMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageW(panel, WM_LBUTTONUP, 0, at);
}

HWND DelayEdit(HWND panel) { return ::GetDlgItem(panel, layout::DelayEditId); }
HWND OkButton(HWND panel) { return ::GetDlgItem(panel, layout::OkButtonId); }
HWND CancelButton(HWND panel) { return ::GetDlgItem(panel, layout::CancelButtonId); }

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
  static const UINT message = ::RegisterWindowMessageW(layout::StateQueryMessageName);
  DWORD_PTR answer = 0;
  if (!::SendMessageTimeoutW(panel, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) return false;
  state = layout::DecodeShownState(answer);
  return true;
}

wchar_t DecimalSeparator() {
  wchar_t buffer[8] = {};
  return ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) > 0 ? buffer[0] : L'.';
}

} // namespace panel_driver
