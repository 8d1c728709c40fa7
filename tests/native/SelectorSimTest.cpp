#include "SelectorSim.h"

#include <gtest/gtest.h>

using namespace selsim;

TEST(SelectorSim, AnswersEachCommandLine) {
  TSelectorState s;
  s.Id = 3;
  s.Version = 0x01020304;
  TSelector selector(s);
  EXPECT_EQ(selector.Receive("HELLO\n"), "SELECTOR 00000417 3 16909060\n");
  EXPECT_EQ(selector.Receive("GET\r\n"), "STATE 3 16909060 0 0 0 0 0\n");
  // Bytes may arrive in pieces; two commands in one piece give two answers in order.
  EXPECT_EQ(selector.Receive("SET 2 4 1 "), "");
  EXPECT_EQ(selector.Receive("250\nGET\n"), "STATE 3 16909060 0 2 4 1 250\nSTATE 3 16909060 0 2 4 1 250\n");
  EXPECT_EQ(selector.Receive("SET 0 8 0 7\n"), "STATE 3 16909060 0 0 0 0 7\n") << "mode 0 clears the channel";
}

TEST(SelectorSim, RefusesBadCommandsWithoutChangingState) {
  TSelector selector(TSelectorState{});
  const TSelectorState before = selector.State();
  for (const char* line : {"SET 4 1 0 0", "SET 1 3 0 0", "SET 1 1 2 0", "SET 1 1 0 65536", "SET 1 1 0", "SET a 1 0 0",
                           "SET -1 1 0 0", "get", "HELLO X"}) {
    const std::string answer = selector.Receive(std::string(line) + "\n");
    EXPECT_EQ(answer.rfind("ERROR ", 0), 0u) << line << " -> " << answer;
  }
  EXPECT_EQ(FormatState(selector.State()), FormatState(before));
  EXPECT_EQ(selector.Receive(std::string(500, 'A') + "\nGET\n"),
            "ERROR 2 line too long\n" + FormatState(before) + "\n");
}

TEST(SelectorSim, StartingSelectorIgnoresItsFirstHellos) {
  TSelector selector(TSelectorState{}, 0x10, 2);
  EXPECT_EQ(selector.Receive("HELLO\n"), "");
  EXPECT_EQ(selector.Receive("HELLO\n"), "");
  uint32_t type = 0;
  int32_t id = 0, version = 0;
  const std::string answer = selector.Receive("HELLO\n");
  ASSERT_TRUE(ParseHelloLine(answer.substr(0, answer.size() - 1), type, id, version)) << answer;
  EXPECT_EQ(type, 0x10u);
  EXPECT_EQ(id, 1);
}

TEST(SelectorSim, ParsesAnswersAndSelectorLists) {
  TSelectorState s;
  EXPECT_TRUE(ParseStateLine("STATE 9 -1 5 3 128 1 65535", s));
  EXPECT_EQ(s.Id, 9);
  EXPECT_EQ(s.Version, -1);
  EXPECT_EQ(s.Select, 128u);
  EXPECT_FALSE(ParseStateLine("STATE 9 1 5 3 128 1", s));
  EXPECT_FALSE(ParseStateLine("STATE 9 1 5 4 128 1 0", s));
  uint32_t type = 0;
  int32_t id = 0, version = 0;
  EXPECT_FALSE(ParseHelloLine("SELECTOR zz 1 1", type, id, version));

  std::vector<TSelectorSpec> list;
  ASSERT_TRUE(ParseSelectorList("3, 5:0x01020304 ; 9:1:0x10 # comment, 11\n\n 12", list));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[1].State.Version, 0x01020304);
  EXPECT_EQ(list[2].DeviceType, 0x10u);
  EXPECT_EQ(list[3].State.Id, 12);
  EXPECT_FALSE(ParseSelectorList("3, x", list));
  EXPECT_FALSE(ParseSelectorList("3:1:2:4", list));
  EXPECT_EQ(list.size(), 4u) << "a bad list leaves the old one";
}

TEST(SelectorSim, SelectorListsMayGiveAStartingState) {
  std::vector<TSelectorSpec> list;
  ASSERT_TRUE(ParseSelectorList("3:0x02010000:0x417:2:0x02:1:100, 4:1:0x417:0:8:0:0", list));
  EXPECT_EQ(list[0].State.Mode, 2u);
  EXPECT_EQ(list[0].State.Select, 2u);
  EXPECT_EQ(list[0].State.Indicator, 1u);
  EXPECT_EQ(list[0].State.Delay, 100u);
  EXPECT_EQ(list[1].State.Select, 0u) << "a selector that is off routes no channel";
  for (const char* bad : {"3:1:0x417:4:0:0:0", "3:1:0x417:1:3:0:0", "3:1:0x417:1:1:2:0", "3:1:0x417:1:1:1:65536"})
    EXPECT_FALSE(ParseSelectorList(bad, list)) << bad;
}
