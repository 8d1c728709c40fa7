#include "WireFrames.h"

#include "LittleEndian.h"

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
  le::Write32(reply.data() + 4, uint32_t(result));
  std::copy(response.begin(), response.end(), reply.begin() + FrameHeaderSize);
}

int32_t ReplyResult(std::span<const uint8_t> reply) {
  if (reply.size() < FrameHeaderSize) return 0;
  return int32_t(le::Read32(reply.data() + 4));
}

void BuildRequest(uint32_t tag, std::span<const uint8_t> payload, std::vector<uint8_t>& request) {
  request.assign(FrameHeaderSize, 0);
  le::Write32(request.data(), tag);
  request.insert(request.end(), payload.begin(), payload.end());
}

uint32_t ReplyTag(std::span<const uint8_t> reply) {
  if (reply.size() < 4) return 0;
  return le::Read32(reply.data());
}

std::span<const uint8_t> ReplyPayload(std::span<const uint8_t> reply) {
  return reply.size() <= FrameHeaderSize ? std::span<const uint8_t>() : reply.subspan(FrameHeaderSize);
}

} // namespace pellix
