// UTF-8 (portable core) to UTF-16 (Win32) text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32 {

inline std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

// The portable core's UTF-16 text and Win32's are the same code units.
inline std::u16string ToU16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
inline std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

} // namespace win32
