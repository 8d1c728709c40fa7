// The main window's waiting display: the filler panel with the running gears and "Waiting ...",
// shown while no selector is reported. The gears turn only while the display is shown.
#pragma once

#include "PanelResources.h"

#include <windows.h>

class TWaitingDisplay {
public:
  static constexpr int DesignHeight = 193;

  // Creates pnlFiller with imgGears and lblWaiting in parent, shown and running.
  TWaitingDisplay(HWND parent, const TPanelResources& resources);
  TWaitingDisplay(const TWaitingDisplay&) = delete;
  TWaitingDisplay& operator=(const TWaitingDisplay&) = delete;

  void Show(bool flag);
  bool Shown() const noexcept { return fShown; }
  void Layout(int width); // top-aligned, full width, at the resources' DPI
  int Height() const noexcept { return fResources.Scale(DesignHeight); }
  HWND Filler() const noexcept { return pnlFiller; }

private:
  static LRESULT CALLBACK FillerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK GearsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

  const TPanelResources& fResources;
  HWND pnlFiller = nullptr; // children of the main window, destroyed with it
  HWND imgGears = nullptr;
  HWND lblWaiting = nullptr;
  bool fShown = true;
  float fAngle = 0;
};
