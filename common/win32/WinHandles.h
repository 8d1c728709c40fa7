// One RAII owner for each kind of Win32 handle, so that no path closes a handle by hand.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace win32 {

template <typename T, typename Traits>
class TOwner {
public:
  TOwner() noexcept = default;
  explicit TOwner(T value) noexcept : fValue(value) {}
  TOwner(const TOwner&) = delete;
  TOwner& operator=(const TOwner&) = delete;
  TOwner(TOwner&& other) noexcept : fValue(other.Release()) {}
  TOwner& operator=(TOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~TOwner() { Reset(); }

  T Get() const noexcept { return fValue; }
  explicit operator bool() const noexcept { return Traits::Valid(fValue); }
  T Release() noexcept { return std::exchange(fValue, Traits::Invalid()); }
  void Reset(T value = Traits::Invalid()) noexcept {
    T old = std::exchange(fValue, value);
    if (Traits::Valid(old)) Traits::Close(old);
  }

private:
  T fValue = Traits::Invalid();
};

struct HandleTraits {
  static HANDLE Invalid() noexcept { return nullptr; }
  static bool Valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};

// The kinds whose only invalid value is null: each says how it is closed.
template <typename T>
struct NullIsInvalid {
  static T Invalid() noexcept { return nullptr; }
  static bool Valid(T h) noexcept { return h != nullptr; }
};
struct RegKeyTraits : NullIsInvalid<HKEY> {
  static void Close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct ModuleTraits : NullIsInvalid<HMODULE> {
  static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
template <typename G>
struct GdiTraits : NullIsInvalid<G> {
  static void Close(G h) noexcept { ::DeleteObject(h); }
};
struct IconTraits : NullIsInvalid<HICON> {
  static void Close(HICON h) noexcept { ::DestroyIcon(h); }
};
struct WindowTraits : NullIsInvalid<HWND> {
  static void Close(HWND h) noexcept { ::DestroyWindow(h); }
};
struct MemoryDCTraits : NullIsInvalid<HDC> {
  static void Close(HDC h) noexcept { ::DeleteDC(h); }
};
// Memory that a system call allocated with LocalAlloc for the caller to free.
template <typename P>
struct LocalMemTraits : NullIsInvalid<P> {
  static void Close(P p) noexcept { ::LocalFree(p); }
};
// Memory that another module allocated with the COM task allocator for this one to free.
template <typename P>
struct CoTaskMemTraits : NullIsInvalid<P> {
  static void Close(P p) noexcept { ::CoTaskMemFree(p); }
};

using THandle = TOwner<HANDLE, HandleTraits>;         // kernel objects: events, mutexes, files, threads
using TRegKey = TOwner<HKEY, RegKeyTraits>;
using TModule = TOwner<HMODULE, ModuleTraits>;
using TFont = TOwner<HFONT, GdiTraits<HFONT>>;
using TBitmap = TOwner<HBITMAP, GdiTraits<HBITMAP>>;
using TIcon = TOwner<HICON, IconTraits>;
using TWindow = TOwner<HWND, WindowTraits>;
using TMemoryDC = TOwner<HDC, MemoryDCTraits>;       // CreateCompatibleDC
using TCoTaskString = TOwner<wchar_t*, CoTaskMemTraits<wchar_t*>>; // link ole32 where used
using TArgumentList = TOwner<LPWSTR*, LocalMemTraits<LPWSTR*>>;     // CommandLineToArgvW

// Device contexts that go back to their window rather than being deleted, and selections into a
// device context: guards for one scope.

// GetDC of a window, or of the screen for none; released on scope exit.
class TWindowDC {
public:
  explicit TWindowDC(HWND window) noexcept : fWindow(window), fDC(::GetDC(window)) {}
  ~TWindowDC() {
    if (fDC) ::ReleaseDC(fWindow, fDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const noexcept { return fDC; }

private:
  HWND fWindow;
  HDC fDC;
};

// BeginPaint in WM_PAINT; EndPaint on scope exit.
class TPaintDC {
public:
  explicit TPaintDC(HWND window) noexcept : fWindow(window), fDC(::BeginPaint(window, &fPaint)) {}
  ~TPaintDC() { ::EndPaint(fWindow, &fPaint); }
  TPaintDC(const TPaintDC&) = delete;
  TPaintDC& operator=(const TPaintDC&) = delete;
  HDC Get() const noexcept { return fDC; }

private:
  HWND fWindow;
  PAINTSTRUCT fPaint{};
  HDC fDC;
};

// An object selected into a device context for a scope. Select may put others of its kind in
// its place meanwhile; on scope exit the object that the first one replaced is selected again,
// so that the device context never keeps an object that is about to be deleted.
class TSelection {
public:
  TSelection(HDC dc, HGDIOBJ object) noexcept : fDC(dc), fOriginal(::SelectObject(dc, object)) {}
  ~TSelection() {
    if (fOriginal != nullptr && fOriginal != HGDI_ERROR) ::SelectObject(fDC, fOriginal);
  }
  TSelection(const TSelection&) = delete;
  TSelection& operator=(const TSelection&) = delete;
  void Select(HGDIOBJ object) noexcept { ::SelectObject(fDC, object); }

private:
  HDC fDC;
  HGDIOBJ fOriginal;
};

} // namespace win32
