#include "WaitingDisplay.h"

#include "Artwork.h"
#include "BufferedPaint.h"

#include <stdexcept>

namespace {

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kFrameMs = 50;            // 20 frames a second
constexpr float kDegreesPerFrame = 4.0f; // a turn of the large gear every 4.5 s
constexpr const wchar_t* kFillerClass = L"TQ417Filler";
constexpr const wchar_t* kGearsClass = L"TQ417Gears";

void RegisterOnce(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = name;
  ::RegisterClassExW(&wc);
}

} // namespace

TWaitingDisplay::TWaitingDisplay(HWND parent, const TPanelResources& resources) : fResources(resources) {
  RegisterOnce(kFillerClass, FillerProc);
  RegisterOnce(kGearsClass, GearsProc);
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  pnlFiller = ::CreateWindowExW(0, kFillerClass, L"pnlFiller", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                parent, nullptr, instance, nullptr);
  if (!pnlFiller) throw std::runtime_error("the waiting display could not be created");
  imgGears = ::CreateWindowExW(0, kGearsClass, L"imgGears", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, pnlFiller, nullptr,
                               instance, nullptr);
  lblWaiting = ::CreateWindowExW(0, L"STATIC", L"Waiting ...", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0,
                                 0, pnlFiller, nullptr, instance, nullptr);
  ::SetWindowLongPtrW(imgGears, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetTimer(imgGears, kAnimationTimer, kFrameMs, nullptr);
}

void TWaitingDisplay::Show(bool flag) {
  if (flag == fShown) return;
  fShown = flag;
  ::ShowWindow(pnlFiller, flag ? SW_SHOWNA : SW_HIDE);
  ::ShowWindow(lblWaiting, flag ? SW_SHOWNA : SW_HIDE);
  if (flag) ::SetTimer(imgGears, kAnimationTimer, kFrameMs, nullptr);
  else ::KillTimer(imgGears, kAnimationTimer);
}

void TWaitingDisplay::Layout(int width) {
  ::SetWindowPos(pnlFiller, nullptr, 0, 0, width, Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT gears = fResources.Scale(168, 48, 102, 102);
  ::SetWindowPos(imgGears, nullptr, gears.left, gears.top, gears.right - gears.left, gears.bottom - gears.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT label = fResources.Scale(192, 156, 60, 14);
  ::SetWindowPos(lblWaiting, nullptr, label.left, label.top, label.right - label.left, label.bottom - label.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(lblWaiting, WM_SETFONT, WPARAM(fResources.Normal.Get()), TRUE);
  ::InvalidateRect(pnlFiller, nullptr, TRUE);
}

LRESULT CALLBACK TWaitingDisplay::FillerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  switch (msg) {
  case WM_PAINT: {
    // A flat one-pixel border around the button face.
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT r;
    ::GetClientRect(hwnd, &r);
    ::FrameRect(dc, &r, ::GetSysColorBrush(COLOR_BTNSHADOW));
    ::EndPaint(hwnd, &ps);
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

LRESULT CALLBACK TWaitingDisplay::GearsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  auto* self = reinterpret_cast<TWaitingDisplay*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
  case WM_TIMER:
    if (self && wParam == kAnimationTimer) {
      self->fAngle = self->fAngle + kDegreesPerFrame >= 360.0f ? self->fAngle + kDegreesPerFrame - 360.0f
                                                                 : self->fAngle + kDegreesPerFrame;
      ::InvalidateRect(hwnd, nullptr, FALSE);
    }
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT:
    win32::PaintBuffered(hwnd, [&](HDC dc, const RECT& client) {
      artwork::DrawGears(dc, client, self ? self->fAngle : 0.0f, ::GetSysColor(COLOR_BTNFACE));
    });
    return 0;
  case WM_DESTROY:
    ::KillTimer(hwnd, kAnimationTimer);
    return 0;
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}
