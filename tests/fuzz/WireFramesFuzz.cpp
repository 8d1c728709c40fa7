// A message on the host's pipe: any bytes. As a request it splits into the 8-byte header and the
// payload (or is not answered when shorter than a header); the reply built from it carries the
// tag, the result and the response unchanged; a client's request with the same tag and payload
// splits back into them. As a reply from a broken peer it reads without going past its bytes.
#include "FuzzCheck.h"
#include "WireFrames.h"

#include <algorithm>

using namespace pellix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> message(data, size);

  // Read as a reply.
  FUZZ_CHECK(ReplyTag(message) == (size >= 4 ? fuzz::ReadLe32(data) : 0u));
  FUZZ_CHECK(ReplyResult(message) == (size >= FrameHeaderSize ? int32_t(fuzz::ReadLe32(data + 4)) : 0));
  const std::span<const uint8_t> carried = ReplyPayload(message);
  FUZZ_CHECK(carried.size() == (size > FrameHeaderSize ? size - FrameHeaderSize : 0));
  if (!carried.empty()) FUZZ_CHECK(carried.data() == data + FrameHeaderSize);

  // Read as a request.
  TFrameHeader header{};
  std::span<const uint8_t> payload;
  const bool answered = SplitRequest(message, header, payload);
  FUZZ_CHECK(answered == (size >= FrameHeaderSize));
  if (!answered) return 0;
  FUZZ_CHECK(std::equal(header.begin(), header.end(), data));
  FUZZ_CHECK(payload.size() == size - FrameHeaderSize);
  if (!payload.empty()) FUZZ_CHECK(payload.data() == data + FrameHeaderSize);

  // The host's reply, with the payload as the library's response and a result made of the tag.
  const int32_t result = int32_t(~fuzz::ReadLe32(data));
  std::vector<uint8_t> reply = {1, 2, 3}; // replaced whole
  BuildReply(header, result, payload, reply);
  FUZZ_CHECK(reply.size() == size);
  FUZZ_CHECK(ReplyTag(reply) == fuzz::ReadLe32(data));
  FUZZ_CHECK(ReplyResult(reply) == result);
  const std::span<const uint8_t> response = ReplyPayload(reply);
  FUZZ_CHECK(std::equal(response.begin(), response.end(), payload.begin(), payload.end()));

  // A client's request with the same tag and payload: the result's place is zero.
  std::vector<uint8_t> request = {9};
  BuildRequest(fuzz::ReadLe32(data), payload, request);
  FUZZ_CHECK(request.size() == size);
  TFrameHeader again{};
  std::span<const uint8_t> payloadAgain;
  FUZZ_CHECK(SplitRequest(request, again, payloadAgain));
  FUZZ_CHECK(std::equal(again.begin(), again.begin() + 4, data));
  FUZZ_CHECK(fuzz::ReadLe32(again.data() + 4) == 0);
  FUZZ_CHECK(std::equal(payloadAgain.begin(), payloadAgain.end(), payload.begin(), payload.end()));
  return 0;
}
