#include "SharedPacketQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace q417;

TEST(UpdateContr, DeliveriesWithoutDataBecomeTheEmptyPacket) {
  const uint8_t bytes[] = {1, 0, 0, 0, 9};
  const struct { const char* what; const uint8_t* data; int32_t length; TBytes packet; } cases[] = {
      {"length 0", bytes, 0, EmptyPacket()},
      {"negative length", bytes, -5, EmptyPacket()},
      {"null address", nullptr, 21, EmptyPacket()},
      {"partial packet is kept as delivered", bytes, 2, TBytes{1, 0}},
      {"whole delivery", bytes, 5, TBytes{1, 0, 0, 0, 9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto container = MakeUpdateContr(c.data, c.length);
    ASSERT_TRUE(container);
    EXPECT_EQ(container->Packet, c.packet);
  }
}

TEST(SharedPacketQueue, FirstInFirstOutAcrossThreads) {
  TSharedPacketQueue queue;
  EXPECT_EQ(queue.PopPacket(), nullptr);
  EXPECT_EQ(queue.Count(), 0);

  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const uint8_t tag[2] = {uint8_t(t), uint8_t(i % 251)};
        queue.PushPacket(MakeUpdateContr(tag, 2));
      }
    });
  std::vector<int> next(kThreads, 0);
  int popped = 0;
  while (popped < kThreads * kEach) {
    if (auto c = queue.PopPacket()) {
      const int t = c->Packet[0];
      EXPECT_EQ(c->Packet[1], next[t] % 251) << "each producer's packets stay in order";
      ++next[t];
      ++popped;
    }
  }
  for (auto& p : producers) p.join();
  EXPECT_EQ(queue.Count(), 0);
}
