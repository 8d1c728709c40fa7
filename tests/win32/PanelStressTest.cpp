// Q417Panel.exe fed 10,000 random update packets through the device API library's test double:
// random counts (negative, huge, more records than delivered), lengths cut inside the count or a
// record, lengths longer than the bytes, random bytes in every field, empty and null deliveries.
// The double fences every packet (its last byte is followed by a page that may not be read, see
// tests/doubles/README.md), so a read past a packet's end would end the panel. Random choices
// come from one seed, printed, and taken from Q417_STRESS_SEED when set.
#include "NVQ417ApiDouble.h"
#include "NVQ417Hdr.h"
#include "PanelDriver.h"
#include "PanelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace testing_support;
using namespace panel_driver;

namespace {

using TBytes = std::vector<uint8_t>;

void Put32(TBytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
}

void Append(TBytes& to, const TBytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// Random packets in the double's script form, in runs of one kind, since making and removing a
// device panel costs the panel tens of milliseconds under Wine: runs that keep selectors 2 and
// 7, runs without a readable record, and short runs of random selectors.
class TRandomPackets {
public:
  enum TKind { Keeping, NoRecord, AnySelectors };

  explicit TRandomPackets(uint32_t seed) : fRandom(seed) {
    for (auto& state : fShown) state = Bytes(5);
  }

  std::vector<std::string> Make(size_t count) {
    std::vector<std::string> packets;
    while (packets.size() < count) {
      const unsigned pick = fRandom() % 10;
      const TKind kind = packets.empty() || pick < 4 ? Keeping : pick < 8 ? NoRecord : AnySelectors;
      const size_t run = kind == AnySelectors ? 1 + fRandom() % 8 : 20 + fRandom() % 150;
      for (size_t i = 0; i < run && packets.size() < count; ++i, ++fTally[kind])
        packets.push_back(kind == Keeping    ? Hex(KeepingPacket())
                          : kind == NoRecord ? NoRecordPacket()
                                             : Hex(AnyPacket()));
    }
    return packets;
  }

  size_t Tally(TKind kind) const { return fTally[kind]; }

private:
  TBytes Bytes(size_t size) {
    TBytes bytes(size);
    for (auto& b : bytes) b = uint8_t(fRandom());
    return bytes;
  }

  // Mode, select, indicator and delay: random bytes, as often inside their domains as outside.
  TBytes State() {
    TBytes state = Bytes(5);
    if (fRandom() % 2) state[0] = uint8_t(fRandom() % 4);
    if (fRandom() % 2) state[1] = uint8_t(1u << (fRandom() % 8));
    if (fRandom() % 2) state[2] = uint8_t(fRandom() % 2);
    return state;
  }

  TBytes Record(int32_t id, const TBytes& state) {
    TBytes record;
    Put32(record, uint32_t(id));
    Append(record, Bytes(8)); // version and error
    Append(record, state);
    return record;
  }

  // Selectors 2 and 7 readable, and nothing else: a count of at least 2 (up to far more than were
  // delivered), their records in any order and more than once, a cut record behind them. What
  // they show changes now and then (each change repaints a panel).
  TBytes KeepingPacket() {
    for (auto& state : fShown)
      if (fRandom() % 8 == 0) state = State();
    std::vector<int32_t> ids = {2, 7};
    for (unsigned more = fRandom() % 4; more > 0; --more) ids.push_back(fRandom() % 2 ? 2 : 7);
    std::shuffle(ids.begin(), ids.end(), fRandom);
    static const int32_t counts[] = {2, 1000000, INT32_MAX};
    const int32_t count =
        fRandom() % 2 ? int32_t(ids.size()) : std::max(counts[fRandom() % 3], int32_t(2 + fRandom() % 8));
    TBytes packet;
    Put32(packet, uint32_t(count));
    for (const int32_t id : ids) Append(packet, Record(id, fShown[id == 2 ? 0 : 1]));
    Append(packet, Bytes(fRandom() % 17));
    return packet;
  }

  // A delivery in which no record can be read.
  std::string NoRecordPacket() {
    TBytes packet;
    switch (fRandom() % 7) {
    case 0: return "empty";
    case 1: {
      static const int32_t lengths[] = {0, -1, 1, 4, 21, 100000, INT32_MAX, INT32_MIN};
      return "null:" + std::to_string(lengths[fRandom() % std::size(lengths)]);
    }
    case 2: return Hex(Bytes(1 + fRandom() % 3)); // shorter than a count
    case 3: { // a count of 0 or less, a record or garbage behind it
      static const int32_t counts[] = {0, -1, INT32_MIN};
      Put32(packet, uint32_t(fRandom() % 2 ? counts[fRandom() % 3] : -int32_t(1 + fRandom() % 100000)));
      Append(packet, fRandom() % 2 ? Record(2, State()) : Bytes(fRandom() % 300));
      return Hex(packet);
    }
    case 4: // a count of records, cut inside the first
      Put32(packet, 1 + fRandom() % 50);
      Append(packet, Record(7, State()));
      packet.resize(4 + fRandom() % 17);
      return Hex(packet);
    default: { // a whole packet, or random bytes, with a length longer than its bytes
      static const uint32_t over[] = {1, 13, 17, 4096, 100000};
      const TBytes bytes = fRandom() % 2 ? KeepingPacket() : Bytes(1 + fRandom() % 300);
      return Hex(bytes) + "+" + std::to_string(over[fRandom() % std::size(over)]);
    }
    }
  }

  // A random count and up to three records of random selectors, often cut after the count.
  TBytes AnyPacket() {
    TBytes packet;
    const uint32_t records = fRandom() % 4;
    Put32(packet, fRandom() % 2 ? records : uint32_t(fRandom()));
    for (uint32_t i = 0; i < records; ++i)
      Append(packet, Record(fRandom() % 3 == 0 ? int32_t(fRandom()) : int32_t(fRandom() % 12) - 3, State()));
    if (fRandom() % 2) packet.resize(4 + fRandom() % (packet.size() - 3));
    return packet;
  }

  std::mt19937 fRandom;
  TBytes fShown[2]; // what selectors 2 and 7 show in the packets that keep them
  size_t fTally[3] = {};
};

// What the double hands to the update callback, seen from inside it: the protection of the last
// byte of the given length and of the first byte past it.
struct TSeen {
  const uint8_t* data = nullptr;
  int32_t length = 0;
  DWORD lastByte = 0, pastEnd = 0;
};
std::vector<TSeen> gSeen;

MEMORY_BASIC_INFORMATION Query(const void* at) {
  MEMORY_BASIC_INFORMATION info{};
  ::VirtualQuery(at, &info, sizeof info);
  return info;
}

void WINAPI Look(int32_t, const uint8_t* data, int32_t length, void*) {
  TSeen seen{data, length, 0, 0};
  if (data && length > 0) seen.lastByte = Query(data + length - 1).Protect;
  if (data && length >= 0) seen.pastEnd = Query(data + length).Protect;
  gSeen.push_back(seen);
}

} // namespace

// Without a real fence the test below could not catch a read past a packet: check the fence.
TEST(PanelStress, TheDoubleFencesEveryPacket) {
  ASSERT_EQ(NVQ417Double_SetScript("fence\npoll 997 now 0100000005000000 empty 0a0b+3\n"), 0);
  int32_t ref = 0, scratch = 0;
  ASSERT_EQ(NVQ417_Initialise(&ref, &scratch, nullptr, nullptr), 997);
  void* slot = nullptr;
  gSeen.clear();
  ASSERT_EQ(_NVQ417_Update(ref, &scratch, nullptr, &slot, Look, nullptr), 997);
  ASSERT_EQ(gSeen.size(), 3u);
  EXPECT_EQ(gSeen[0].length, 8);
  EXPECT_EQ(gSeen[0].lastByte, DWORD(PAGE_READONLY));
  EXPECT_EQ(gSeen[0].pastEnd, DWORD(PAGE_NOACCESS));
  EXPECT_EQ(gSeen[1].length, 0);
  EXPECT_EQ(gSeen[1].pastEnd, DWORD(PAGE_NOACCESS)) << "an empty packet's address leads straight into the fence";
  EXPECT_EQ(gSeen[2].length, 5);
  EXPECT_EQ(gSeen[2].lastByte, DWORD(PAGE_NOACCESS)) << "a length longer than the bytes reaches into the fence";
  for (const TSeen& seen : gSeen) {
    ASSERT_NE(seen.data, nullptr);
    EXPECT_EQ(Query(seen.data).State, DWORD(MEM_FREE)) << "released once the callback returned";
  }
}

TEST(PanelStress, TenThousandRandomPacketsNeitherEndNorMisleadThePanel) {
  constexpr int kPackets = 10000;
  TRandomPackets random(StressSeed());
  std::string script = "init 997 now 0\nfence\n";
  for (const std::string& packet : random.Make(kPackets)) script += "poll 997 thread " + packet + "\n";
  std::printf("%zu packets keep selectors 2 and 7, %zu hold no readable record, %zu bring random selectors\n",
              random.Tally(TRandomPackets::Keeping), random.Tally(TRandomPackets::NoRecord),
              random.Tally(TRandomPackets::AnySelectors));
  // The last rule repeats: from then on every poll is answered with these two selectors.
  const TSelector two{2, 0x01020304, 1, 0x04, 1, 25}, seven{7, 0x05060708, 3, 0x80, 0, 65535};
  script += "poll 997 thread " + PacketHex({seven, two}) + "\n";

  TPanelRun panel(script);
  ASSERT_TRUE(panel.Ready());
  // How fast the packets go depends on the machine and on what else runs on it: the wait ends
  // early only when the deliveries stop, not after a time that a busy machine could need.
  const ULONGLONG start = ::GetTickCount64();
  size_t delivered = 0, before = 0;
  ULONGLONG progressed = start;
  WaitFor([&] {
    delivered = panel.Events("deliver").size();
    if (delivered != before) before = delivered, progressed = ::GetTickCount64();
    return delivered >= kPackets + 3 || panel.Process().WaitExit(0) || ::GetTickCount64() - progressed > 20000;
  }, 250000, 1000);
  std::printf("%zu packets delivered in %.1f s\n", delivered, double(::GetTickCount64() - start) / 1000.0);
  ASSERT_FALSE(panel.Process().WaitExit(0)) << "the panel ended, exit code " << panel.Process().ExitCode();
  ASSERT_GE(delivered, size_t(kPackets + 3)) << "the deliveries stopped for 20 s";
  EXPECT_TRUE(panel.Events("script").empty()) << "the script did not parse";

  // Every packet was handled: the poll that follows each one is sent only once it was.
  EXPECT_GE(panel.Events("update").size(), size_t(kPackets + 3));
  DWORD_PTR ignored = 0;
  EXPECT_TRUE(::SendMessageTimeoutW(panel.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored))
      << "the window does not answer";
  EXPECT_EQ(panel.Status(), "API library Initialised.") << "no exception, failure or watchdog text";

  // The final packet's panels, in id order, showing what it said.
  std::wstring names;
  EXPECT_TRUE(WaitFor([&] {
    names.clear();
    for (HWND p : DevicePanels(panel.Main())) names += ObjectName(p) + L" ";
    return names == L"FDeviceFrame2 FDeviceFrame7 ";
  }, 5000)) << Narrow(names);
  const struct { const wchar_t* name; TSelector s; } expected[] = {{L"FDeviceFrame2", two}, {L"FDeviceFrame7", seven}};
  for (const auto& e : expected) {
    TPanelState state;
    ASSERT_TRUE(QueryState(DevicePanel(panel.Main(), e.name), state)) << Narrow(e.name);
    EXPECT_EQ(state.Mode, e.s.mode) << Narrow(e.name);
    EXPECT_EQ(state.Select, e.s.select) << Narrow(e.name);
    EXPECT_EQ(state.Indicator, e.s.indicator) << Narrow(e.name);
    EXPECT_EQ(state.Delay, e.s.delay) << Narrow(e.name);
  }

  ::PostMessageW(panel.Main(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(panel.Process().WaitExit(10000));
  EXPECT_EQ(panel.Process().ExitCode(), 0u);
}
