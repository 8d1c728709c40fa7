#include "DeviceFrameList.h"

#include <algorithm>

namespace q417 {

std::string DeviceFrameName(int32_t deviceId) {
  const int64_t id = deviceId;
  return id < 0 ? "FDeviceFrame_" + std::to_string(-id) : "FDeviceFrame" + std::to_string(id);
}

int ClientHeightFor(size_t frameCount, int frameHeight, int fillerHeight, int statusHeight) {
  return (frameCount == 0 ? fillerHeight : frameHeight * int(frameCount)) + statusHeight;
}

IDeviceFrame* TDeviceFrameList::FindDeviceFrame(int32_t deviceId) const {
  for (const auto& frame : fDeviceFrames)
    if (frame->DeviceID() == deviceId) return frame.get();
  return nullptr;
}

void TDeviceFrameList::ApplyPacket(std::span<const uint8_t> packet) {
  bool changed = false;
  for (size_t i = fDeviceFrames.size(); i-- > 0;) {
    if (!PacketContainsId(packet, fDeviceFrames[i]->DeviceID())) {
      fDeviceFrames.erase(fDeviceFrames.begin() + std::ptrdiff_t(i));
      changed = true;
    }
  }
  const int32_t n = PacketRecordCount(packet);
  for (int32_t k = 0; k < n; ++k) {
    const TQ417DeviceState record = PacketRecord(packet, k);
    if (IDeviceFrame* frame = FindDeviceFrame(record.Q417_DeviceID)) {
      frame->SetDeviceState(record);
      continue;
    }
    fDeviceFrames.push_back(Host.CreateDeviceFrame(record.Q417_DeviceID, record.Q417_VersionID));
    fDeviceFrames.back()->SetDeviceState(record);
    changed = true;
  }
  if (!changed) return;
  Host.SizeWindow(fDeviceFrames.size());
  if (fDeviceFrames.size() > 1) SortDeviceFrames();
  std::vector<IDeviceFrame*> order;
  for (const auto& frame : fDeviceFrames) order.push_back(frame.get());
  Host.StackFrames(order);
}

void TDeviceFrameList::SortDeviceFrames() {
  const TCompDevices comparer;
  std::stable_sort(fDeviceFrames.begin(), fDeviceFrames.end(),
                   [&](const auto& a, const auto& b) { return comparer.Compare(*a, *b) < 0; });
}

void TDeviceFrameList::DeviceFrameSelect(const IDeviceFrame* sender) {
  for (const auto& frame : fDeviceFrames) frame->SelectDevice(sender);
}

void TDeviceFrameList::FormKeyPress(char16_t& key) {
  for (const auto& frame : fDeviceFrames) {
    frame->OnKeyPress(key);
    if (key == 0) break;
  }
}

} // namespace q417
