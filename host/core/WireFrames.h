// The request and reply frames of the host's pipe. A request is one pipe message of 8 to 10000
// bytes: a 4-byte client tag, 4 bytes whose place carries the result in the reply, then the
// payload for the client library. A reply is the request's first 8 bytes with the result code
// (little-endian) in bytes 4 to 7, followed by the library's response. Message boundaries
// delimit both; neither carries a length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pellix {

inline constexpr size_t FrameHeaderSize = 8;
inline constexpr size_t MaxRequestSize = 10000; // the handler's receive buffer

using TFrameHeader = std::array<uint8_t, FrameHeaderSize>;

// A request message split into its header and payload; false for a message shorter than a
// header, which is not answered.
bool SplitRequest(std::span<const uint8_t> message, TFrameHeader& header, std::span<const uint8_t>& payload);

// The reply: the header with the result code in bytes 4 to 7, then the response bytes.
void BuildReply(const TFrameHeader& header, int32_t result, std::span<const uint8_t> response, std::vector<uint8_t>& reply);

// The result code a reply carries.
int32_t ReplyResult(std::span<const uint8_t> reply);

// A client's side: a request with its tag and payload, and what a reply carries.
void BuildRequest(uint32_t tag, std::span<const uint8_t> payload, std::vector<uint8_t>& request);
uint32_t ReplyTag(std::span<const uint8_t> reply);
std::span<const uint8_t> ReplyPayload(std::span<const uint8_t> reply);

} // namespace pellix
