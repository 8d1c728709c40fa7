// Bytes as hexadecimal text, for the tests and the test doubles alike. Written as two lower-case
// digits a byte with nothing between them (the device API library double's script and log
// form); read as pairs of digits in either case, blanks between the pairs ignored:
// "03 00 00 00  05 00". Plain C++.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

inline std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// False, with out in any state, for a digit without its pair or anything but digits and blanks.
inline bool ParseHex(std::string_view text, std::vector<uint8_t>& out) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  out.clear();
  for (size_t i = 0; i < text.size();) {
    if (blank(text[i])) {
      ++i;
      continue;
    }
    const int high = digit(text[i]), low = i + 1 < text.size() ? digit(text[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    out.push_back(uint8_t(high << 4 | low));
    i += 2;
  }
  return true;
}

// Bytes written out in a test; a typing error in them throws rather than yielding fewer bytes.
inline std::vector<uint8_t> HexBytes(std::string_view text) {
  std::vector<uint8_t> out;
  if (!ParseHex(text, out)) throw std::invalid_argument("not hexadecimal byte pairs: " + std::string(text));
  return out;
}

// The pieces one after the other, so that a packet can be written field by field or record by record.
inline std::vector<uint8_t> HexBytes(std::initializer_list<const char*> pieces) {
  std::string text;
  for (const char* piece : pieces) text += std::string(piece) + " ";
  return HexBytes(text);
}

} // namespace testing_support
