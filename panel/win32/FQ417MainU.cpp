#include "FQ417MainU.h"

#include "ReadableMemory.h"
#include "WideText.h"
#include "WinForm.h"

#include <commctrl.h>

#include <cwchar>
#include <utility>

q417::TSharedPacketQueue* PacketQueue = nullptr;

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

} // namespace

BOOL WINAPI InitDoneCallback(int32_t Result, void* UserData) noexcept {
  return ::PostMessageW(static_cast<HWND>(UserData), TForm1::WM_INITDONE, WPARAM(intptr_t(Result)), 0);
}

void WINAPI UpdateCallback(int32_t, const uint8_t* Data, int32_t Length, void* UserData) noexcept {
  try {
    auto container = q417::MakeUpdateContr(win32::Readable(Data, Length) ? Data : nullptr, Length);
    if (!container || PacketQueue == nullptr) return;
    PacketQueue->PushPacket(std::move(container));
    const int64_t count = PacketQueue->Count();
    ::PostMessageW(static_cast<HWND>(UserData), TForm1::WM_PACKETREADY, WPARAM(count), 0);
  } catch (...) {
    // Out of memory on the library's thread: the delivery is lost, the watchdog reports it.
  }
}

std::unique_ptr<TForm1> TForm1::Create(HINSTANCE instance) {
  std::unique_ptr<TForm1> form(new TForm1(instance));
  if (!form->fHandle || !form->fWaiting) return nullptr;
  form->tmrPoll.Attach(form->Handle());
  form->tmrWatchDog.Attach(form->Handle());
  form->FormCreate();
  return form;
}

TForm1::TForm1(HINSTANCE instance) : fInstance(instance) {
  win32::RegisterFormClass(instance, ClassName, WindowProc, ::LoadIconW(instance, MAKEINTRESOURCEW(1)),
                           static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                           ::GetSystemMetrics(SM_CXSMICON),
                                                           ::GetSystemMetrics(SM_CYSMICON), LR_SHARED)));

  // Created at the 96 DPI design size, then fitted to the DPI the window gets.
  RECT r{0, 0, q417::layout::MainClientWidth, q417::layout::MainClientHeight};
  ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
  ::CreateWindowExW(0, ClassName, Caption, kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                    nullptr, nullptr, instance, this);
}

