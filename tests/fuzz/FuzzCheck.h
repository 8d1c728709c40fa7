// What the fuzz targets share: an invariant check that libFuzzer reports as a crash with the
// input that broke it, and a reader that takes a structured target's steps from its input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                          \
  do {                                                                                                 \
    if (!(condition)) {                                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);           \
      std::abort();                                                                                    \
    }                                                                                                  \
  } while (0)

namespace fuzz {

// Reads the input front to back; a read past its end gives zeros, so every input is a program.
class TFuzzInput {
public:
  TFuzzInput(const uint8_t* data, size_t size) : fData(data), fSize(size) {}

  bool Empty() const { return fPos >= fSize; }
  uint8_t Byte() { return fPos < fSize ? fData[fPos++] : 0; }
  uint16_t Le16() { return uint16_t(Byte() | Byte() << 8); }
  int32_t Le32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
    return int32_t(v);
  }
  // Up to n bytes, fewer where the input ends.
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, fSize - std::min(fPos, fSize));
    std::vector<uint8_t> out(fData + fPos, fData + fPos + n);
    fPos += n;
    return out;
  }
  std::string Text(size_t n) {
    const std::vector<uint8_t> bytes = Bytes(n);
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<uint8_t> Rest() { return Bytes(fSize); }

private:
  const uint8_t* fData;
  size_t fSize;
  size_t fPos = 0;
};

inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace fuzz
