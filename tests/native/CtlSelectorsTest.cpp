// What q417ctl makes of the selectors: the list read from a packet, the JSON and text it
// prints, the table a set sends with what it waits for, and the changes watch reports.
#include "HexBytes.h"
#include "Q417Packet.h"
#include "SelectorReport.h"
#include "SetPlan.h"
#include "StateChanges.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace q417ctl;
using testing_support::Hex;

namespace {

TQ417DeviceState Selector(int32_t id, uint32_t version, uint8_t mode, uint8_t select, uint8_t indicator, uint16_t delay,
                          int32_t error = 0) {
  TQ417DeviceState s{};
  s.Q417_DeviceID = id;
  s.Q417_VersionID = int32_t(version);
  s.Q417_Error = error;
  s.Q417_State = {mode, select, indicator, delay};
  return s;
}

q417::TBytes PacketOf(const std::vector<TQ417DeviceState>& records) {
  q417::TBytes packet;
  q417::BuildNextStateTable(packet, int32_t(records.size()),
                            [&](int32_t i, TQ417DeviceState& r) { r = records[size_t(i)]; });
  return packet;
}

// Three selectors as a host reports them: 3 is off (and still reports a stale mask), 5 is the
// worked example, 9 holds a mask that is not one channel.
const std::vector<TQ417DeviceState> kSelectors = {
    Selector(3, 0x02010000, 0, 0x02, 0, 100),
    Selector(5, 0x01020304, 1, 0x04, 1, 25),
    Selector(9, 0xFF000001, 2, 0x03, 7, 65535, -4),
};

TCommand SetCommand(int32_t id, TFieldChanges changes, bool all = false) {
  TCommand c;
  c.Kind = TCommandKind::Set;
  c.DeviceId = id;
  c.AllSelectors = all;
  c.Changes = changes;
  return c;
}

} // namespace

TEST(CtlSelectors, ReadsOnePerIdInIdOrderTheLaterRecordWinning) {
  const std::vector<TQ417DeviceState> records = {Selector(9, 1, 1, 1, 0, 0), Selector(-2, 1, 1, 2, 0, 0),
                                                 Selector(9, 1, 3, 8, 0, 0), Selector(5, 1, 1, 4, 0, 0)};
  q417::TBytes packet = PacketOf(records);
  const auto selectors = ReadSelectors(packet);
  ASSERT_EQ(selectors.size(), 3u);
  EXPECT_EQ(int(selectors[0].Q417_DeviceID), -2);
  EXPECT_EQ(int(selectors[1].Q417_DeviceID), 5);
  EXPECT_EQ(int(selectors[2].Q417_DeviceID), 9);
  EXPECT_EQ(int(selectors[2].Q417_State.Q417_Mode), 3) << "the later record of id 9";

  packet.resize(packet.size() - 1); // the last record (id 5) cut short: only complete records count
  EXPECT_EQ(ReadSelectors(packet).size(), 2u);
  EXPECT_EQ(FindSelector(ReadSelectors(packet), 5), nullptr);
  packet.resize(4 + 17 + 5);
  EXPECT_EQ(ReadSelectors(packet).size(), 1u);
  EXPECT_TRUE(ReadSelectors(q417::EmptyPacket()).empty());
  EXPECT_TRUE(ReadSelectors({}).empty());
}

TEST(CtlSelectors, JsonHasExactlyTheKeysWithTheirTypes) {
  EXPECT_EQ(JsonObject(kSelectors[1]), "{\"id\":5,\"version\":\"1.2.3.4\",\"error\":0,\"mode\":1,\"select\":4,"
                                       "\"channel\":3,\"indicator\":1,\"delay_ms\":2.5}");
  const auto array = nlohmann::json::parse(JsonArray(kSelectors));
  ASSERT_TRUE(array.is_array());
  ASSERT_EQ(array.size(), 3u);
  const auto& off = array[0];
  EXPECT_EQ(off["channel"], 2) << "the mask as reported, even under mode 0";
  EXPECT_EQ(off["delay_ms"], 10);
  const auto& odd = array[2];
  EXPECT_EQ(odd.size(), 8u);
  EXPECT_EQ(odd["version"], "255.0.0.1");
  EXPECT_EQ(odd["error"], -4);
  EXPECT_EQ(odd["select"], 3);
  EXPECT_TRUE(odd["channel"].is_null()) << "a mask of two channels is no channel number";
  EXPECT_EQ(odd["indicator"], 7);
  EXPECT_DOUBLE_EQ(odd["delay_ms"].get<double>(), 6553.5);
  EXPECT_EQ(JsonArray({}), "[]");
  const auto none = nlohmann::json::parse(JsonObject(Selector(-7, 0, 0, 0, 0, 0)));
  EXPECT_EQ(none["id"], -7);
  EXPECT_EQ(none["channel"], 0);
}

