#include "DebugUtilsU.h"

#include <windows.h>

void DebugOut(const std::wstring& text) noexcept { ::OutputDebugStringW(text.c_str()); }

void DebugOutFmt(const wchar_t* format, std::initializer_list<pellix::TDebugArg> args) noexcept {
  try {
    DebugOut(pellix::FormatDebugText(format, args));
  } catch (...) {
    // Out of memory while formatting: the line is lost, the caller goes on.
  }
}
