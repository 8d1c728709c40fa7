// The main window's waiting display: the filler panel with the running gears and "Waiting ...",
// shown while no selector is reported. The gears turn only while the display is shown.
#pragma once

#include "PanelLayout.h"
#include "PanelResources.h"
#include "WinHandles.h"

#include <windows.h>

class TWaitingDisplay {
public:
  // Creates pnlFiller with imgGears and lblWaiting in parent, shown and running.
  TWaitingDisplay(HWND parent, const TPanelResources& resources);
  ~TWaitingDisplay();
  TWaitingDisplay(const TWaitingDisplay&) = delete;
  TWaitingDisplay& operator=(const TWaitingDisplay&) = delete;

  void Show(bool flag);
  bool Shown() const noexcept { return fShown; }
  void Layout(int width); // top-aligned, full width, at the resources' DPI
  int Height() const noexcept { return fResources.Scale(q417::layout::WaitingHeight); }

private:
  static LRESULT CALLBACK FillerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK GearsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleFillerMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleGearsMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  const TPanelResources& fResources;
  // Children of the main window, normally destroyed with it.
  win32::TWindow pnlFiller;
  win32::TWindow imgGears; // child of pnlFiller
  HWND lblWaiting = nullptr; // child of pnlFiller
  bool fShown = true;
  float fAngle = 0;
};