TEST(CtlSelectors, TextRowsShowWhatThePanelShows) {
  EXPECT_EQ(TableHeader(), "         id  version          mode  channel    indicator  delay_ms\n");
  EXPECT_EQ(TableRow(kSelectors[1]), "          5  1.2.3.4             1  3          on              2.5\n");
  EXPECT_EQ(TableRow(kSelectors[2]), "          9  255.0.0.1           2  mask 0x03  7            6553.5\n");
  const std::string line = WatchText("2026-12-10T10:15:30.123+01:00", TStateEvent::Changed, kSelectors[1]);
  EXPECT_EQ(line, "2026-12-10T10:15:30.123+01:00  changed            5  1.2.3.4             1  3          on              2.5");
  const auto json = nlohmann::json::parse(WatchJson("2026-12-10T10:15:30.123+01:00", TStateEvent::Removed, kSelectors[0]));
  EXPECT_EQ(json["time"], "2026-12-10T10:15:30.123+01:00");
  EXPECT_EQ(json["event"], "removed");
  EXPECT_EQ(json["id"], 3);
  EXPECT_EQ(json.size(), 10u);
}

TEST(CtlSelectors, TimeStampsCarryMillisecondsAndTheOffset) {
  EXPECT_EQ(Iso8601({2026, 12, 10, 10, 15, 30, 123, 60}), "2026-12-10T10:15:30.123+01:00");
  EXPECT_EQ(Iso8601({2026, 1, 2, 3, 4, 5, 6, 0}), "2026-01-02T03:04:05.006+00:00");
  EXPECT_EQ(Iso8601({2026, 7, 1, 23, 59, 59, 999, -210}), "2026-07-01T23:59:59.999-03:30");
  EXPECT_EQ(Iso8601({2026, 7, 1, 0, 0, 0, 0, 345}), "2026-07-01T00:00:00.000+05:45");
}

TEST(CtlSelectors, SetSendsEverySelectorWithOnlyTheNamedFieldsChanged) {
  TFieldChanges changes;
  changes.Select = 0x10;
  changes.Delay = 30;
  const TSetPlan plan = PlanSet(kSelectors, SetCommand(5, changes));
  ASSERT_EQ(plan.Refusal, kExitDone) << plan.Error;
  // 3: off, its stale mask sent back as 0 (as the panel shows it); 5: channel 5 and 3 ms, the rest
  // as reported; 9: the odd values sent back as they are. Versions and errors 0.
  EXPECT_EQ(Hex(plan.Table), "03000000"
                             "03000000" "00000000" "00000000" "00" "00" "00" "6400"
                             "05000000" "00000000" "00000000" "01" "10" "01" "1e00"
                             "09000000" "00000000" "00000000" "02" "03" "07" "ffff");
  ASSERT_EQ(plan.Expected.size(), 1u);
  EXPECT_EQ(plan.Expected[0].DeviceId, 5);
  EXPECT_EQ(plan.Expected[0].Values.Select, 0x10);
  EXPECT_EQ(plan.Expected[0].Values.Delay, 30);
  EXPECT_FALSE(plan.Expected[0].Values.Mode) << "fields not named are not waited for";
}

TEST(CtlSelectors, SetAllModeOffExpectsNoChannelAnywhere) {
  TFieldChanges changes;
  changes.Mode = 0;
  const TSetPlan plan = PlanSet(kSelectors, SetCommand(0, changes, true));
  ASSERT_EQ(plan.Refusal, kExitDone) << plan.Error;
  EXPECT_EQ(Hex(plan.Table), "03000000"
                             "03000000" "00000000" "00000000" "00" "00" "00" "6400"
                             "05000000" "00000000" "00000000" "00" "00" "01" "1900"
                             "09000000" "00000000" "00000000" "00" "00" "07" "ffff");
  ASSERT_EQ(plan.Expected.size(), 3u);
  for (const TExpectation& e : plan.Expected) {
    EXPECT_EQ(e.Values.Mode, 0);
    EXPECT_EQ(e.Values.Select, 0) << e.DeviceId;
  }
}

