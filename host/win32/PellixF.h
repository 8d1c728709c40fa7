// The device host's window TForm1: hidden unless in debug mode, it is the host's hub on the
// main thread. Its creation runs the first discovery and starts the pipe listener; it handles
// device changes and the discovery timer, shows the client library, device type, device count
// and client count, and ends the host once no client has been connected for the idle limit.
#pragma once

#include "ClientSupportU.h"
#include "DeviceDiscovery.h"
#include "IdleShutdown.h"
#include "TPipeConnectorU.h"
#include "WinHandles.h"
#include "WinTimer.h"

#include <memory>
#include <string>

class TForm1 final : private pellix::IDiscoveryOwner {
public:
  static constexpr const wchar_t* ClassName = L"TPellixHostForm";
  // Control ids of the value labels, for assistive tools and tests.
  enum : int { lblDllPathId = 101, lblDeviceTypeNameId = 102, lblDeviceTypeIDId = 103, lblDeviceCountId = 104,
               lblClientCountId = 105 };

  // Creates the window (not shown) and runs FormCreate. Null when the window cannot be made.
  static std::unique_ptr<TForm1> Create(HINSTANCE instance, const THostIdentity& identity,
                                        pellix::IRegistryReader& registry, pellix::IPortProber& prober,
                                        pellix::ISerialLibrary& serial);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const noexcept { return fHandle.Get(); }
  const pellix::TDeviceDiscovery& Discovery() const noexcept { return *fDiscovery; }

private:
  TForm1(HINSTANCE instance, const THostIdentity& identity);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void StopListener();

  void FormCreate();
  void tmrGarbageTimer();
  void tmrDiscoverTimer();
  void WMDeviceChange(WPARAM wParam);

  // IDiscoveryOwner
  void ShowDeviceCount(size_t count) override;
  void UpdateSerialRefs(const std::vector<int32_t>& refs) override;

  HINSTANCE fInstance;
  THostIdentity fIdentity;
  win32::TWindow fHandle;
  win32::TFont fFont;
  // Children of fHandle, destroyed with it.
  HWND lblDllPath = nullptr, lblDeviceTypeName = nullptr, lblDeviceTypeID = nullptr, lblDeviceCount = nullptr,
       lblClientCount = nullptr;
  win32::TWinTimer tmrGarbage{1, pellix::TIdleShutdown::TickPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  win32::TWinTimer tmrDiscover{2, pellix::TDeviceDiscovery::DiscoverPeriodMs, win32::TWinTimer::FirstTickAfterPeriod};
  std::unique_ptr<pellix::TDeviceDiscovery> fDiscovery;
  std::unique_ptr<pellix::TIdleShutdown> fIdle;
  std::unique_ptr<TPipeConnector> fPipeConnector;
};
