#include "WireFrames.h"

#include <algorithm>

namespace pellix {

bool SplitRequest(std::span<const uint8_t> message, TFrameHeader& header, std::span<const uint8_t>& payload) {
  if (message.size() < FrameHeaderSize) return false;
  std::copy_n(message.begin(), FrameHeaderSize, header.begin());
  payload = message.subspan(FrameHeaderSize);
  return true;
}

void BuildReply(const TFrameHeader& header, int32_t result, std::span<const uint8_t> response, std::vector<uint8_t>& reply) {
  reply.resize(FrameHeaderSize + response.size());
  std::copy(header.begin(), header.begin() + 4, reply.begin());
  const uint32_t code = uint32_t(result);
  for (int i = 0; i < 4; ++i) reply[4 + size_t(i)] = uint8_t(code >> (8 * i));
  std::copy(response.begin(), response.end(), reply.begin() + FrameHeaderSize);
}

int32_t ReplyResult(std::span<const uint8_t> reply) {
  if (reply.size() < FrameHeaderSize) return 0;
  return int32_t(uint32_t(reply[4]) | uint32_t(reply[5]) << 8 | uint32_t(reply[6]) << 16 | uint32_t(reply[7]) << 24);
}

void BuildRequest(uint32_t tag, std::span<const uint8_t> payload, std::vector<uint8_t>& request) {
  request.assign(FrameHeaderSize, 0);
  for (int i = 0; i < 4; ++i) request[size_t(i)] = uint8_t(tag >> (8 * i));
  request.insert(request.end(), payload.begin(), payload.end());
}

uint32_t ReplyTag(std::span<const uint8_t> reply) {
  if (reply.size() < 4) return 0;
  return uint32_t(reply[0]) | uint32_t(reply[1]) << 8 | uint32_t(reply[2]) << 16 | uint32_t(reply[3]) << 24;
}

std::span<const uint8_t> ReplyPayload(std::span<const uint8_t> reply) {
  return reply.size() <= FrameHeaderSize ? std::span<const uint8_t>() : reply.subspan(FrameHeaderSize);
}

} // namespace pellix
