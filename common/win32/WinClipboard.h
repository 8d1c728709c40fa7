// The clipboard and the movable global memory it trades in, each held for one scope.
#pragma once

#include "WinHandles.h"

#include <windows.h>

#include <cstddef>

namespace win32 {

// The clipboard, open for the life of the object when another window does not hold it.
class TClipboard {
public:
  explicit TClipboard(HWND owner) noexcept : fOpen(::OpenClipboard(owner) != FALSE) {}
  ~TClipboard() {
    if (fOpen) ::CloseClipboard();
  }
  TClipboard(const TClipboard&) = delete;
  TClipboard& operator=(const TClipboard&) = delete;

  explicit operator bool() const noexcept { return fOpen; }

private:
  bool fOpen;
};

// A global memory block locked for the life of the object; Get() is null when it cannot be.
template <typename T>
class TGlobalLock {
public:
  explicit TGlobalLock(HGLOBAL memory) noexcept
      : fMemory(memory), fData(memory ? static_cast<T*>(::GlobalLock(memory)) : nullptr) {}
  ~TGlobalLock() {
    if (fData) ::GlobalUnlock(fMemory);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;

  T* Get() const noexcept { return fData; }
  // How many whole T the block holds, which may be more than was asked for.
  size_t Count() const noexcept { return fData ? ::GlobalSize(fMemory) / sizeof(T) : 0; }

private:
  HGLOBAL fMemory;
  T* fData;
};

struct GlobalMemoryTraits {
  static HGLOBAL Invalid() noexcept { return nullptr; }
  static bool Valid(HGLOBAL h) noexcept { return h != nullptr; }
  static void Close(HGLOBAL h) noexcept { ::GlobalFree(h); }
};
// Memory of our own until the clipboard takes it (SetClipboardData succeeded: Release it).
using TGlobalMemory = TOwner<HGLOBAL, GlobalMemoryTraits>;

} // namespace win32
