// The Q417 device type as the selectors, their client library and the device API library know
// it. Plain C++, no platform headers.
#pragma once

#include <cstdint>

namespace q417 {

// What a selector answers to HELLO, and the device type its client library serves.
inline constexpr uint32_t DeviceType = 0x417;
// The type's name: the device host's pipe is PELLIX_PIPE_ followed by it.
inline constexpr wchar_t DeviceTypeName[] = L"Q417";
// The selectors' serial line rate.
inline constexpr int32_t BaudRate = 115200;

} // namespace q417
