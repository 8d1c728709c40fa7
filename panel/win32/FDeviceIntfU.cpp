#include "FDeviceIntfU.h"

#include "Artwork.h"
#include "BufferedPaint.h"
#include "DelayField.h"
#include "PanelLayout.h"
#include "WideText.h"
#include "WinClipboard.h"
#include "WinForm.h"

#include <commctrl.h>

#include <stdexcept>

namespace {

// The clipboard's text, read no further than its block even when another program left out the
// terminating NUL; empty when there is none or the clipboard is held elsewhere.
std::wstring ClipboardText(HWND owner) {
  const win32::TClipboard clipboard(owner);
  if (!clipboard) return {};
  const win32::TGlobalLock<const wchar_t> text(::GetClipboardData(CF_UNICODETEXT));
  if (!text.Get()) return {};
  return std::wstring(text.Get(), ::wcsnlen(text.Get(), text.Count()));
}

// Elements that react to clicks: channel tiles 0..7, mode tiles 8..11, the indicator tile 12.
constexpr int kChannels = 0, kModes = 8, kIndicator = 12, kNoElement = -1;

const COLORREF kTileText = RGB(0, 0, 0);

const wchar_t* const kDigits[8] = {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8"};

using win32::ToU16;
using win32::ToWide;

std::wstring WindowText(HWND hwnd) {
  std::wstring text(size_t(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(size_t(::GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

} // namespace

using namespace q417::layout;

// ---- the panel ---------------------------------------------------------------------------

TFDeviceIntf::TFDeviceIntf(HWND owner, const std::string& name, const TPanelResources& resources)
    : TDeviceFrame(static_cast<q417::IDevicePanelView&>(*this)), fResources(resources) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  win32::RegisterFormClass(instance, ClassName, WindowProc);
  const std::wstring wideName = win32::Widen(name);
  ::CreateWindowExW(WS_EX_CONTROLPARENT, ClassName, wideName.c_str(), WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0,
                    0, 0, 0, owner, nullptr, instance, this);
  const HWND hwnd = fHandle.Get();
  if (!hwnd) throw std::runtime_error("the device panel " + name + " could not be created");
  try {
    MakeControls(hwnd, instance, name);
  } catch (...) {
    // The window and the edit's subclass point at this object, which is not made after all.
    DestroyControlsAndWindow();
    throw;
  }
  ::ShowWindow(hwnd, SW_SHOWNA);
}

void TFDeviceIntf::MakeControls(HWND hwnd, HINSTANCE instance, const std::string& name) {
  // Reached with the mouse only: no WS_TABSTOP.
  gbDELAY = ::CreateWindowExW(0, WC_BUTTONW, L"DELAY (ms)", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 0, 0, 0, hwnd,
                              HMENU(INT_PTR(DelayGroupId)), instance, nullptr);
  edDELAY = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_EDITW, L"0", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_RIGHT, 0, 0,
                              0, 0, hwnd, HMENU(INT_PTR(DelayEditId)), instance, nullptr);
  btOK = ::CreateWindowExW(0, WC_BUTTONW, L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_ICON, 0, 0, 0, 0, hwnd,
                           HMENU(INT_PTR(OkButtonId)), instance, nullptr);
  btCANCEL = ::CreateWindowExW(0, WC_BUTTONW, L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_ICON, 0, 0, 0, 0, hwnd,
                               HMENU(INT_PTR(CancelButtonId)), instance, nullptr);
  if (!gbDELAY || !edDELAY || !btOK || !btCANCEL)
    throw std::runtime_error("the delay field of " + name + " could not be created");
  // The group box lies under the controls it frames.
  ::SetWindowPos(gbDELAY, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::SetWindowSubclass(edDELAY, DelayEditProc, 1, reinterpret_cast<DWORD_PTR>(this));
  ::SetWindowSubclass(gbDELAY, GroupProc, 1, 0);
  ApplyResources();
}

TFDeviceIntf::~TFDeviceIntf() { DestroyControlsAndWindow(); }

void TFDeviceIntf::DestroyControlsAndWindow() noexcept {
  if (fHandle) {
    // Either may not be subclassed yet; removing then does nothing.
    ::RemoveWindowSubclass(edDELAY, DelayEditProc, 1);
    ::RemoveWindowSubclass(gbDELAY, GroupProc, 1);
  }
  win32::DestroyFormWindow(fHandle);
}

void TFDeviceIntf::OnCreate(int32_t deviceId, int32_t versionId, const TGlyphList& images) {
  State().OnCreate(deviceId, versionId);
  fImages = &images;
  ::SendMessageW(btOK, BM_SETIMAGE, IMAGE_ICON, LPARAM(images.Glyphs[0].Get()));
  ::SendMessageW(btCANCEL, BM_SETIMAGE, IMAGE_ICON, LPARAM(images.Glyphs[1].Get()));
}

void TFDeviceIntf::Place(int top, int width) {
  ::SetWindowPos(fHandle.Get(), nullptr, 0, top, width, Height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFDeviceIntf::ApplyResources() {
  auto place = [&](HWND child, const TDesignRect& d) {
    const RECT r = fResources.Scale(d);
    ::SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(child, WM_SETFONT, WPARAM(fResources.Normal.Get()), FALSE);
  };
  place(gbDELAY, DelayGroup);
  place(edDELAY, DelayEdit);
  place(btOK, OkButton);
  place(btCANCEL, CancelButton);
  if (fImages) {
    ::SendMessageW(btOK, BM_SETIMAGE, IMAGE_ICON, LPARAM(fImages->Glyphs[0].Get()));
    ::SendMessageW(btCANCEL, BM_SETIMAGE, IMAGE_ICON, LPARAM(fImages->Glyphs[1].Get()));
  }
  // The number format may have changed with the resources: show the value in the new form.
  if (!State().Editing()) SetDelayField(fFieldValue);
  ::InvalidateRect(fHandle.Get(), nullptr, TRUE);
}

// ---- view of the state -------------------------------------------------------------------

uint32_t TFDeviceIntf::LitMask() const {
  uint32_t mask = 0;
  for (int n = 1; n <= 8; ++n) mask |= uint32_t(State().LampLit(n)) << (n - 1);
  for (int m = 0; m <= 3; ++m) mask |= uint32_t(State().ModeBarLit(m)) << (8 + m);
  mask |= uint32_t(State().IndicatorLit()) << 12;
  mask |= uint32_t(State().Selected()) << 13;
  return mask;
}

void TFDeviceIntf::StateChanged() {
  // Polls bring the same state again and again: draw only what changed.
  const uint32_t mask = LitMask();
  if (mask == fPaintedMask) return;
  fPaintedMask = mask;
  ::InvalidateRect(fHandle.Get(), nullptr, FALSE);
}

void TFDeviceIntf::ShowIdentity(const std::string& deviceId, const std::string& version) {
  fDeviceIdText = win32::Widen(deviceId);
  fVersionText = win32::Widen(version);
  ::InvalidateRect(fHandle.Get(), nullptr, FALSE);
}

void TFDeviceIntf::SetDelayField(double milliseconds) {
  fFieldValue = milliseconds;
  const std::wstring text = ToWide(q417::FormatDelayMs(milliseconds, fResources.NumberFormat));
  if (WindowText(edDELAY) != text) ::SetWindowTextW(edDELAY, text.c_str());
  fRestoreText = text;
}

void TFDeviceIntf::ReturnFocusToOwner() { ::SetFocus(::GetParent(fHandle.Get())); }

void TFDeviceIntf::DelayFocusLost() {
  fFieldValue = q417::ParseDelayMs(ToU16(WindowText(edDELAY)), fResources.NumberFormat);
  const std::wstring text = ToWide(q417::FormatDelayMs(fFieldValue, fResources.NumberFormat));
  ::SetWindowTextW(edDELAY, text.c_str());
  fRestoreText = text;
}

// ---- drawing and clicks ------------------------------------------------------------------

void TFDeviceIntf::Paint(HDC dc, const RECT& client) {
  const float scale = float(fResources.Dpi) / USER_DEFAULT_SCREEN_DPI;

  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  RECT header{0, 0, client.right, fResources.Scale(HeaderHeight)};
  ::FillRect(dc, &header, ::GetSysColorBrush(COLOR_GRADIENTACTIVECAPTION));

  artwork::DrawBar(dc, fResources.Scale(SelectBar), State().Selected(), scale);
  for (int i = 0; i < 8; ++i) {
    artwork::DrawTile(dc, fResources.Scale(ChannelTile(i)), scale);
    artwork::DrawLamp(dc, fResources.Scale(ChannelLamp(i)), State().LampLit(i + 1), scale);
  }
  const artwork::TPicture pictures[4] = {artwork::TPicture::Off, artwork::TPicture::Mode1, artwork::TPicture::Mode2,
                                         artwork::TPicture::Mode3};
  for (int m = 0; m < 4; ++m) {
    artwork::DrawTile(dc, fResources.Scale(ModeTile(m)), scale);
    artwork::DrawBar(dc, fResources.Scale(ModeBar(m)), State().ModeBarLit(m), scale);
    artwork::DrawPicture(dc, fResources.Scale(ModePicture(m)), pictures[m]);
  }
  artwork::DrawTile(dc, fResources.Scale(IndicatorTile), scale);
  artwork::DrawBar(dc, fResources.Scale(IndicatorBar), State().IndicatorLit(), scale);
  artwork::DrawPicture(dc, fResources.Scale(IndicatorPicture), artwork::TPicture::Indicator);

  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  win32::TSelection font(dc, fResources.Bold.Get());
  RECT r = fResources.Scale(DeviceIdLabel);
  ::DrawTextW(dc, L"Device ID : ", -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
  r = fResources.Scale(DeviceIdText);
  ::DrawTextW(dc, fDeviceIdText.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
  font.Select(fResources.Normal.Get());
  r = fResources.Scale(VersionText);
  ::DrawTextW(dc, fVersionText.c_str(), -1, &r, DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);

  font.Select(fResources.CaptionBold.Get());
  ::SetTextColor(dc, kTileText);
  for (int i = 0; i < 8; ++i) {
    r = fResources.Scale(ChannelCaption(i));
    ::DrawTextW(dc, kDigits[i], 1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
  }
}

int TFDeviceIntf::HitTest(POINT p) const {
  auto inside = [&](const TDesignRect& d) {
    const RECT r = fResources.Scale(d);
    return ::PtInRect(&r, p) != FALSE;
  };
  for (int i = 0; i < 8; ++i)
    if (inside(ChannelTile(i)) || inside(ChannelLamp(i)) || inside(ChannelCaption(i))) return kChannels + i;
  for (int m = 0; m < 4; ++m)
    if (inside(ModeTile(m)) || inside(ModeBar(m)) || inside(ModePicture(m))) return kModes + m;
  if (inside(IndicatorTile) || inside(IndicatorBar) || inside(IndicatorPicture)) return kIndicator;
  return kNoElement;
}

void TFDeviceIntf::Click(int element) {
  if (element >= kChannels && element < kModes) State().shChxClick(int32_t(1) << (element - kChannels));
  else if (element >= kModes && element < kIndicator) State().OnClickSetMode(element - kModes);
  else if (element == kIndicator) State().JvShape9Click();
}

// ---- messages ----------------------------------------------------------------------------

UINT TFDeviceIntf::StateQueryMessage() noexcept {
  static const UINT message = ::RegisterWindowMessageW(StateQueryMessageName);
  return message;
}

LRESULT CALLBACK TFDeviceIntf::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TFDeviceIntf, &TFDeviceIntf::fHandle, &TFDeviceIntf::HandleMessage>(hwnd, msg, wParam,
                                                                                                   lParam);
}

LRESULT TFDeviceIntf::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = fHandle.Get();
  if (msg == StateQueryMessage() && msg != 0) {
    const q417::TDevicePanelState& s = State();
    return LRESULT(EncodeShownState({s.Mode(), s.Channel(), s.Indicator(), s.Delay(), s.Selected(), s.Editing()}));
  }
  switch (msg) {
  case WM_ERASEBKGND:
    return 1; // painted whole, double-buffered
  case WM_PAINT:
    win32::PaintBuffered(hwnd, [&](HDC dc, const RECT& client) { Paint(dc, client); });
    return 0;
  case WM_PRINTCLIENT: { // themed children (the group box) draw the panel behind them this way
    RECT client;
    ::GetClientRect(hwnd, &client);
    Paint(HDC(wParam), client);
    return 0;
  }
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    // The group box and the buttons sit on the panel's face.
    ::SetBkColor(HDC(wParam), ::GetSysColor(COLOR_BTNFACE));
    return LRESULT(::GetSysColorBrush(COLOR_BTNFACE));
  case WM_LBUTTONDOWN:
  case WM_LBUTTONDBLCLK: {
    fPressed = HitTest(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))});
    if (fPressed != kNoElement) ::SetCapture(hwnd);
    return 0;
  }
  case WM_LBUTTONUP: {
    const int pressed = fPressed;
    fPressed = kNoElement;
    if (::GetCapture() == hwnd) ::ReleaseCapture();
    if (pressed != kNoElement && HitTest(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}) == pressed) Click(pressed);
    return 0;
  }
  case WM_CAPTURECHANGED:
    fPressed = kNoElement;
    return 0;
  case WM_COMMAND: {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == DelayEditId && code == EN_SETFOCUS) State().edDELAYEnter();
    else if (id == DelayEditId && code == EN_KILLFOCUS) DelayFocusLost();
    else if (id == OkButtonId && code == BN_CLICKED) State().btOKClick();
    else if (id == CancelButtonId && code == BN_CLICKED) State().btCANCELClick();
    return 0;
  }
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

LRESULT CALLBACK TFDeviceIntf::GroupProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) noexcept {
  // A group box paints only its frame and title; the face inside is filled here first, so that
  // nothing of what lay there before shows through.
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_PAINT) {
    const win32::TPaintDC paint(hwnd);
    RECT r;
    ::GetClientRect(hwnd, &r);
    ::FillRect(paint.Get(), &r, ::GetSysColorBrush(COLOR_BTNFACE));
    ::DefSubclassProc(hwnd, WM_PRINTCLIENT, WPARAM(paint.Get()), PRF_CLIENT);
    return 0;
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK TFDeviceIntf::DelayEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR self) noexcept {
  try {
    bool handled = false;
    const LRESULT result = reinterpret_cast<TFDeviceIntf*>(self)->HandleDelayEdit(msg, wParam, lParam, handled);
    if (handled) return result;
  } catch (...) {
    return 0;
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT TFDeviceIntf::HandleDelayEdit(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  switch (msg) {
  case WM_KEYDOWN:
    if (wParam == VK_DECIMAL) fDecimalKey = true;
    return 0;
  case WM_CHAR: {
    handled = true;
    wchar_t ch = wchar_t(wParam);
    if (ch == VK_ESCAPE) {
      ::SetWindowTextW(edDELAY, fRestoreText.c_str());
      ::SendMessageW(edDELAY, EM_SETSEL, 0, -1);
      return 0;
    }
    if (ch == L'\r' || ch == L'\n') return 0; // Enter means nothing here
    if (fDecimalKey) {
      fDecimalKey = false;
      if (!fResources.NumberFormat.DecimalSeparator.empty()) ch = wchar_t(fResources.NumberFormat.DecimalSeparator[0]);
    }
    DWORD start = 0, end = 0;
    ::SendMessageW(edDELAY, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    if (!q417::AcceptDelayChar(ToU16(WindowText(edDELAY)), start, end, char16_t(ch), fResources.NumberFormat)) return 0;
    return ::DefSubclassProc(edDELAY, msg, WPARAM(ch), lParam);
  }
  case WM_PASTE: {
    handled = true;
    const std::wstring pasted = ClipboardText(edDELAY);
    DWORD start = 0, end = 0;
    ::SendMessageW(edDELAY, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    size_t caret = 0;
    const std::u16string result =
        q417::PasteIntoDelay(ToU16(WindowText(edDELAY)), start, end, ToU16(pasted), fResources.NumberFormat, caret);
    ::SetWindowTextW(edDELAY, ToWide(result).c_str());
    ::SendMessageW(edDELAY, EM_SETSEL, caret, caret);
    return 0;
  }
  case WM_NCDESTROY:
    ::RemoveWindowSubclass(edDELAY, DelayEditProc, 1);
    return 0;
  default:
    return 0;
  }
}
