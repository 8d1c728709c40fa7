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

// The line written when the client library leaves an exception unhandled: its code as eight and
// the address it was raised at as sixteen upper-case hexadecimal digits.
std::wstring LibraryExceptionLine(uint32_t code, uint64_t address);

} // namespace pellix
