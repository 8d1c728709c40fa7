// What q417ctl prints of the selectors: the list read from an update packet, a text table for
// people and JSON for scripts, and the time stamp of a watch line.
#pragma once

#include "Q417Records.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace q417ctl {

// The selectors of an update packet in id order, one per id: of two records with one id the
// later counts, as on the panel. Reads only the complete records that were delivered.
std::vector<TQ417DeviceState> ReadSelectors(std::span<const uint8_t> packet);

// The selector with this id, or null.
const TQ417DeviceState* FindSelector(const std::vector<TQ417DeviceState>& selectors, int32_t id);

// The text table: a header line, then one line per selector with its id, version, mode,
// channel, indicator and delay in milliseconds; every line ends with '\n'.
std::string TableHeader();
std::string TableRow(const TQ417DeviceState& selector);

// One JSON object: "id", "version", "error", "mode", "select", "channel" (1 to 8, 0, or null for
// a mask that is not one channel), "indicator", "delay_ms"; no line end.
std::string JsonObject(const TQ417DeviceState& selector);
// The objects as one JSON array, "[]" when empty.
std::string JsonArray(const std::vector<TQ417DeviceState>& selectors);

// A local time with the offset of the local time zone from UTC.
struct TLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
  int OffsetMinutes; // local minus UTC, e.g. +60 for 10:15 local at 09:15 UTC
};
// ISO 8601 with milliseconds and offset: 2026-12-10T10:15:30.123+01:00.
std::string Iso8601(const TLocalTime& time);

enum class TStateEvent { Present, Added, Changed, Removed };
const char* EventName(TStateEvent event); // "present", "added", "changed", "removed"

// A watch line without its line end. Text: time, event, then the table row's columns; JSON: one
// object with "time" and "event" before the keys of JsonObject.
std::string WatchText(const std::string& time, TStateEvent event, const TQ417DeviceState& selector);
std::string WatchJson(const std::string& time, TStateEvent event, const TQ417DeviceState& selector);
// The header above text watch lines.
std::string WatchHeader();

} // namespace q417ctl
