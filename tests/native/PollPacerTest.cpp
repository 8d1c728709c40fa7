#include "PollPacer.h"

#include <gtest/gtest.h>

using nvq417::TPollPacer;
using Bytes = std::vector<uint8_t>;

TEST(PollPacer, ChangesGoAtOnceAndTheUnchangedStateAfterTheHoldTime) {
  TPollPacer pacer(200, 100);
  const Bytes a = {1, 0, 0, 0, 5}, b = {1, 0, 0, 0, 6};
  EXPECT_TRUE(pacer.Decide(a, 0).Deliver) << "the first answer always goes";
  pacer.Delivered(a);

  const struct { Bytes packet; uint64_t elapsed; bool deliver; uint32_t wait; } cases[] = {
      {a, 0, false, 100},   // unchanged: ask again
      {a, 150, false, 50},  // never past the hold time
      {a, 199, false, 1},
      {a, 200, true, 0},    // the hold time is over
      {a, 250, true, 0},
      {b, 0, true, 0},      // a change goes at once
      {Bytes{1, 0, 0, 0}, 10, true, 0},
      {Bytes{}, 10, true, 0},
  };
  for (const auto& c : cases) {
    const auto d = pacer.Decide(c.packet, c.elapsed);
    EXPECT_EQ(d.Deliver, c.deliver) << c.elapsed;
    EXPECT_EQ(d.WaitMs, c.wait) << c.elapsed;
  }
  pacer.Delivered(b); // a table's answer counts as delivered too
  EXPECT_FALSE(pacer.Decide(b, 0).Deliver);
  EXPECT_TRUE(pacer.Decide(a, 0).Deliver);
}

TEST(PollPacer, TheHostIsAskedAtMostEveryRepollPeriod) {
  const TPollPacer pacer(200, 100);
  EXPECT_EQ(pacer.WaitBeforeAsking(0), 100u);
  EXPECT_EQ(pacer.WaitBeforeAsking(30), 70u);
  EXPECT_EQ(pacer.WaitBeforeAsking(100), 0u);
  EXPECT_EQ(pacer.WaitBeforeAsking(5000), 0u);
}