TEST(CtlSelectors, SetRefusesWhatCannotBeSent) {
  TFieldChanges channel3;
  channel3.Select = 0x04;
  TSetPlan plan = PlanSet(kSelectors, SetCommand(4, channel3));
  EXPECT_EQ(plan.Refusal, kExitNoSelector);
  EXPECT_EQ(plan.Error, "no selector with id 4 is connected");
  EXPECT_TRUE(plan.Table.empty());

  EXPECT_EQ(PlanSet({}, SetCommand(0, channel3, true)).Refusal, kExitNoSelector);

  // Selector 3 stays off: a channel other than none is refused, for it alone or with all.
  plan = PlanSet(kSelectors, SetCommand(3, channel3));
  EXPECT_EQ(plan.Refusal, kExitUsage);
  EXPECT_NE(plan.Error.find("selector 3 would be in mode 0"), std::string::npos) << plan.Error;
  EXPECT_EQ(PlanSet(kSelectors, SetCommand(0, channel3, true)).Refusal, kExitUsage);
  TFieldChanges offWithChannel = channel3;
  offWithChannel.Mode = 0;
  EXPECT_EQ(PlanSet(kSelectors, SetCommand(5, offWithChannel)).Refusal, kExitUsage);

  // Turning it on with a channel, or naming no channel, is fine.
  TFieldChanges on = channel3;
  on.Mode = 2;
  EXPECT_EQ(PlanSet(kSelectors, SetCommand(3, on)).Refusal, kExitDone);
  TFieldChanges none;
  none.Select = 0;
  EXPECT_EQ(PlanSet(kSelectors, SetCommand(3, none)).Refusal, kExitDone);
}

TEST(CtlSelectors, UnconfirmedNamesEveryFieldNotReportedYet) {
  TFieldChanges changes;
  changes.Mode = 1;
  changes.Select = 0x10;
  changes.Indicator = 0;
  changes.Delay = 25;
  const std::vector<TExpectation> expected = {{5, changes}, {7, changes}};
  EXPECT_EQ(Unconfirmed(expected, kSelectors),
            "selector 5: channel=5 (reports 3), indicator=off (reports on); selector 7: not connected");
  std::vector<TQ417DeviceState> now = kSelectors;
  now[1].Q417_State = {1, 0x10, 0, 25};
  now.push_back(Selector(7, 0, 1, 0x10, 0, 25));
  EXPECT_EQ(Unconfirmed(expected, now), "");
}

TEST(CtlSelectors, WatchReportsAddedChangedAndRemovedInIdOrder) {
  EXPECT_EQ(PresentSelectors(kSelectors).size(), 3u);
  std::vector<TQ417DeviceState> next = {kSelectors[1], kSelectors[2], Selector(12, 0, 1, 1, 1, 1)};
  next[1].Q417_Error = 0; // only the error changed: still a change of the record
  const auto changes = ChangesBetween(kSelectors, next);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].Event, TStateEvent::Removed);
  EXPECT_EQ(int(changes[0].Selector.Q417_DeviceID), 3);
  EXPECT_EQ(int(changes[0].Selector.Q417_State.Q417_Delay), 100) << "a removal shows the last state seen";
  EXPECT_EQ(changes[1].Event, TStateEvent::Changed);
  EXPECT_EQ(int(changes[1].Selector.Q417_DeviceID), 9);
  EXPECT_EQ(changes[2].Event, TStateEvent::Added);
  EXPECT_EQ(int(changes[2].Selector.Q417_DeviceID), 12);

  EXPECT_TRUE(ChangesBetween(kSelectors, kSelectors).empty());
  EXPECT_EQ(ChangesBetween(kSelectors, {}).size(), 3u);
  EXPECT_EQ(ChangesBetween({}, kSelectors).size(), 3u);
}
