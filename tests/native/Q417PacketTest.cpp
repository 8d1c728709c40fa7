#include "Q417Packet.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>

using namespace q417;

namespace {

// One selector: id 5, version 1.2.3.4, error 0, mode 1, channel 3, indicator on, delay 2.5 ms.
const TBytes kWorkedPacket = {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02,
                              0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0x01, 0x19, 0x00};

TBytes Packet(int32_t count, size_t records, uint8_t fill = 0) {
  TBytes p(4 + 17 * records, fill);
  p[0] = uint8_t(count);
  p[1] = uint8_t(uint32_t(count) >> 8);
  p[2] = uint8_t(uint32_t(count) >> 16);
  p[3] = uint8_t(uint32_t(count) >> 24);
  return p;
}

} // namespace

TEST(Q417Packet, WorkedExampleDecodesFieldByField) {
  ASSERT_EQ(PacketRecordCount(kWorkedPacket), 1);
  const TQ417DeviceState s = PacketRecord(kWorkedPacket, 0);
  EXPECT_EQ(s.Q417_DeviceID, 5);
  EXPECT_EQ(FormatVersion(s.Q417_VersionID), "1.2.3.4");
  EXPECT_EQ(s.Q417_Error, 0);
  EXPECT_EQ(s.Q417_State.Q417_Mode, 1);
  EXPECT_EQ(s.Q417_State.Q417_Select, 4);
  EXPECT_EQ(s.Q417_State.Q417_Indicator, 1);
  EXPECT_EQ(int(s.Q417_State.Q417_Delay), 25);
}

TEST(Q417Packet, WorkedExampleChannelFiveTableByteForByte) {
  const TQ417DeviceState shown = PacketRecord(kWorkedPacket, 0);
  TBytes table;
  BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& r) {
    EXPECT_EQ(r.Q417_VersionID, 0) << "bytes no panel writes start as zero";
    r.Q417_DeviceID = shown.Q417_DeviceID;
    r.Q417_State = shown.Q417_State;
    r.Q417_State.Q417_Select = 0x10; // the operator picks channel 5
  });
  const TBytes expected = {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x10, 0x01, 0x19, 0x00};
  EXPECT_EQ(table, expected);
}

TEST(Q417Packet, EncodeIsLittleEndianAndRoundTrips) {
  TQ417DeviceState s{};
  s.Q417_DeviceID = -2;
  s.Q417_VersionID = int32_t(0xFF000001u);
  s.Q417_Error = 0x01020304;
  s.Q417_State = {3, 0x80, 7, 65535};
  uint8_t bytes[17] = {};
  EncodeDeviceState(bytes, s);
  const uint8_t expected[17] = {0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0xFF, 0x04,
                                0x03, 0x02, 0x01, 0x03, 0x80, 0x07, 0xFF, 0xFF};
  EXPECT_EQ(0, memcmp(bytes, expected, 17));
  const TQ417DeviceState back = DecodeDeviceState(bytes);
  EXPECT_EQ(0, memcmp(&back, &s, sizeof s));
  EXPECT_EQ(FormatVersion(back.Q417_VersionID), "255.0.0.1");
  EXPECT_EQ(int(back.Q417_State.Q417_Delay), 65535); // 6553.5 ms, the largest delay
}

TEST(Q417Packet, VersionTextTakesTheMostSignificantByteFirst) {
  const struct { uint32_t id; const char* text; } cases[] = {
      {0x01020304u, "1.2.3.4"}, {0u, "0.0.0.0"}, {0xFFFFFFFFu, "255.255.255.255"}, {0x0A00FF80u, "10.0.255.128"}};
  for (const auto& c : cases) EXPECT_EQ(FormatVersion(int32_t(c.id)), c.text) << std::hex << c.id;
}

TEST(Q417Packet, OnlyCompleteDeliveredRecordsCount) {
  TBytes shortByOne = Packet(3, 3);
  shortByOne.pop_back();
  const struct { const char* what; TBytes packet; int32_t declared, readable; } cases[] = {
      {"empty packet", EmptyPacket(), 0, 0},
      {"no bytes at all", {}, 0, 0},
      {"shorter than the count", {0x01, 0x00, 0x00}, 0, 0},
      {"count only, no record", Packet(1, 0), 1, 0},
      {"negative count", Packet(-1, 2), -1, 0},
      {"most negative count", Packet(INT32_MIN, 1), INT32_MIN, 0},
      {"last record cut short", shortByOne, 3, 2},
      {"more records than stated", Packet(1, 3), 1, 1},
      {"huge count, two records", Packet(INT32_MAX, 2), INT32_MAX, 2},
      {"exact", Packet(2, 2), 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PacketDeclaredCount(c.packet), c.declared);
    EXPECT_EQ(PacketRecordCount(c.packet), c.readable);
    EXPECT_THROW(PacketRecord(c.packet, c.readable), std::out_of_range);
    EXPECT_THROW(PacketRecord(c.packet, -1), std::out_of_range);
  }
}

TEST(Q417Packet, ContainsIdScansOnlyReadableRecords) {
  TBytes p = Packet(2, 2);
  TQ417DeviceState r{};
  r.Q417_DeviceID = 9;
  WritePacketRecord(p, 0, r);
  r.Q417_DeviceID = -3;
  WritePacketRecord(p, 1, r);
  EXPECT_TRUE(PacketContainsId(p, 9));
  EXPECT_TRUE(PacketContainsId(p, -3));
  EXPECT_FALSE(PacketContainsId(p, 0));

  TBytes truncated(p.begin(), p.end() - 1); // record 1 incomplete: id -3 is not delivered
  EXPECT_TRUE(PacketContainsId(truncated, 9));
  EXPECT_FALSE(PacketContainsId(truncated, -3));

  p[0] = 0xFF; p[1] = 0xFF; p[2] = 0xFF; p[3] = 0xFF; // count -1: no records at all
  EXPECT_FALSE(PacketContainsId(p, 9));
  EXPECT_THROW(WritePacketRecord(truncated, 1, r), std::out_of_range);
}

TEST(Q417Packet, TableForThreePanels) {
  TBytes table = {0xAA}; // previous content is replaced
  BuildNextStateTable(table, 3, [](int32_t i, TQ417DeviceState& r) { r.Q417_DeviceID = 10 + i; });
  ASSERT_EQ(table.size(), 55u);
  EXPECT_EQ(TBytes(table.begin(), table.begin() + 4), (TBytes{0x03, 0x00, 0x00, 0x00}));
  ASSERT_EQ(PacketRecordCount(table), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(PacketRecord(table, i).Q417_DeviceID, 10 + i);

  BuildNextStateTable(table, 0, [](int32_t, TQ417DeviceState&) { FAIL(); });
  EXPECT_EQ(table, EmptyPacket());
}
