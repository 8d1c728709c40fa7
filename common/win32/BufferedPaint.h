// WM_PAINT through an off-screen bitmap, so that a control drawn in layers never flickers.
#pragma once

#include "WinHandles.h"

#include <windows.h>

namespace win32 {

// Calls draw(dc, client) on a memory DC the size of the client area, then copies it to the window.
template <typename TDraw>
void PaintBuffered(HWND hwnd, TDraw&& draw) {
  const TPaintDC paint(hwnd);
  RECT client;
  ::GetClientRect(hwnd, &client);
  const TMemoryDC memory(::CreateCompatibleDC(paint.Get()));
  const TBitmap bitmap(::CreateCompatibleBitmap(paint.Get(), client.right, client.bottom));
  const TSelection selected(memory.Get(), bitmap.Get());
  try {
    draw(memory.Get(), client);
  } catch (...) {
    // a picture that cannot be drawn leaves the background
  }
  ::BitBlt(paint.Get(), 0, 0, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
}

} // namespace win32
