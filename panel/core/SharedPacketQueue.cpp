#include "SharedPacketQueue.h"

namespace q417 {

std::unique_ptr<TUpdateContr> MakeUpdateContr(const uint8_t* data, int32_t length) noexcept {
  try {
    auto container = std::make_unique<TUpdateContr>();
    try {
      if (length > 0 && data != nullptr) container->Packet.assign(data, data + length);
    } catch (...) {
      container->Packet.clear(); // a copy that fails counts as no data
    }
    if (container->Packet.empty()) container->Packet = EmptyPacket();
    return container;
  } catch (...) {
    return nullptr; // out of memory even for four bytes
  }
}

void TSharedPacketQueue::PushPacket(std::unique_ptr<TUpdateContr> container) {
  std::lock_guard lock(csAccess);
  Packets.push_back(std::move(container));
}

std::unique_ptr<TUpdateContr> TSharedPacketQueue::PopPacket() {
  std::lock_guard lock(csAccess);
  if (Packets.empty()) return nullptr;
  auto head = std::move(Packets.front());
  Packets.pop_front();
  return head;
}

int64_t TSharedPacketQueue::Count() {
  std::lock_guard lock(csAccess);
  return int64_t(Packets.size());
}

} // namespace q417