TForm1::~TForm1() {
  // The panels go first, then the window with its other children, and only then the objects
  // those children use (fonts, glyphs, the waiting display).
  fDeviceFrames.Clear();
  // Closed without WM_CLOSE (destroyed by its owner): the library's reference goes too, so that
  // no thread goes on delivering to a window that is gone.
  if (fCycle) fCycle->FormClose();
  win32::DestroyFormWindow(fHandle);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  return win32::FormWindowProc<TForm1, &TForm1::fHandle, &TForm1::HandleMessage>(hwnd, msg, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = fHandle.Get();
  if (tmrPoll.Dispatch(msg, wParam, [this] { tmrPollTimer(); })) return 0;
  if (tmrWatchDog.Dispatch(msg, wParam, [this] { tmrWatchDogTimer(); })) return 0;
  switch (msg) {
  case WM_CREATE:
    CreateControls();
    return 0;
  case WM_SIZE:
    // Minimised while active, a window may stay active without being deactivated first.
    if (wParam == SIZE_MINIMIZED) RememberFocusedControl();
    LayoutControls();
    return 0;
  case WM_ACTIVATE:
    // A form's convention: the control that had the keyboard focus when the window was
    // deactivated gets it back. A minimised window gives it to none of its controls; the
    // activation that comes with restoring it does.
    if (LOWORD(wParam) == WA_INACTIVE) {
      RememberFocusedControl();
    } else if (HIWORD(wParam) == 0) {
      RestoreFocusedControl();
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  case WM_DPICHANGED: {
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi(HIWORD(wParam));
    return 0;
  }
  case WM_SETTINGCHANGE:
    if (lParam && std::wcscmp(reinterpret_cast<const wchar_t*>(lParam), L"intl") == 0) {
      fResources.NumberFormat = UserNumberFormat();
      ApplyResourcesToPanels();
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  case WM_CHAR: {
    char16_t key = char16_t(wParam);
    FormKeyPress(key);
    return 0;
  }
  case WM_INITDONE:
    WMInitDone(wParam);
    return 0;
  case WM_PACKETREADY:
    WMPacketReady();
    return 0;
  case WM_CLOSE:
    FormClose();
    ::DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY:
    fDeviceFrames.Clear();
    sbStatus = nullptr;
    ::PostQuitMessage(0);
    return 0;
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// ---- layout ------------------------------------------------------------------------------

void TForm1::CreateControls() {
  const HWND hwnd = fHandle.Get();
  // A standard status bar without size grip, one part: assistive tools read it with SB_GETTEXT.
  sbStatus = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM | CCS_NORESIZE, 0, 0, 0, 0,
                               hwnd, nullptr, fInstance, nullptr);
  int parts[1] = {-1};
  ::SendMessageW(sbStatus, SB_SETPARTS, 1, LPARAM(parts));
  fResources.Rebuild(::GetDpiForWindow(hwnd));
  imgButtons.Rebuild(fResources.Dpi);
  fWaiting = std::make_unique<TWaitingDisplay>(hwnd, fResources);
  ::SendMessageW(sbStatus, WM_SETFONT, WPARAM(fResources.Normal.Get()), TRUE);
  // The design size at this DPI; the first packet that changes the panels sizes it from then on.
  SetClientSize(Scale(q417::layout::MainClientWidth), Scale(q417::layout::MainClientHeight));
  LayoutControls();
}

void TForm1::ApplyDpi(UINT dpi) {
  const UINT old = fResources.Dpi;
  if (dpi == 0 || dpi == old) return;
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client);
  fResources.Rebuild(dpi);
  imgButtons.Rebuild(dpi);
  ::SendMessageW(sbStatus, WM_SETFONT, WPARAM(fResources.Normal.Get()), TRUE);
  ApplyResourcesToPanels();
  const int height = fSized ? q417::ClientHeightFor(fDeviceFrames.Count(), Scale(q417::layout::PanelHeight),
                                                     fWaiting->Height(), Scale(q417::layout::StatusHeight))
                            : Scale(q417::layout::MainClientHeight);
  SetClientSize(::MulDiv(client.right, int(dpi), int(old)), height);
  LayoutControls();
}

void TForm1::LayoutControls() {
  if (sbStatus == nullptr || !fWaiting) return;
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client);
  const int h = Scale(q417::layout::StatusHeight);
  ::MoveWindow(sbStatus, 0, client.bottom - h, client.right, h, TRUE);
  fWaiting->Layout(client.right);
  StackFrames(fDeviceFrames.Frames());
}

void TForm1::ApplyResourcesToPanels() {
  for (TFDeviceIntf* frame : fDeviceFrames.Frames()) frame->ApplyResources();
}

void TForm1::SetClientSize(int width, int height) {
  // The frame as it is now, measured: right whatever DPI the system drew it for.
  RECT window{}, client{};
  ::GetWindowRect(fHandle.Get(), &window);
  ::GetClientRect(fHandle.Get(), &client);
  const int frameWidth = (window.right - window.left) - client.right;
  const int frameHeight = (window.bottom - window.top) - client.bottom;
  ::SetWindowPos(fHandle.Get(), nullptr, 0, 0, width + frameWidth, height + frameHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring TForm1::StatusText() const {
  if (sbStatus == nullptr) return {};
  const LRESULT info = ::SendMessageW(sbStatus, SB_GETTEXTLENGTHW, 0, 0);
  std::wstring text(LOWORD(info), L'\0');
  ::SendMessageW(sbStatus, SB_GETTEXTW, 0, LPARAM(text.data()));
  return text;
}

// ---- keyboard focus across activations -------------------------------------------------

void TForm1::RememberFocusedControl() {
  // Only a control is remembered. With the focus on the window itself or on none of its windows
  // (Wine gives it to a window activated while minimised), the control remembered since the
  // last activation stays, and that is none once it was given back.
  const HWND focus = ::GetFocus();
  if (focus != nullptr && ::IsChild(fHandle.Get(), focus)) fFocusedControl = focus;
}

void TForm1::RestoreFocusedControl() {
  // Given back once: a window activated again without a deactivation in between (Wine does so
  // when it restores a minimised window) must not get back a control that the operator left
  // since. A control gone with its panel leaves the focus with the window.
  const HWND hwnd = fHandle.Get();
  const HWND control = std::exchange(fFocusedControl, nullptr);
  ::SetFocus(control != nullptr && ::IsChild(hwnd, control) ? control : hwnd);
}

// ---- handlers of the update cycle -------------------------------------------------------

void TForm1::FormCreate() {
  if (PacketQueue == nullptr) PacketQueue = new q417::TSharedPacketQueue(); // lives until the process ends
  fCycle = std::make_unique<q417::TUpdateCycle>(static_cast<q417::IDeviceLibrary&>(*this),
                                                 static_cast<q417::IUpdateCycleWindow&>(*this), *PacketQueue);
  fCycle->FormCreate();
}

void TForm1::FormClose() { fCycle->FormClose(); }
void TForm1::tmrPollTimer() { fCycle->PollTick(); }
void TForm1::tmrWatchDogTimer() { fCycle->WatchDogTick(); }
void TForm1::WMInitDone(WPARAM wParam) { fCycle->InitDone(int32_t(intptr_t(wParam))); }
void TForm1::WMPacketReady() { fCycle->PacketReady(); }
void TForm1::DeviceChanged() { fCycle->DeviceChanged(); }

void TForm1::ShowStatus(const std::string& text) {
  const std::wstring wide = win32::Widen(text);
  ::SendMessageW(sbStatus, SB_SETTEXTW, 0, LPARAM(wide.c_str()));
}

void TForm1::SetPollTimer(bool running) { running ? tmrPoll.Start() : tmrPoll.Stop(); }
void TForm1::SetWatchDogTimer(bool running) { running ? tmrWatchDog.Start() : tmrWatchDog.Stop(); }

void TForm1::ApplyPacket(const q417::TBytes& packet) { fDeviceFrames.ApplyPacket(packet); }
int32_t TForm1::DeviceCount() { return int32_t(fDeviceFrames.Count()); }
void TForm1::GetDeviceState(int32_t index, TQ417DeviceState& state) { fDeviceFrames.Frame(size_t(index)).GetDeviceState(state); }

// ---- the device panels -------------------------------------------------------------------

std::unique_ptr<TFDeviceIntf> TForm1::CreateDeviceFrame(int32_t deviceId, int32_t versionId) {
  auto frame = std::make_unique<TFDeviceIntf>(fHandle.Get(), q417::DeviceFrameName(deviceId), fResources);
  TFDeviceIntf* created = frame.get();
  created->State().OnChange = [this](q417::TDevicePanelState&, int32_t) { DeviceChanged(); };
  created->State().OnSelect = [this, created](q417::TDevicePanelState&) { DeviceFrameSelect(created); };
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client);
  created->Place(int(fDeviceFrames.Count()) * created->Height(), client.right); // below the panels before it
  created->OnCreate(deviceId, versionId, imgButtons);
  return frame;
}

void TForm1::SizeWindow(size_t frameCount) {
  fSized = true;
  fWaiting->Show(frameCount == 0);
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client); // top-aligned panels keep the width
  SetClientSize(client.right, q417::ClientHeightFor(frameCount, Scale(q417::layout::PanelHeight), fWaiting->Height(),
                                                    Scale(q417::layout::StatusHeight)));
}

void TForm1::StackFrames(const std::vector<TFDeviceIntf*>& topToBottom) {
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client);
  int top = 0;
  for (TFDeviceIntf* frame : topToBottom) {
    frame->Place(top, client.right);
    top += frame->Height();
  }
}

void TForm1::DeviceFrameSelect(const q417::TDeviceFrame* sender) { fDeviceFrames.DeviceFrameSelect(sender); }
void TForm1::FormKeyPress(char16_t& key) { fDeviceFrames.FormKeyPress(key); }

// ---- the library's entry points ---------------------------------------------------------

int32_t TForm1::Initialise(int32_t* ref) {
  int32_t scratch;
  return NVQ417_Initialise(ref, &scratch, InitDoneCallback, Handle());
}

int32_t TForm1::Update(int32_t ref, const uint8_t* nextState) {
  int32_t scratch;
  void* slot = nullptr;
  return _NVQ417_Update(ref, &scratch, nextState, &slot, UpdateCallback, Handle());
}

void TForm1::Close(int32_t* ref) {
  int32_t scratch;
  NVQ417_Close(ref, &scratch, nullptr, nullptr);
}
