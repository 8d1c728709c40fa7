// The device host's text rules: trimming and upper-casing as the host does them, and the names
// of its shared objects (instance mutex, pipe, acknowledge event) and of the client library.
// Portable: the Win32 shell and later pieces (listener, pipe clients) use the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellix {

// Removes leading and trailing characters with codes up to 32 (blanks and control characters).
std::wstring Trim(std::wstring_view text);
// Upper-cases the ASCII letters a to z only; every other character stays as it is.
std::wstring AsciiUpper(std::wstring_view text);
bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);
// Upper-case hexadecimal with at least minDigits digits, zero-padded.
std::wstring Hex(uint32_t value, int minDigits);

// "Pellix_" + the device type as exactly eight upper-case hexadecimal digits.
std::wstring MutexName(uint32_t deviceType);
// "PELLIX_PIPE_" + the device type name upper-cased; the pipe's path is PipePath of it.
std::wstring PipeName(std::wstring_view deviceTypeName);
std::wstring PipePath(std::wstring_view pipeName);
// "PELLIX_ACK_" + the client library's upper-cased file name (LibraryFileName).
std::wstring AckEventName(std::wstring_view libraryFileName);
// The part of a path after its last backslash or colon, extension included, case unchanged.
std::wstring FileNamePart(std::wstring_view path);
// FileNamePart upper-cased: the suffix of the acknowledge event's name.
std::wstring LibraryFileName(std::wstring_view path);
// "\\.\" + the port name trimmed and upper-cased: the device path of a serial port.
std::wstring DevicePath(std::wstring_view portName);

} // namespace pellix
