// The first-in-first-out hand-over of update packets from the device API library's threads to
// the window thread. Portable: the lock is a std::mutex held for one list operation only.
#pragma once

#include "Q417Packet.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace q417 {

// One delivered update packet, owned by whoever holds the container.
struct TUpdateContr {
  TBytes Packet;
};

// Copies a delivery into a new container, as the update callback does. A delivery without
// data (length 0 or less, a null address, or bytes that cannot be copied) becomes the empty
// packet. Never throws: it runs on the library's thread.
std::unique_ptr<TUpdateContr> MakeUpdateContr(const uint8_t* data, int32_t length) noexcept;

class TSharedPacketQueue {
public:
  void PushPacket(std::unique_ptr<TUpdateContr> container);
  // The head container, or null when the queue is empty.
  std::unique_ptr<TUpdateContr> PopPacket();
  int64_t Count();

private:
  std::mutex csAccess;
  std::deque<std::unique_ptr<TUpdateContr>> Packets;
};

} // namespace q417
