#include "PellixF.h"

#include "PellixUSBU.h"
#include "WinForm.h"

int32_t DebugMode = 0;

namespace {

// Design sizes at 96 DPI.
constexpr int kClientWidth = 355;
constexpr int kClientHeight = 117;
constexpr int kFontHeight = 11;
constexpr int kRowTop = 65, kRowHeight = 13, kCaptionLeft = 33, kCaptionWidth = 64, kValueLeft = 103;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_APPWINDOW; // small caption, yet its own taskbar button

} // namespace

std::unique_ptr<TForm1> TForm1::Create(HINSTANCE instance, uint32_t deviceType, const std::wstring& deviceTypeName,
                                       pellix::IRegistryReader& registry, pellix::IPortProber& prober,
                                       pellix::ISerialLibrary& serial) {
  std::unique_ptr<TForm1> form(new TForm1(instance, L"Pellix (" + deviceTypeName + L")"));
  if (!form->fHandle) return nullptr;
  form->fDiscovery = std::make_unique<pellix::TDeviceDiscovery>(deviceType, registry, prober, serial,
                                                                  static_cast<pellix::IDiscoveryOwner&>(*form));
  form->FormCreate();
  return form;
}

TForm1::TForm1(HINSTANCE instance, const std::wstring& caption) : fInstance(instance) {
  win32::RegisterFormClass(instance, ClassName, WindowProc);

  RECT r{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  ::CreateWindowExW(kExStyle, ClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                    r.bottom - r.top, nullptr, nullptr, instance, this);
}

TForm1::~TForm1() {
  if (HWND h = fHandle.Get()) ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TForm1, &TForm1::fHandle, &TForm1::HandleMessage>(hwnd, msg, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = fHandle.Get();
  if (tmrGarbage.IsTick(msg, wParam)) {
    tmrGarbageTimer();
    return 0;
  }
  if (tmrDiscover.IsTick(msg, wParam)) {
    tmrDiscoverTimer();
    return 0;
  }
  switch (msg) {
  case WM_CREATE:
    CreateControls();
    return 0;
  case WM_DEVICECHANGE:
    WMDeviceChange(wParam);
    return TRUE;
  case WM_DESTROY:
    tmrGarbage.Stop();
    tmrDiscover.Stop();
    ::PostQuitMessage(0);
    return 0;
  case WM_NCDESTROY:
    fHandle.Release();
    lblDeviceCount = nullptr;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

void TForm1::CreateControls() {
  const HWND hwnd = fHandle.Get();
  UINT dpi = ::GetDpiForWindow(hwnd);
  if (dpi == 0) dpi = USER_DEFAULT_SCREEN_DPI;
  const auto scale = [dpi](int v) { return ::MulDiv(v, int(dpi), USER_DEFAULT_SCREEN_DPI); };
  fFont.Reset(::CreateFontW(-scale(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma"));
  const HWND label4 = ::CreateWindowExW(0, L"STATIC", L"Device Count", WS_CHILD | WS_VISIBLE | SS_RIGHT, scale(kCaptionLeft),
                                        scale(kRowTop), scale(kCaptionWidth), scale(kRowHeight), hwnd, nullptr, fInstance, nullptr);
  lblDeviceCount = ::CreateWindowExW(0, L"STATIC", L"Count", WS_CHILD | WS_VISIBLE, scale(kValueLeft), scale(kRowTop),
                                     scale(kClientWidth - kValueLeft - 8), scale(kRowHeight), hwnd,
                                     reinterpret_cast<HMENU>(INT_PTR(lblDeviceCountId)), fInstance, nullptr);
  for (const HWND child : {label4, lblDeviceCount}) ::SendMessageW(child, WM_SETFONT, WPARAM(fFont.Get()), FALSE);
  if (dpi != USER_DEFAULT_SCREEN_DPI) {
    RECT r{0, 0, scale(kClientWidth), scale(kClientHeight)};
    ::AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi);
    ::SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TForm1::FormCreate() {
  tmrGarbage.Attach(Handle());
  tmrDiscover.Attach(Handle());
  tmrGarbage.Start();
  tmrDiscover.Start();
  RegisterUSBNotification(Handle());
  fDiscovery->FirstDiscovery();
  fIdle = std::make_unique<pellix::TIdleShutdown>(DebugMode);
}

void TForm1::tmrGarbageTimer() {
  // No client can connect before the pipe listener exists, so every tick is an idle one and the
  // host ends after the idle limit, as when no client ever connects.
  if (fIdle->Tick(0)) ::DestroyWindow(fHandle.Get());
}

void TForm1::tmrDiscoverTimer() { fDiscovery->DiscoverTimerTick(); }

void TForm1::WMDeviceChange(WPARAM wParam) { fDiscovery->DeviceChange(uint32_t(wParam & 0xFFFFFFFFu)); }

void TForm1::ShowDeviceCount(size_t count) {
  ::SetWindowTextW(lblDeviceCount, std::to_wstring(count).c_str());
}

void TForm1::UpdateSerialRefs(const std::vector<int32_t>&) {
  // The pipe listener takes each new list here once it exists; until then no client library
  // call can use the references.
}
