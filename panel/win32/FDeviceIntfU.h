// The device panel's Win32 view: a child window of the main window that draws one selector's
// state (header, channel, mode and indicator tiles, selection bar) and hosts the delay field
// with its OK and Cancel buttons. Rules and state live in TDevicePanelState; this class draws
// it, hit-tests the tiles and turns the controls' notifications into the state's handlers.
#pragma once

#include "DeviceFrameList.h"
#include "DevicePanelState.h"
#include "PanelLayout.h"
#include "PanelResources.h"
#include "WinHandles.h"

#include <windows.h>

#include <string>

class TFDeviceIntf final : private q417::IDevicePanelView, public q417::TDeviceFrame {
public:
  static constexpr const wchar_t* ClassName = L"TFDeviceIntf";
  // The state query (q417::layout::StateQueryMessageName), registered once.
  static UINT StateQueryMessage() noexcept;

  // A panel in owner's client area, named by its window text, shown at once. Throws when the
  // window cannot be made.
  TFDeviceIntf(HWND owner, const std::string& name, const TPanelResources& resources);
  ~TFDeviceIntf() override;
  TFDeviceIntf(const TFDeviceIntf&) = delete;
  TFDeviceIntf& operator=(const TFDeviceIntf&) = delete;

  HWND Handle() const noexcept { return fHandle.Get(); }
  int Height() const noexcept { return fResources.Scale(q417::layout::PanelHeight); }

  void OnCreate(int32_t deviceId, int32_t versionId, const TGlyphList& images);
  void Place(int top, int width);
  // The shared resources changed (DPI or locale): fonts, control places, glyphs.
  void ApplyResources();

private:
  // The delay field's controls, their subclasses and the control places; throws when a control
  // cannot be made.
  void MakeControls(HWND hwnd, HINSTANCE instance, const std::string& name);
  void DestroyControlsAndWindow() noexcept;

  // IDevicePanelView
  void StateChanged() override;
  void ShowIdentity(const std::string& deviceId, const std::string& version) override;
  void SetDelayField(double milliseconds) override;
  double DelayFieldValue() override { return fFieldValue; }
  void ReturnFocusToOwner() override;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK GroupProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) noexcept;
  static LRESULT CALLBACK DelayEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR self) noexcept;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleDelayEdit(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
  void Paint(HDC dc, const RECT& client);
  int HitTest(POINT p) const;
  void Click(int element);
  void DelayFocusLost();
  uint32_t LitMask() const;

  const TPanelResources& fResources;
  const TGlyphList* fImages = nullptr;
  win32::TWindow fHandle;
  HWND gbDELAY = nullptr, edDELAY = nullptr, btOK = nullptr, btCANCEL = nullptr; // children of fHandle
  std::wstring fDeviceIdText = L"<NONE>";
  std::wstring fVersionText = L"Version : ";
  double fFieldValue = 0;          // the delay field's value, in milliseconds
  std::wstring fRestoreText = L"0"; // what Escape puts back
  uint32_t fPaintedMask = 0xFFFFFFFF;
  int fPressed = -1;               // the element under the button press
  bool fDecimalKey = false;        // the keypad's decimal key types the locale's separator
};
