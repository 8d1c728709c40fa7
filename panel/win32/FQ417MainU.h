// The control panel's main window: the Win32 side of the update cycle. The two library
// callbacks hand packets over through PacketQueue and posted messages; every handler runs on
// the window thread and drives the portable TUpdateCycle.
#pragma once

#include "NVQ417Hdr.h"
#include "SharedPacketQueue.h"
#include "UpdateCycle.h"
#include "WinHandles.h"
#include "WinTimer.h"

#include <memory>
#include <string>
#include <vector>

// The program's one packet queue. Created by the first window creation and never freed: the
// library may still call back while the process ends.
extern q417::TSharedPacketQueue* PacketQueue;

// The library's callbacks. UserData is the main window's HWND.
BOOL WINAPI InitDoneCallback(int32_t Result, void* UserData) noexcept;
void WINAPI UpdateCallback(int32_t Unused, const uint8_t* Data, int32_t Length, void* UserData) noexcept;

class TForm1 final : private q417::IUpdateCycleWindow, private q417::IDeviceLibrary {
public:
  static constexpr UINT WM_INITDONE = WM_USER;         // wParam: the initialisation result
  static constexpr UINT WM_PACKETREADY = WM_USER + 1;  // wParam: queue length after the push
  static constexpr const wchar_t* Caption = L"Q417 Control App";
  static constexpr const wchar_t* ClassName = L"TQ417PanelForm";

  // Creates the window (not yet shown) and runs FormCreate. Null when the window cannot be made.
  static std::unique_ptr<TForm1> Create(HINSTANCE instance);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const noexcept { return fHandle.Get(); }
  std::wstring StatusText() const;
  const q417::TUpdateCycle& Cycle() const noexcept { return *fCycle; }
  // The packets handed to ApplyPacket, in order (the device panels take them over later).
  const std::vector<q417::TBytes>& AppliedPackets() const noexcept { return fAppliedPackets; }

  // An operator change on a device panel.
  void DeviceChanged();

private:
  explicit TForm1(HINSTANCE instance);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  void LayoutControls();
  int Scale(int designPixels) const noexcept;

  void FormCreate();
  void FormClose();
  void tmrPollTimer();
  void tmrWatchDogTimer();
  void WMInitDone(WPARAM wParam);
  void WMPacketReady();

  // IUpdateCycleWindow
  void ShowStatus(const std::string& text) override;
  void SetPollTimer(bool running) override;
  void SetWatchDogTimer(bool running) override;
  void ApplyPacket(const q417::TBytes& packet) override;
  int32_t DeviceCount() override;
  void GetDeviceState(int32_t index, TQ417DeviceState& state) override;

  // IDeviceLibrary: the library's entry points with this window as user data.
  int32_t Initialise(int32_t* ref) override;
  int32_t Update(int32_t ref, const uint8_t* nextState) override;
  void Close(int32_t* ref) override;

  HINSTANCE fInstance;
  win32::TWindow fHandle;
  HWND sbStatus = nullptr; // child of fHandle, destroyed with it
  win32::TFont fFont;
  UINT fDpi = USER_DEFAULT_SCREEN_DPI;
  win32::TWinTimer tmrPoll{1, q417::TUpdateCycle::PollPeriodMs, win32::TWinTimer::FirstTickAtOnce};
  win32::TWinTimer tmrWatchDog{2, q417::TUpdateCycle::WatchDogPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  std::unique_ptr<q417::TUpdateCycle> fCycle;
  std::vector<q417::TBytes> fAppliedPackets;
};
