// The Q417 client library's request handling over a fake line to simulated selectors (the
// simulator's own protocol), with time-outs, garbled answers and references that change
// selector injected where the line cannot deliver them in-process.
#include "SelectorUpdate.h"

#include "SelectorSim.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <vector>

using namespace q417client;

namespace {

constexpr int32_t kTimeout = 258; // the serial library's WAIT_TIMEOUT
constexpr int32_t kInvalidRef = 6;

class FakeLine : public ISelectorLine {
public:
  std::map<int32_t, selsim::TSelector> selectors;                 // reference -> selector
  std::map<std::pair<int32_t, std::string>, int32_t> failures;    // (reference, command word) -> code
  std::map<std::pair<int32_t, std::string>, std::string> garbled; // (reference, command word) -> answer
  std::vector<std::string> log;                                   // "ref command", in order

  void Add(int32_t ref, int32_t id, int32_t version, const char* set = nullptr) {
    selsim::TSelectorState s;
    s.Id = id;
    s.Version = version;
    selectors.insert_or_assign(ref, selsim::TSelector(s));
    if (set) selectors.at(ref).Answer(set);
  }
  std::string State(int32_t ref) { return selsim::FormatState(selectors.at(ref).State()); }

  int32_t Command(int32_t ref, const std::string& command, std::string& reply) override {
    log.push_back(std::to_string(ref) + " " + command);
    const std::pair key(ref, command.substr(0, command.find(' ')));
    if (const auto f = failures.find(key); f != failures.end()) return f->second;
    const auto it = selectors.find(ref);
    if (it == selectors.end()) return kInvalidRef;
    reply = it->second.Answer(command);
    if (const auto g = garbled.find(key); g != garbled.end()) reply = g->second;
    return 0;
  }
};

TQ417DeviceState Record(int32_t id, uint8_t mode, uint8_t select, uint8_t indicator, uint16_t delay) {
  TQ417DeviceState r{};
  r.Q417_DeviceID = id;
  r.Q417_State = {mode, select, indicator, delay};
  return r;
}

q417::TBytes Table(const std::vector<TQ417DeviceState>& records) {
  q417::TBytes table;
  q417::BuildNextStateTable(table, int32_t(records.size()),
                            [&](int32_t i, TQ417DeviceState& r) { r = records[size_t(i)]; });
  return table;
}

// "id mode select indicator delay" of every record, for short comparisons.
std::vector<std::string> Summary(const q417::TBytes& packet) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < q417::PacketRecordCount(packet); ++i) {
    const TQ417DeviceState r = q417::PacketRecord(packet, i);
    const TQ417State& s = r.Q417_State;
    out.push_back(std::to_string(r.Q417_DeviceID) + " " + std::to_string(s.Q417_Mode) + " " +
                  std::to_string(s.Q417_Select) + " " + std::to_string(s.Q417_Indicator) + " " +
                  std::to_string(s.Q417_Delay));
  }
  return out;
}

// Three selectors behind references 11, 12 and 13.
class SelectorUpdate : public testing::Test {
protected:
  void SetUp() override {
    line.Add(11, 5, 0x01020304, "SET 1 4 1 25");
    line.Add(12, -7, 0x7F000001, "SET 2 128 0 65535");
    line.Add(13, 300, 1);
  }
  int32_t Serve(const q417::TBytes& request, std::vector<int32_t> refs = {11, 12, 13}) {
    line.log.clear();
    return ServeRequest(request, refs, line, response);
  }
  FakeLine line;
  q417::TBytes response;
};

} // namespace

TEST_F(SelectorUpdate, PollAnswersEverySelectorInReferenceOrder) {
  EXPECT_EQ(Serve({}, {13, 11, 12}), Q417CLIENT_OK);
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"300 0 0 0 0", "5 1 4 1 25", "-7 2 128 0 65535"}));
  ASSERT_EQ(response.size(), 4u + 3 * 17);
  EXPECT_EQ(q417::PacketRecord(response, 1).Q417_VersionID, 0x01020304);
  EXPECT_EQ(q417::PacketRecord(response, 2).Q417_VersionID, 0x7F000001);
  EXPECT_EQ(line.log, (std::vector<std::string>{"13 GET", "11 GET", "12 GET"}));

  EXPECT_EQ(Serve({}, {}), Q417CLIENT_OK);
  EXPECT_EQ(response, q417::EmptyPacket());
  EXPECT_EQ(Serve(Table({Record(5, 3, 1, 0, 0)}), {}), Q417CLIENT_OK) << "a table without selectors";
  EXPECT_EQ(response, q417::EmptyPacket());
}

TEST_F(SelectorUpdate, TableSetsOnlyTheSelectorsWhoseStateDiffers) {
  TQ417DeviceState withVersion = Record(5, 3, 16, 0, 1000);
  withVersion.Q417_VersionID = 0x55;
  withVersion.Q417_Error = 9; // neither is the table's to change
  const q417::TBytes table = Table({
      Record(300, 1, 2, 0, 7),    // overridden by the later record of the same id
      Record(-7, 2, 128, 0, 65535), // as the selector already is
      Record(4242, 1, 1, 1, 1),   // no such selector
      withVersion,
      Record(300, 0, 64, 1, 3),   // mode 0: the selector routes no channel
  });
  EXPECT_EQ(Serve(table), Q417CLIENT_OK);
  EXPECT_EQ(line.log, (std::vector<std::string>{"11 GET", "11 SET 3 16 0 1000", "12 GET", "13 GET", "13 SET 0 64 1 3"}));
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"5 3 16 0 1000", "-7 2 128 0 65535", "300 0 0 1 3"}));
  EXPECT_EQ(q417::PacketRecord(response, 0).Q417_VersionID, 0x01020304);
  EXPECT_EQ(q417::PacketRecord(response, 0).Q417_Error, 0);
  EXPECT_EQ(line.State(11), "STATE 5 16909060 0 3 16 0 1000");
}

