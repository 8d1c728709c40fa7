#include "DeviceFrameList.h"

namespace q417 {

std::string DeviceFrameName(int32_t deviceId) {
  const int64_t id = deviceId;
  return id < 0 ? "FDeviceFrame_" + std::to_string(-id) : "FDeviceFrame" + std::to_string(id);
}

int ClientHeightFor(size_t frameCount, int frameHeight, int fillerHeight, int statusHeight) {
  return (frameCount == 0 ? fillerHeight : frameHeight * int(frameCount)) + statusHeight;
}

} // namespace q417
