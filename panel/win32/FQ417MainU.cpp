#include "FQ417MainU.h"

#include "WideText.h"

#include <commctrl.h>

q417::TSharedPacketQueue* PacketQueue = nullptr;

namespace {

// Design sizes at 96 DPI.
constexpr int kDesignClientWidth = 449;
constexpr int kDesignClientHeight = 219;
constexpr int kStatusHeight = 19;
constexpr int kFontHeight = 11;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;

// Whether [data, data + length) is committed, readable memory, so that a bad address from the
// library is treated as a delivery without data instead of ending the program.
bool Readable(const uint8_t* data, int32_t length) noexcept {
  if (data == nullptr || length <= 0) return false;
  const uint8_t* p = data;
  const uint8_t* end = data + length;
  while (p < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(p, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if ((info.Protect & readable) == 0 || (info.Protect & PAGE_GUARD) != 0) return false;
    p = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

} // namespace

BOOL WINAPI InitDoneCallback(int32_t Result, void* UserData) noexcept {
  return ::PostMessageW(static_cast<HWND>(UserData), TForm1::WM_INITDONE, WPARAM(intptr_t(Result)), 0);
}

void WINAPI UpdateCallback(int32_t, const uint8_t* Data, int32_t Length, void* UserData) noexcept {
  try {
    auto container = q417::MakeUpdateContr(Readable(Data, Length) ? Data : nullptr, Length);
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
  if (!form->fHandle) return nullptr;
  form->tmrPoll.Attach(form->Handle());
  form->tmrWatchDog.Attach(form->Handle());
  form->FormCreate();
  return form;
}

TForm1::TForm1(HINSTANCE instance) : fInstance(instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = ClassName;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  ::RegisterClassExW(&wc); // fails harmlessly when already registered

  // Created at 96 DPI size, then fitted to the monitor's DPI once the window knows it.
  RECT r{0, 0, kDesignClientWidth, kDesignClientHeight};
  ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
  ::CreateWindowExW(0, ClassName, Caption, kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                    r.bottom - r.top, nullptr, nullptr, instance, this);
}

TForm1::~TForm1() {
  if (HWND h = fHandle.Get()) ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->fHandle.Reset(hwnd);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return form->HandleMessage(msg, wParam, lParam);
  } catch (...) {
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = fHandle.Get();
  if (tmrPoll.IsTick(msg, wParam)) {
    tmrPollTimer();
    return 0;
  }
  if (tmrWatchDog.IsTick(msg, wParam)) {
    tmrWatchDogTimer();
    return 0;
  }
  switch (msg) {
  case WM_CREATE:
    CreateControls();
    return 0;
  case WM_SIZE:
    LayoutControls();
    return 0;
  case WM_DPICHANGED: {
    fDpi = HIWORD(wParam);
    CreateControls();
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
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
    ::PostQuitMessage(0);
    return 0;
  case WM_NCDESTROY:
    fHandle.Release();
    sbStatus = nullptr;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  default:
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

int TForm1::Scale(int designPixels) const noexcept { return ::MulDiv(designPixels, int(fDpi), USER_DEFAULT_SCREEN_DPI); }

void TForm1::CreateControls() {
  const HWND hwnd = fHandle.Get();
  fDpi = ::GetDpiForWindow(hwnd);
  if (fDpi == 0) fDpi = USER_DEFAULT_SCREEN_DPI;
  fFont.Reset(::CreateFontW(-Scale(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma"));
  if (sbStatus == nullptr) {
    // A standard status bar without size grip, one part: assistive tools read it with SB_GETTEXT.
    sbStatus = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM | CCS_NORESIZE, 0, 0, 0,
                                 0, hwnd, nullptr, fInstance, nullptr);
  }
  ::SendMessageW(sbStatus, WM_SETFONT, WPARAM(fFont.Get()), TRUE);
  if (fDpi != USER_DEFAULT_SCREEN_DPI) {
    RECT r{0, 0, Scale(kDesignClientWidth), Scale(kDesignClientHeight)};
    ::AdjustWindowRectExForDpi(&r, kStyle, FALSE, 0, fDpi);
    ::SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LayoutControls();
}

void TForm1::LayoutControls() {
  if (sbStatus == nullptr) return;
  RECT client{};
  ::GetClientRect(fHandle.Get(), &client);
  const int h = Scale(kStatusHeight);
  ::MoveWindow(sbStatus, 0, client.bottom - h, client.right, h, TRUE);
}

std::wstring TForm1::StatusText() const {
  if (sbStatus == nullptr) return {};
  const LRESULT info = ::SendMessageW(sbStatus, SB_GETTEXTLENGTHW, 0, 0);
  std::wstring text(LOWORD(info), L'\0');
  ::SendMessageW(sbStatus, SB_GETTEXTW, 0, LPARAM(text.data()));
  return text;
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

void TForm1::ApplyPacket(const q417::TBytes& packet) { fAppliedPackets.push_back(packet); }
int32_t TForm1::DeviceCount() { return 0; }
void TForm1::GetDeviceState(int32_t, TQ417DeviceState&) {}

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
