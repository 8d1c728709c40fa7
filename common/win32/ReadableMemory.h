// Whether bytes that another module hands over can be read at all, so that a bad address or a
// length beyond what was delivered is turned away instead of ending the program.
#pragma once

#include <windows.h>

#include <cstdint>

namespace win32 {

// Whether [data, data + length) is committed, readable memory; false for null or length <= 0.
inline bool Readable(const uint8_t* data, int32_t length) noexcept {
  if (data == nullptr || length <= 0) return false;
  const uint8_t* p = data;
  const uint8_t* end = data + length;
  while (p < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(p, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if ((info.Protect & readable) == 0 || (info.Protect & PAGE_GUARD) != 0) return false;
    p = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

} // namespace win32
