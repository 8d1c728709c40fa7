#include "Q417Packet.h"

#include "LittleEndian.h"

#include <stdexcept>

namespace q417 {
namespace {

size_t RecordOffset(int32_t i) { return Q417_COUNT_SIZE + size_t(i) * Q417_RECORD_SIZE; }

} // namespace

TQ417DeviceState DecodeDeviceState(const uint8_t* p) {
  TQ417DeviceState s{};
  s.Q417_DeviceID = int32_t(le::Read32(p));
  s.Q417_VersionID = int32_t(le::Read32(p + 4));
  s.Q417_Error = int32_t(le::Read32(p + 8));
  s.Q417_State.Q417_Mode = p[12];
  s.Q417_State.Q417_Select = p[13];
  s.Q417_State.Q417_Indicator = p[14];
  s.Q417_State.Q417_Delay = le::Read16(p + 15);
  return s;
}

void EncodeDeviceState(uint8_t* p, const TQ417DeviceState& s) {
  le::Write32(p, uint32_t(s.Q417_DeviceID));
  le::Write32(p + 4, uint32_t(s.Q417_VersionID));
  le::Write32(p + 8, uint32_t(s.Q417_Error));
  p[12] = s.Q417_State.Q417_Mode;
  p[13] = s.Q417_State.Q417_Select;
  p[14] = s.Q417_State.Q417_Indicator;
  le::Write16(p + 15, s.Q417_State.Q417_Delay);
}

int32_t PacketDeclaredCount(std::span<const uint8_t> packet) {
  return packet.size() < Q417_COUNT_SIZE ? 0 : int32_t(le::Read32(packet.data()));
}

int32_t PacketRecordCount(std::span<const uint8_t> packet) {
  const int32_t declared = PacketDeclaredCount(packet);
  if (declared <= 0) return 0;
  const size_t delivered = (packet.size() - Q417_COUNT_SIZE) / Q417_RECORD_SIZE;
  return size_t(declared) < delivered ? declared : int32_t(delivered);
}

TQ417DeviceState PacketRecord(std::span<const uint8_t> packet, int32_t i) {
  if (i < 0 || i >= PacketRecordCount(packet)) throw std::out_of_range("record index outside the packet");
  return DecodeDeviceState(packet.data() + RecordOffset(i));
}

void WritePacketRecord(std::span<uint8_t> packet, int32_t i, const TQ417DeviceState& state) {
  if (i < 0 || RecordOffset(i) + Q417_RECORD_SIZE > packet.size())
    throw std::out_of_range("record index outside the packet");
  EncodeDeviceState(packet.data() + RecordOffset(i), state);
}

bool PacketContainsId(std::span<const uint8_t> packet, int32_t deviceId) {
  const int32_t n = PacketRecordCount(packet);
  for (int32_t i = 0; i < n; ++i)
    if (int32_t(le::Read32(packet.data() + RecordOffset(i))) == deviceId) return true;
  return false;
}

TBytes EmptyPacket() { return TBytes(Q417_COUNT_SIZE, 0); }

void BuildNextStateTable(TBytes& table, int32_t n,
                         const std::function<void(int32_t, TQ417DeviceState&)>& fill) {
  if (n < 0) n = 0;
  table.assign(RecordOffset(n), 0);
  le::Write32(table.data(), uint32_t(n));
  for (int32_t i = 0; i < n; ++i) {
    uint8_t* p = table.data() + RecordOffset(i);
    TQ417DeviceState record = DecodeDeviceState(p);
    fill(i, record);
    EncodeDeviceState(p, record);
  }
}

std::string FormatVersion(int32_t versionId) {
  const uint32_t v = uint32_t(versionId);
  return std::to_string(v >> 24) + '.' + std::to_string((v >> 16) & 0xFF) + '.' +
         std::to_string((v >> 8) & 0xFF) + '.' + std::to_string(v & 0xFF);
}

} // namespace q417
