// Bytes written as hexadecimal pairs, blanks between them ignored: "03 00 00 00  05 00".
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_support {

inline std::vector<uint8_t> HexBytes(const char* text) {
  std::vector<uint8_t> out;
  for (unsigned byte = 0, used = 0; std::sscanf(text, " %2x%n", &byte, &used) == 1; text += used)
    out.push_back(uint8_t(byte));
  return out;
}

// The pieces one after the other, so that a packet can be written field by field or record by record.
inline std::vector<uint8_t> HexBytes(std::initializer_list<const char*> pieces) {
  std::string text;
  for (const char* piece : pieces) text += std::string(piece) + " ";
  return HexBytes(text.c_str());
}

} // namespace testing_support
