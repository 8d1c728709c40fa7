// The host's debug-output formatting: %d signed decimal, %x upper-case hexadecimal of the
// 32-bit value without leading zeros, %s a string, %% a percent sign. A directive without a
// matching argument is written as it stands, so a bad format can never read past the arguments.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace pellix {

using TDebugArg = std::variant<int64_t, std::wstring>;

std::wstring FormatDebugText(std::wstring_view format, std::initializer_list<TDebugArg> args);

} // namespace pellix
