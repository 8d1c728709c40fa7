// An update packet as the device API library may deliver it: any bytes. Its records are read in
// place and never past the delivered bytes, contains-id answers for exactly the readable records,
// records written back leave the bytes as they were, the next-state table built from them reads
// back the same, and the panel list follows the packet; the table built from the panels applies
// to them as a no-op and gives the same panels in a new list.
#include "FuzzCheck.h"
#include "PanelListCheck.h"
#include "Q417Packet.h"

#include <cstring>
#include <stdexcept>

using namespace q417;

namespace {

bool SameRecord(const TQ417DeviceState& a, const TQ417DeviceState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <typename F> bool ThrowsOutOfRange(F&& f) {
  try {
    f();
  } catch (const std::out_of_range&) {
    return true;
  }
  return false;
}

// The readable records: as many as the count states, but only complete ones.
std::vector<TQ417DeviceState> CheckRecords(std::span<const uint8_t> packet) {
  const int32_t declared = PacketDeclaredCount(packet);
  const int32_t n = PacketRecordCount(packet);
  const size_t complete = packet.size() < 4 ? 0 : (packet.size() - 4) / 17;
  FUZZ_CHECK(packet.size() >= 4 || declared == 0);
  FUZZ_CHECK(n >= 0 && size_t(n) <= complete && n <= std::max(declared, 0));
  FUZZ_CHECK(size_t(n) == std::min(complete, size_t(std::max(declared, 0))));

  std::vector<TQ417DeviceState> records;
  for (int32_t i = 0; i < n; ++i) {
    records.push_back(PacketRecord(packet, i));
    uint8_t bytes[Q417_RECORD_SIZE];
    EncodeDeviceState(bytes, records.back());
    FUZZ_CHECK(std::memcmp(bytes, packet.data() + 4 + 17 * size_t(i), sizeof bytes) == 0);
    FUZZ_CHECK(SameRecord(DecodeDeviceState(bytes), records.back()));
  }
  FUZZ_CHECK(ThrowsOutOfRange([&] { PacketRecord(packet, n); }));
  FUZZ_CHECK(ThrowsOutOfRange([&] { PacketRecord(packet, -1); }));
  return records;
}

void CheckContainsId(std::span<const uint8_t> packet, const std::vector<TQ417DeviceState>& records) {
  std::set<int32_t> ids;
  for (const auto& r : records) ids.insert(int32_t(r.Q417_DeviceID)); // a copy: the field is packed
  // Every readable id, its neighbours, and the ids that stand where records are not readable
  // (past the count, or cut short).
  std::vector<int32_t> candidates = {0, -1, INT32_MIN, INT32_MAX};
  for (const int32_t id : ids) candidates.insert(candidates.end(), {id, int32_t(uint32_t(id) + 1), int32_t(uint32_t(id) - 1)});
  for (size_t at = 4 + 17 * records.size(); at + 4 <= packet.size(); at += 17)
    candidates.push_back(int32_t(fuzz::ReadLe32(packet.data() + at)));
  for (const int32_t id : candidates) FUZZ_CHECK(PacketContainsId(packet, id) == (ids.count(id) == 1));
}

void CheckWriting(std::span<const uint8_t> packet, const std::vector<TQ417DeviceState>& records) {
  TBytes copy(packet.begin(), packet.end());
  for (size_t i = 0; i < records.size(); ++i) WritePacketRecord(copy, int32_t(i), records[i]);
  FUZZ_CHECK(std::equal(copy.begin(), copy.end(), packet.begin(), packet.end()));
  const size_t room = packet.size() < 4 ? 0 : (packet.size() - 4) / 17;
  FUZZ_CHECK(ThrowsOutOfRange([&] { WritePacketRecord(copy, int32_t(room), {}); }));
  FUZZ_CHECK(ThrowsOutOfRange([&] { WritePacketRecord(copy, -1, {}); }));
  if (room == 0) return;
  // Writing one record changes its 17 bytes and nothing else.
  TQ417DeviceState changed = DecodeDeviceState(packet.data() + 4);
  changed.Q417_DeviceID = int32_t(~uint32_t(changed.Q417_DeviceID));
  changed.Q417_State.Q417_Delay = uint16_t(~changed.Q417_State.Q417_Delay);
  WritePacketRecord(copy, 0, changed);
  FUZZ_CHECK(SameRecord(DecodeDeviceState(copy.data() + 4), changed));
  FUZZ_CHECK(std::equal(copy.begin(), copy.begin() + 4, packet.begin()));
  FUZZ_CHECK(std::equal(copy.begin() + 21, copy.end(), packet.begin() + 21, packet.end()));
}

void CheckTable(std::span<const uint8_t> packet, const std::vector<TQ417DeviceState>& records) {
  TBytes table = {0xAA, 0xBB};
  BuildNextStateTable(table, int32_t(records.size()),
                      [&](int32_t i, TQ417DeviceState& r) {
                        FUZZ_CHECK(SameRecord(r, TQ417DeviceState{})); // bytes no one wrote are zero
                        r = records[size_t(i)];
                      });
  FUZZ_CHECK(table.size() == 4 + 17 * records.size());
  FUZZ_CHECK(PacketDeclaredCount(table) == int32_t(records.size()));
  FUZZ_CHECK(PacketRecordCount(table) == int32_t(records.size()));
  if (!records.empty()) FUZZ_CHECK(std::equal(table.begin() + 4, table.end(), packet.begin() + 4));
}

void CheckVersionText(const std::vector<TQ417DeviceState>& records) {
  for (const auto& r : records) {
    unsigned b[4] = {};
    char tail = 0;
    const std::string text = FormatVersion(r.Q417_VersionID);
    FUZZ_CHECK(std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &tail) == 4);
    FUZZ_CHECK((b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]) == uint32_t(r.Q417_VersionID));
  }
}

