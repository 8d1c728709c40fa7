#include "ProcessMemory.h"

#include <cstdint>

namespace testing_support {

double CommittedBytes(HANDLE process) {
  double total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (uint8_t* at = nullptr; ::VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
       at = static_cast<uint8_t*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += double(region.RegionSize);
    if (region.RegionSize == 0) break;
  }
  return total;
}

} // namespace testing_support
