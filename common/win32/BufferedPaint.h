// WM_PAINT through an off-screen bitmap, so that a control drawn in layers never flickers.
#pragma once

#include <windows.h>

namespace win32 {

// Calls draw(dc, client) on a memory DC the size of the client area, then copies it to the window.
template <typename TDraw>
void PaintBuffered(HWND hwnd, TDraw&& draw) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd, &ps);
  RECT client;
  ::GetClientRect(hwnd, &client);
  HDC memory = ::CreateCompatibleDC(dc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  try {
    draw(memory, client);
  } catch (...) {
    // a picture that cannot be drawn leaves the background
  }
  ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::EndPaint(hwnd, &ps);
}

} // namespace win32
