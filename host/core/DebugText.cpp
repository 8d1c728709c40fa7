#include "DebugText.h"

#include "HostNames.h"

#include <vector>

namespace pellix {

std::wstring FormatDebugText(std::wstring_view format, std::initializer_list<TDebugArg> args) {
  const std::vector<TDebugArg> values(args);
  size_t next = 0;
  std::wstring out;
  for (size_t i = 0; i < format.size(); ++i) {
    const wchar_t c = format[i];
    if (c != L'%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    const wchar_t kind = format[i + 1];
    if (kind == L'%') {
      out += L'%';
      ++i;
      continue;
    }
    const TDebugArg* arg = next < values.size() ? &values[next] : nullptr;
    const int64_t* number = arg ? std::get_if<int64_t>(arg) : nullptr;
    const std::wstring* text = arg ? std::get_if<std::wstring>(arg) : nullptr;
    if (kind == L'd' && number) out += std::to_wstring(*number);
    else if (kind == L'x' && number) out += Hex(uint32_t(*number), 1);
    else if (kind == L's' && text) out += *text;
    else {
      out += c; // not a directive this formatter can fill: keep it as text
      continue;
    }
    ++next;
    ++i;
  }
  return out;
}

std::wstring LibraryExceptionLine(uint32_t code, uint64_t address) {
  return L"Client library exception 0x" + Hex(code, 8) + L" at 0x" + Hex(uint32_t(address >> 32), 8) +
         Hex(uint32_t(address), 8);
}

} // namespace pellix
