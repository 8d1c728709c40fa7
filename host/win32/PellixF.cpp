// How the device host ends:
//  - Start-up (Pellix.cpp) fails before this window exists: a command line that is not one
//    library path, a library that does not load or lacks an entry, a meta entry that an
//    exception left unhandled, another host that holds the device type's mutex, a window that
//    cannot be made, or too little memory.
//  - Idle: the idle timer finds no client connected on more consecutive ticks (1 s each) than
//    the idle limit (1, or 60 in debug mode); it stops the listener and destroys the window.
//  - Closed: WM_CLOSE (by hand in debug mode, or sent by anyone) stops the listener and destroys
//    the window.
//  - The message loop ends otherwise (WM_QUIT, or GetMessage failing): the window goes with the
//    form, which stops the listener first.
//  - Something else ends the process: from outside (TerminateProcess, the session's end) or the
//    client library inside a call. Nothing below is done then.
// Every other end is quiet, with exit code 0. Stopping the listener stops each handler within
// 5 s and then waits for its thread, so that no call is inside the client library when it is
// freed after the message loop; the debugger lines are written out last (waited for at most
// 20 s).
#include "PellixF.h"

#include "HostNames.h"
#include "PellixUSBU.h"
#include "WinForm.h"

namespace {

// Design sizes at 96 DPI.
constexpr int kClientWidth = 355;
constexpr int kClientHeight = 117;
constexpr int kFontHeight = 11;
constexpr int kTextHeight = 13;
constexpr int kCaptionRight = 97;
constexpr int kValueLeft = 103;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_APPWINDOW; // small caption, yet its own taskbar button

// The five rows: caption (sized to its text, its right edge at x = 97), design-time value text,
// value id and how a value too long for the window is cut.
struct TRow {
  int top;
  const wchar_t* caption;
  const wchar_t* designValue;
  int valueId;
  DWORD valueStyle;
};
const TRow kRows[5] = {
    {8, L"Client Library", L"Path", TForm1::lblDllPathId, SS_PATHELLIPSIS},
    {27, L"Device Type Name", L"Name", TForm1::lblDeviceTypeNameId, SS_ENDELLIPSIS},
    {46, L"Device Type ID", L"ID", TForm1::lblDeviceTypeIDId, SS_LEFTNOWORDWRAP},
    {65, L"Device Count", L"Count", TForm1::lblDeviceCountId, SS_LEFTNOWORDWRAP},
    {92, L"Client Count", L"0", TForm1::lblClientCountId, SS_LEFTNOWORDWRAP},
};

int TextWidth(HFONT font, const wchar_t* text) {
  const win32::TWindowDC screen(nullptr);
  const win32::TSelection selected(screen.Get(), font);
  SIZE size{};
  ::GetTextExtentPoint32W(screen.Get(), text, int(wcslen(text)), &size);
  return size.cx;
}

} // namespace

std::unique_ptr<TForm1> TForm1::Create(HINSTANCE instance, const THostIdentity& identity,
                                       pellix::IRegistryReader& registry, pellix::IPortProber& prober,
                                       pellix::ISerialLibrary& serial) {
  std::unique_ptr<TForm1> form(new TForm1(instance, identity));
  if (!form->fHandle) return nullptr;
  form->fDiscovery = std::make_unique<pellix::TDeviceDiscovery>(identity.DeviceType, registry, prober, serial,
                                                                  static_cast<pellix::IDiscoveryOwner&>(*form));
  form->FormCreate();
  return form;
}