void CheckPanelList(std::span<const uint8_t> packet) {
  fakes::TFakeWindow window;
  fuzz::TListSnapshot none(window);
  window.list.ApplyPacket(packet);
  fuzz::CheckListFollowsPacket(window, packet, none);

  fuzz::TListSnapshot once(window);
  window.list.ApplyPacket(packet);
  fuzz::CheckListFollowsPacket(window, packet, once);

  // The table the panels send: one record per panel in list order, version and error 0.
  TBytes table;
  BuildNextStateTable(table, int32_t(window.list.Count()),
                      [&](int32_t i, TQ417DeviceState& r) { window.list.Frame(size_t(i)).GetDeviceState(r); });
  FUZZ_CHECK(PacketRecordCount(table) == int32_t(window.list.Count()));
  for (int32_t i = 0; i < PacketRecordCount(table); ++i) {
    const TQ417DeviceState r = PacketRecord(table, i);
    FUZZ_CHECK(r.Q417_DeviceID == window.At(size_t(i)).DeviceID());
    FUZZ_CHECK(r.Q417_VersionID == 0 && r.Q417_Error == 0);
  }
  // It round-trips: applied to the same panels it changes nothing, and a new list made from it
  // shows the same.
  fuzz::TListSnapshot shown(window);
  window.list.ApplyPacket(table);
  fuzz::CheckListFollowsPacket(window, table, shown);
  fakes::TFakeWindow other;
  other.list.ApplyPacket(table);
  FUZZ_CHECK(other.Ids() == window.Ids());
  for (size_t i = 0; i < other.list.Count(); ++i) {
    const q417::TDevicePanelState &a = other.At(i).State(), &b = window.At(i).State();
    FUZZ_CHECK(a.Mode() == b.Mode() && a.Channel() == b.Channel() && a.Indicator() == b.Indicator() &&
               a.Delay() == b.Delay());
  }

  fuzz::TListSnapshot beforeEmpty(window);
  window.list.ApplyPacket(EmptyPacket());
  fuzz::CheckListFollowsPacket(window, EmptyPacket(), beforeEmpty);
  FUZZ_CHECK(window.list.Count() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> packet(data, size);
  const std::vector<TQ417DeviceState> records = CheckRecords(packet);
  CheckContainsId(packet, records);
  CheckWriting(packet, records);
  CheckTable(packet, records);
  CheckVersionText(records);
  CheckPanelList(packet);
  return 0;
}
