// The device host's window TForm1: hidden unless in debug mode, it runs discovery on the main
// thread (its creation, WM_DEVICECHANGE, the discovery timer), shows the number of open
// devices, and ends the host through its idle timer.
#pragma once

#include "DeviceDiscovery.h"
#include "IdleShutdown.h"
#include "WinHandles.h"
#include "WinTimer.h"

#include <memory>
#include <string>

// The registry debug switch: 0, or all bits set. Written by the program entry before the window
// is created.
extern int32_t DebugMode;

class TForm1 final : private pellix::IDiscoveryOwner {
public:
  static constexpr const wchar_t* ClassName = L"TPellixHostForm";
  static constexpr int lblDeviceCountId = 104; // control id, for tools that read the count

  // Creates the window (not shown) and runs FormCreate. Null when the window cannot be made.
  static std::unique_ptr<TForm1> Create(HINSTANCE instance, uint32_t deviceType, const std::wstring& deviceTypeName,
                                        pellix::IRegistryReader& registry, pellix::IPortProber& prober,
                                        pellix::ISerialLibrary& serial);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const noexcept { return fHandle.Get(); }
  const pellix::TDeviceDiscovery& Discovery() const noexcept { return *fDiscovery; }

private:
  TForm1(HINSTANCE instance, const std::wstring& caption);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();

  void FormCreate();
  void tmrGarbageTimer();
  void tmrDiscoverTimer();
  void WMDeviceChange(WPARAM wParam);

  // IDiscoveryOwner
  void ShowDeviceCount(size_t count) override;
  void UpdateSerialRefs(const std::vector<int32_t>& refs) override;

  HINSTANCE fInstance;
  win32::TWindow fHandle;
  win32::TFont fFont;
  HWND lblDeviceCount = nullptr; // child of fHandle, destroyed with it
  win32::TWinTimer tmrGarbage{1, pellix::TIdleShutdown::TickPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  win32::TWinTimer tmrDiscover{2, pellix::TDeviceDiscovery::DiscoverPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  std::unique_ptr<pellix::TDeviceDiscovery> fDiscovery;
  std::unique_ptr<pellix::TIdleShutdown> fIdle;
};