TForm1::TForm1(HINSTANCE instance, const THostIdentity& identity) : fInstance(instance), fIdentity(identity) {
  win32::RegisterFormClass(instance, ClassName, WindowProc);
  RECT r{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  const std::wstring caption = L"Pellix (" + identity.DeviceTypeName + L")";
  ::CreateWindowExW(kExStyle, ClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                    r.bottom - r.top, nullptr, nullptr, instance, this);
}

TForm1::~TForm1() {
  StopListener(); // before anything the library's calls might still use goes
  win32::DestroyFormWindow(fHandle);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TForm1, &TForm1::fHandle, &TForm1::HandleMessage>(hwnd, msg, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = fHandle.Get();
  if (tmrGarbage.Dispatch(msg, wParam, [this] { tmrGarbageTimer(); })) return 0;
  if (tmrDiscover.Dispatch(msg, wParam, [this] { tmrDiscoverTimer(); })) return 0;
  switch (msg) {
  case WM_CREATE:
    CreateControls();
    return 0;
  case WM_DEVICECHANGE:
    WMDeviceChange(wParam);
    return TRUE;
  case WM_CLOSE:
    // Closed by hand in debug mode: the listener's handlers may be inside the library, which is
    // unloaded once the message loop ends, so they stop first.
    StopListener();
    ::DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY:
    tmrGarbage.Stop();
    tmrDiscover.Stop();
    lblDllPath = lblDeviceTypeName = lblDeviceTypeID = lblDeviceCount = lblClientCount = nullptr;
    ::PostQuitMessage(0);
    return 0;
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
  HWND* values[5] = {&lblDllPath, &lblDeviceTypeName, &lblDeviceTypeID, &lblDeviceCount, &lblClientCount};
  for (int i = 0; i < 5; ++i) {
    const TRow& row = kRows[i];
    // Standard static texts, so that assistive tools read captions and values alike.
    const int captionWidth = TextWidth(fFont.Get(), row.caption) + 1;
    const HWND caption = ::CreateWindowExW(0, L"STATIC", row.caption, WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_NOPREFIX,
                                           scale(kCaptionRight) - captionWidth, scale(row.top), captionWidth,
                                           scale(kTextHeight), hwnd, nullptr, fInstance, nullptr);
    *values[i] = ::CreateWindowExW(0, L"STATIC", row.designValue, WS_CHILD | WS_VISIBLE | SS_NOPREFIX | row.valueStyle,
                                   scale(kValueLeft), scale(row.top), scale(kClientWidth - kValueLeft - 4),
                                   scale(kTextHeight), hwnd, reinterpret_cast<HMENU>(INT_PTR(row.valueId)), fInstance,
                                   nullptr);
    for (const HWND text : {caption, *values[i]}) ::SendMessageW(text, WM_SETFONT, WPARAM(fFont.Get()), FALSE);
  }
  if (dpi != USER_DEFAULT_SCREEN_DPI) {
    RECT r{0, 0, scale(kClientWidth), scale(kClientHeight)};
    ::AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi);
    ::SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TForm1::FormCreate() {
  ::SetWindowTextW(lblDllPath, fIdentity.LibraryPath.c_str());
  ::SetWindowTextW(lblDeviceTypeName, fIdentity.DeviceTypeName.c_str());
  ::SetWindowTextW(lblDeviceTypeID, (L"0x" + pellix::Hex(fIdentity.DeviceType, 8)).c_str());
  tmrGarbage.Attach(Handle());
  tmrDiscover.Attach(Handle());
  tmrGarbage.Start();
  tmrDiscover.Start();
  RegisterUSBNotification(Handle());
  fDiscovery->FirstDiscovery();
  fIdle = std::make_unique<pellix::TIdleShutdown>(fIdentity.DebugMode);
  fPipeConnector = std::make_unique<TPipeConnector>(pellix::PipeName(fIdentity.DeviceTypeName), fIdentity.LibraryPath,
                                                    fDiscovery->refSerial(), fIdentity.Entries);
  fPipeConnector->Initialise(); // a listener that does not listen sees no client: the host idles out
}

void TForm1::StopListener() {
  if (!fPipeConnector) return;
  fPipeConnector->TerminateAndWait();
  fPipeConnector.reset(); // waits for its thread if the stop took longer than its bound
}

void TForm1::tmrGarbageTimer() {
  if (!fPipeConnector) return;
  const int32_t clients = fPipeConnector->ListnerCount();
  ::SetWindowTextW(lblClientCount, std::to_wstring(clients).c_str());
  if (!fIdle->Tick(clients)) return;
  StopListener();
  ::DestroyWindow(fHandle.Get());
}

void TForm1::tmrDiscoverTimer() { fDiscovery->DiscoverTimerTick(); }

void TForm1::WMDeviceChange(WPARAM wParam) { fDiscovery->DeviceChange(uint32_t(wParam & 0xFFFFFFFFu)); }

void TForm1::ShowDeviceCount(size_t count) { ::SetWindowTextW(lblDeviceCount, std::to_wstring(count).c_str()); }

void TForm1::UpdateSerialRefs(const std::vector<int32_t>& refs) {
  if (fPipeConnector) fPipeConnector->UpdateSerialRefs(refs); // the first list goes in with the listener
}
