// The control panel's main window: the Win32 side of the update cycle. The two library
// callbacks hand packets over through PacketQueue and posted messages; every handler runs on
// the window thread and drives the portable TUpdateCycle.
#pragma once

#include "Artwork.h"
#include "DeviceFrameList.h"
#include "FDeviceIntfU.h"
#include "NVQ417Hdr.h"
#include "PanelResources.h"
#include "SharedPacketQueue.h"
#include "UpdateCycle.h"
#include "WinHandles.h"
#include "WaitingDisplay.h"
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

class TForm1 final : private q417::IUpdateCycleWindow,
                     private q417::IDeviceLibrary,
                     private q417::IDeviceFrameHost<TFDeviceIntf> {
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
  const q417::TDeviceFrameList<TFDeviceIntf>& DeviceFrames() const noexcept { return fDeviceFrames; }
  bool Waiting() const noexcept { return fWaiting && fWaiting->Shown(); }

  // An operator change on a device panel: every panel's state goes out as one table.
  void DeviceChanged();
  // A panel asks to be the selected one.
  void DeviceFrameSelect(const q417::TDeviceFrame* sender);
  // A character typed while no control of the window has the keyboard focus.
  void FormKeyPress(char16_t& key);

private:
  explicit TForm1(HINSTANCE instance);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  void ApplyDpi(UINT dpi);
  void LayoutControls();
  // The panels take the resources as they are now (DPI or locale changed).
  void ApplyResourcesToPanels();
  void SetClientSize(int width, int height);
  int Scale(int designPixels) const noexcept { return fResources.Scale(designPixels); }

  void FormCreate();
  void FormClose();
  void RememberFocusedControl();
  void RestoreFocusedControl();
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

  // IDeviceFrameHost
  std::unique_ptr<TFDeviceIntf> CreateDeviceFrame(int32_t deviceId, int32_t versionId) override;
  void SizeWindow(size_t frameCount) override;
  void StackFrames(const std::vector<TFDeviceIntf*>& topToBottom) override;

  // IDeviceLibrary: the library's entry points with this window as user data.
  int32_t Initialise(int32_t* ref) override;
  int32_t Update(int32_t ref, const uint8_t* nextState) override;
  void Close(int32_t* ref) override;

  artwork::TGdiplusSession fGdiplus; // first: the artwork draws until the window is gone
  HINSTANCE fInstance;
  TPanelResources fResources;
  TGlyphList imgButtons;
  win32::TWindow fHandle;
  HWND sbStatus = nullptr; // child of fHandle, destroyed with it
  std::unique_ptr<TWaitingDisplay> fWaiting;
  bool fSized = false; // false while the window still has its design size
  // The control that had the keyboard focus when the window was last deactivated or minimised,
  // to get it back at the next activation; null when there is none to give it back to.
  HWND fFocusedControl = nullptr;
  win32::TWinTimer tmrPoll{1, q417::TUpdateCycle::PollPeriodMs, win32::TWinTimer::FirstTickAtOnce};
  win32::TWinTimer tmrWatchDog{2, q417::TUpdateCycle::WatchDogPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  std::unique_ptr<q417::TUpdateCycle> fCycle;
  // Owns the panels.
  q417::TDeviceFrameList<TFDeviceIntf> fDeviceFrames{static_cast<q417::IDeviceFrameHost<TFDeviceIntf>&>(*this)};
};
