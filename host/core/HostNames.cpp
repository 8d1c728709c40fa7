#include "HostNames.h"

namespace pellix {

namespace {
bool IsBlankOrControl(wchar_t c) { return static_cast<uint32_t>(c) <= 32; }
wchar_t AsciiUpperChar(wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c; }
} // namespace

std::wstring Trim(std::wstring_view text) {
  size_t first = 0, last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  return std::wstring(text.substr(first, last - first));
}

std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = AsciiUpperChar(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpperChar(a[i]) != AsciiUpperChar(b[i])) return false;
  return true;
}

std::wstring Hex(uint32_t value, int minDigits) {
  static constexpr wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring out;
  do {
    out.insert(out.begin(), digits[value & 15u]);
    value >>= 4;
  } while (value != 0);
  if (int(out.size()) < minDigits) out.insert(0, size_t(minDigits) - out.size(), L'0');
  return out;
}

std::wstring MutexName(uint32_t deviceType) { return L"Pellix_" + Hex(deviceType, 8); }

std::wstring PipeName(std::wstring_view deviceTypeName) { return L"PELLIX_PIPE_" + AsciiUpper(deviceTypeName); }

std::wstring PipePath(std::wstring_view pipeName) { return L"\\\\.\\pipe\\" + std::wstring(pipeName); }

std::wstring AckEventName(std::wstring_view libraryFileName) { return L"PELLIX_ACK_" + std::wstring(libraryFileName); }

std::wstring FileNamePart(std::wstring_view path) {
  const size_t cut = path.find_last_of(L"\\:");
  return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring LibraryFileName(std::wstring_view path) { return AsciiUpper(FileNamePart(path)); }

std::wstring DevicePath(std::wstring_view portName) { return L"\\\\.\\" + AsciiUpper(Trim(portName)); }

} // namespace pellix