TEST_F(SelectorUpdate, FailingSelectorsAreLeftOutAndTheOthersServed) {
  const q417::TBytes table = Table({Record(5, 2, 2, 0, 1), Record(-7, 1, 1, 1, 1), Record(300, 3, 8, 1, 80)});
  struct Case {
    const char* what;
    std::pair<int32_t, std::string> where;
    int32_t code;         // the line's result, or 0 with the garbled answer below
    const char* answer;
    int32_t expected;
    std::vector<std::string> packet;
  };
  const std::vector<Case> cases = {
      {"GET times out", {12, "GET"}, kTimeout, nullptr, Q417CLIENT_SELECTOR_LEFT_OUT,
       {"5 2 2 0 1", "300 3 8 1 80"}},
      {"reference closed", {12, "GET"}, kInvalidRef, nullptr, Q417CLIENT_SELECTOR_LEFT_OUT,
       {"5 2 2 0 1", "300 3 8 1 80"}},
      {"GET answer is no state", {12, "GET"}, 0, "STATE -7 1 0", Q417CLIENT_SELECTOR_LEFT_OUT,
       {"5 2 2 0 1", "300 3 8 1 80"}},
      {"SET times out: its state is unknown", {12, "SET"}, kTimeout, nullptr, Q417CLIENT_SELECTOR_LEFT_OUT,
       {"5 2 2 0 1", "300 3 8 1 80"}},
      {"SET answered by another selector", {12, "SET"}, 0, "STATE 99 0 0 1 1 1 1", Q417CLIENT_SELECTOR_LEFT_OUT,
       {"5 2 2 0 1", "300 3 8 1 80"}},
      {"SET refused", {12, "SET"}, 0, "ERROR 3 bad SET arguments", Q417CLIENT_SET_REFUSED,
       {"5 2 2 0 1", "-7 2 128 0 65535", "300 3 8 1 80"}},
  };
  for (const Case& c : cases) {
    SetUp();
    line.failures.clear();
    line.garbled.clear();
    if (c.answer) line.garbled[c.where] = c.answer;
    else line.failures[c.where] = c.code;
    EXPECT_EQ(Serve(table), c.expected) << c.what;
    EXPECT_EQ(Summary(response), c.packet) << c.what;
    EXPECT_EQ(line.State(13), "STATE 300 1 0 3 8 1 80") << c.what << ": the selector after the failing one is set";
  }
}

TEST_F(SelectorUpdate, SelectorRefusingItsSetKeepsItsStateAndTheRestIsApplied) {
  // Channel mask 3 is two channels: the selector refuses it.
  EXPECT_EQ(Serve(Table({Record(5, 1, 3, 1, 25), Record(300, 2, 32, 1, 9)})), Q417CLIENT_SET_REFUSED);
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"5 1 4 1 25", "-7 2 128 0 65535", "300 2 32 1 9"}));
  EXPECT_EQ(line.State(11), "STATE 5 16909060 0 1 4 1 25");

  // A selector left out outranks a refusal.
  line.failures[{12, "GET"}] = kTimeout;
  EXPECT_EQ(Serve(Table({Record(5, 1, 3, 1, 25)})), Q417CLIENT_SELECTOR_LEFT_OUT);
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"5 1 4 1 25", "300 2 32 1 9"}));
}

TEST_F(SelectorUpdate, RequestsThatAreNoTableChangeNothing) {
  q417::TBytes negative = Table({Record(5, 3, 1, 0, 0)});
  negative[3] = 0x80; // count -2147483647
  for (const q417::TBytes& request : {q417::TBytes{0}, q417::TBytes{1, 0}, q417::TBytes{1, 0, 0}, negative,
                                      q417::TBytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
    response = {9};
    EXPECT_EQ(Serve(request), Q417CLIENT_BAD_REQUEST) << request.size() << " bytes";
    EXPECT_TRUE(response.empty());
    EXPECT_TRUE(line.log.empty()) << "no selector is asked";
  }
}

TEST_F(SelectorUpdate, ShortTableAppliesItsCompleteRecordsOnly) {
  q417::TBytes table = Table({Record(5, 3, 1, 0, 0), Record(300, 1, 1, 1, 1)});
  table.resize(table.size() - 1); // the second record lacks its last byte
  EXPECT_EQ(Serve(table), Q417CLIENT_TABLE_SHORT);
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"5 3 1 0 0", "-7 2 128 0 65535", "300 0 0 0 0"}));

  // Bytes beyond the stated count are not records.
  table = Table({Record(5, 2, 2, 0, 0), Record(300, 1, 1, 1, 1)});
  table[0] = 1;
  EXPECT_EQ(Serve(table), Q417CLIENT_OK);
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"5 2 2 0 0", "-7 2 128 0 65535", "300 0 0 0 0"}));
}

TEST_F(SelectorUpdate, ReferenceNowLeadingToAnotherSelectorGetsNoStaleRecord) {
  ASSERT_EQ(Serve({}), Q417CLIENT_OK); // reference 11 leads to id 5 here
  line.Add(11, 9, 0x02000000);         // the device went and another took its reference
  EXPECT_EQ(Serve(Table({Record(5, 3, 128, 1, 500)})), Q417CLIENT_OK);
  EXPECT_EQ(line.log, (std::vector<std::string>{"11 GET", "12 GET", "13 GET"})) << "no SET for id 5";
  EXPECT_EQ(Summary(response), (std::vector<std::string>{"9 0 0 0 0", "-7 2 128 0 65535", "300 0 0 0 0"}));
}
