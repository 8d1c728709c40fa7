#include "WaitingDisplay.h"

#include "Artwork.h"
#include "BufferedPaint.h"
#include "WinForm.h"

#include <stdexcept>

namespace {

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kFrameMs = 50;            // 20 frames a second
constexpr float kDegreesPerFrame = 4.0f; // a turn of the large gear every 4.5 s
constexpr const wchar_t* kFillerClass = L"TQ417Filler";
constexpr const wchar_t* kGearsClass = L"TQ417Gears";

} // namespace

TWaitingDisplay::TWaitingDisplay(HWND parent, const TPanelResources& resources) : fResources(resources) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  win32::RegisterFormClass(instance, kFillerClass, FillerProc);
  win32::RegisterFormClass(instance, kGearsClass, GearsProc);
  ::CreateWindowExW(0, kFillerClass, L"pnlFiller", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, parent, nullptr,
                    instance, this);
  if (!pnlFiller) throw std::runtime_error("the waiting display could not be created");
  ::CreateWindowExW(0, kGearsClass, L"imgGears", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, pnlFiller.Get(), nullptr, instance,
                    this);
  lblWaiting = ::CreateWindowExW(0, L"STATIC", L"Waiting ...", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0,
                                 0, pnlFiller.Get(), nullptr, instance, nullptr);
  ::SetTimer(imgGears.Get(), kAnimationTimer, kFrameMs, nullptr);
}

TWaitingDisplay::~TWaitingDisplay() {
  win32::DestroyFormWindow(imgGears);
  win32::DestroyFormWindow(pnlFiller);
}

void TWaitingDisplay::Show(bool flag) {
  if (flag == fShown) return;
  fShown = flag;
  ::ShowWindow(pnlFiller.Get(), flag ? SW_SHOWNA : SW_HIDE);
  ::ShowWindow(lblWaiting, flag ? SW_SHOWNA : SW_HIDE);
  if (flag) ::SetTimer(imgGears.Get(), kAnimationTimer, kFrameMs, nullptr);
  else ::KillTimer(imgGears.Get(), kAnimationTimer);
}

void TWaitingDisplay::Layout(int width) {
  ::SetWindowPos(pnlFiller.Get(), nullptr, 0, 0, width, Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT gears = fResources.Scale(q417::layout::WaitingGears);
  ::SetWindowPos(imgGears.Get(), nullptr, gears.left, gears.top, gears.right - gears.left, gears.bottom - gears.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT label = fResources.Scale(q417::layout::WaitingLabel);
  ::SetWindowPos(lblWaiting, nullptr, label.left, label.top, label.right - label.left, label.bottom - label.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(lblWaiting, WM_SETFONT, WPARAM(fResources.Normal.Get()), TRUE);
  ::InvalidateRect(pnlFiller.Get(), nullptr, TRUE);
}

LRESULT CALLBACK TWaitingDisplay::FillerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TWaitingDisplay, &TWaitingDisplay::pnlFiller, &TWaitingDisplay::HandleFillerMessage>(
      hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK TWaitingDisplay::GearsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TWaitingDisplay, &TWaitingDisplay::imgGears, &TWaitingDisplay::HandleGearsMessage>(
      hwnd, msg, wParam, lParam);
}

LRESULT TWaitingDisplay::HandleFillerMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = pnlFiller.Get();
  switch (msg) {
  case WM_PAINT: {
    // A flat one-pixel border around the button face.
    const win32::TPaintDC paint(hwnd);
    RECT r;
    ::GetClientRect(hwnd, &r);
    ::FrameRect(paint.Get(), &r, ::GetSysColorBrush(COLOR_BTNSHADOW));
    return 0;
  }
  case WM_CTLCOLORSTATIC: // "Waiting ..." on a transparent background
    ::SetBkMode(HDC(wParam), TRANSPARENT);
    ::SetTextColor(HDC(wParam), ::GetSysColor(COLOR_WINDOWTEXT));
    return LRESULT(::GetSysColorBrush(COLOR_BTNFACE));
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

LRESULT TWaitingDisplay::HandleGearsMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = imgGears.Get();
  switch (msg) {
  case WM_TIMER:
    if (wParam == kAnimationTimer) {
      fAngle = fAngle + kDegreesPerFrame >= 360.0f ? fAngle + kDegreesPerFrame - 360.0f : fAngle + kDegreesPerFrame;
      ::InvalidateRect(hwnd, nullptr, FALSE);
    }
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT:
    win32::PaintBuffered(hwnd, [&](HDC dc, const RECT& client) {
      artwork::DrawGears(dc, client, fAngle, ::GetSysColor(COLOR_BTNFACE));
    });
    return 0;
  case WM_DESTROY:
    ::KillTimer(hwnd, kAnimationTimer);
    return 0;
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}
