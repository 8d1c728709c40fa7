#include "WireFrames.h"

#include "NVErrorsU.h"

#include <gtest/gtest.h>

using namespace pellix;
using Bytes = std::vector<uint8_t>;

TEST(WireFrames, RequestsSplitIntoHeaderAndPayload) {
  const struct { const char* what; Bytes message; bool answered; size_t payload; } cases[] = {
      {"empty message", {}, false, 0},
      {"five bytes", {1, 2, 3, 4, 5}, false, 0},
      {"seven bytes", Bytes(7, 9), false, 0},
      {"exactly a header", {1, 2, 3, 4, 5, 6, 7, 8}, true, 0},
      {"largest request", Bytes(MaxRequestSize, 1), true, MaxRequestSize - 8},
  };
  for (const auto& c : cases) {
    TFrameHeader header{};
    std::span<const uint8_t> payload;
    EXPECT_EQ(SplitRequest(c.message, header, payload), c.answered) << c.what;
    if (c.answered) {
      EXPECT_EQ(payload.size(), c.payload) << c.what;
      EXPECT_TRUE(std::equal(header.begin(), header.end(), c.message.begin())) << c.what;
    }
  }
}

TEST(WireFrames, ReplyCarriesTagResultAndResponse) {
  TFrameHeader header{};
  std::span<const uint8_t> payload;
  const Bytes request = {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xCC, 0xDD};
  ASSERT_TRUE(SplitRequest(request, header, payload));
  Bytes reply;
  BuildReply(header, NVERR_BUSY_TIMEOUT, {}, reply);
  EXPECT_EQ(reply, (Bytes{0x01, 0x02, 0x03, 0x04, 0xBB, 0x86, 0x01, 0x00})) << "a busy reply is the header alone";
  EXPECT_EQ(ReplyResult(reply), NVERR_BUSY_TIMEOUT);

  const Bytes response = {9, 8, 7};
  BuildReply(header, -2, response, reply);
  EXPECT_EQ(reply, (Bytes{0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF, 0xFF, 0xFF, 9, 8, 7}));
  EXPECT_EQ(ReplyResult(reply), -2);
}

TEST(WireFrames, AClientsRequestRoundTripsThroughTheHostsFraming) {
  Bytes request;
  BuildRequest(0xA1B2C3D4, Bytes{5, 6}, request);
  EXPECT_EQ(request, (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 0, 0, 0, 0, 5, 6}));
  TFrameHeader header{};
  std::span<const uint8_t> payload;
  ASSERT_TRUE(SplitRequest(request, header, payload));
  Bytes reply;
  BuildReply(header, 7, Bytes{9}, reply);
  EXPECT_EQ(ReplyTag(reply), 0xA1B2C3D4u);
  EXPECT_EQ(ReplyResult(reply), 7);
  EXPECT_EQ(Bytes(ReplyPayload(reply).begin(), ReplyPayload(reply).end()), Bytes{9});
  EXPECT_TRUE(ReplyPayload(Bytes{1, 2, 3, 4, 0, 0, 0, 0}).empty());
}
