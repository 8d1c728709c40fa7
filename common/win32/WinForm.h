// The window-procedure plumbing of a form class T (a window owned by a C++ object, top-level or
// child): the object comes in as the creation parameter, WM_NCCREATE binds it to the window, and
// every message goes to its handler with exceptions kept inside the procedure. An object that
// owns windows of several classes gives each class its own handle member and handler.
#pragma once

#include "WinHandles.h"

#include <windows.h>

namespace win32 {

// Registers the class once; a second registration fails harmlessly.
inline void RegisterFormClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure, HICON icon = nullptr,
                              HICON smallIcon = nullptr) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = className;
  wc.hIcon = icon;
  wc.hIconSm = smallIcon;
  ::RegisterClassExW(&wc);
}

// Called from T's static window procedure, which may name its private members here.
template <typename T, TWindow T::*Handle, LRESULT (T::*Handler)(UINT, WPARAM, LPARAM)>
LRESULT FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    (form->*Handle).Reset(hwnd);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // The window's last message: the object no longer owns it, and nothing later reaches it.
    (form->*Handle).Release();
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  try {
    return (form->*Handler)(msg, wParam, lParam);
  } catch (...) {
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// Destroys a form's window from the form's destructor, without the window calling back into the
// object that is going.
inline void DestroyFormWindow(TWindow& handle) noexcept {
  if (HWND hwnd = handle.Get()) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  handle.Reset();
}

} // namespace win32
