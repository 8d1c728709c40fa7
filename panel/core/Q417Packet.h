// Reading and writing update packets and next-state tables in place, byte by byte, so that
// the layout is little-endian on any host and no read goes past the delivered bytes.
#pragma once

#include "Q417Records.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace q417 {

using TBytes = std::vector<uint8_t>;

// One 17-byte record at p.
TQ417DeviceState DecodeDeviceState(const uint8_t* p);
void EncodeDeviceState(uint8_t* p, const TQ417DeviceState& state);

// The count as the packet states it; 0 when the packet is too short to hold one.
int32_t PacketDeclaredCount(std::span<const uint8_t> packet);

// The number of records that may be read: the stated count, 0 when it is 0 or less, and never
// more than the complete records that were actually delivered.
int32_t PacketRecordCount(std::span<const uint8_t> packet);

// Record i, for 0 <= i < PacketRecordCount; throws std::out_of_range otherwise.
TQ417DeviceState PacketRecord(std::span<const uint8_t> packet, int32_t i);

// Writes record i in place; throws std::out_of_range when the packet has no room for it.
void WritePacketRecord(std::span<uint8_t> packet, int32_t i, const TQ417DeviceState& state);

// Whether any readable record has this device id, scanning in packet order.
bool PacketContainsId(std::span<const uint8_t> packet, int32_t deviceId);

// The four bytes 00 00 00 00: a packet without records.
TBytes EmptyPacket();

// Sizes table to 4 + 17 * n zero bytes, writes n as the count, then lets fill(i, record) write
// each record over its zeroed bytes.
void BuildNextStateTable(TBytes& table, int32_t n,
                         const std::function<void(int32_t, TQ417DeviceState&)>& fill);

// A version id as shown to the operator: its four bytes, most significant first, "1.2.3.4".
std::string FormatVersion(int32_t versionId);

} // namespace q417
