#include "SelectorReport.h"

#include "Q417Packet.h"
#include "SelectorValues.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace q417ctl {
namespace {

// The columns shared by the table and the text watch lines; ids take up to 11 characters.
std::string Columns(const std::string& id, const std::string& version, const std::string& mode,
                    const std::string& channel, const std::string& indicator, const std::string& delay) {
  char line[160];
  std::snprintf(line, sizeof line, "%11s  %-15s  %4s  %-9s  %-9s  %8s", id.c_str(), version.c_str(), mode.c_str(),
                channel.c_str(), indicator.c_str(), delay.c_str());
  return line;
}

std::string RowColumns(const TQ417DeviceState& s) {
  return Columns(std::to_string(s.Q417_DeviceID), q417::FormatVersion(s.Q417_VersionID),
                 std::to_string(s.Q417_State.Q417_Mode), ChannelText(s.Q417_State.Q417_Select),
                 IndicatorText(s.Q417_State.Q417_Indicator), DelayMsText(s.Q417_State.Q417_Delay));
}

std::string HeaderColumns() { return Columns("id", "version", "mode", "channel", "indicator", "delay_ms"); }

// The JSON members of a selector, without braces.
std::string JsonMembers(const TQ417DeviceState& s) {
  const TQ417State& st = s.Q417_State;
  const auto channel = ChannelOfMask(st.Q417_Select);
  return "\"id\":" + std::to_string(s.Q417_DeviceID) + ",\"version\":\"" + q417::FormatVersion(s.Q417_VersionID) +
         "\",\"error\":" + std::to_string(s.Q417_Error) + ",\"mode\":" + std::to_string(st.Q417_Mode) +
         ",\"select\":" + std::to_string(st.Q417_Select) +
         ",\"channel\":" + (channel ? std::to_string(*channel) : std::string("null")) +
         ",\"indicator\":" + std::to_string(st.Q417_Indicator) + ",\"delay_ms\":" + DelayMsText(st.Q417_Delay);
}

} // namespace

std::vector<TQ417DeviceState> ReadSelectors(std::span<const uint8_t> packet) {
  std::vector<TQ417DeviceState> selectors;
  const int32_t n = q417::PacketRecordCount(packet);
  selectors.reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i) selectors.push_back(q417::PacketRecord(packet, i));
  // A stable sort keeps records of one id in packet order; the last of them stays.
  std::stable_sort(selectors.begin(), selectors.end(),
                   [](const TQ417DeviceState& a, const TQ417DeviceState& b) { return a.Q417_DeviceID < b.Q417_DeviceID; });
  std::vector<TQ417DeviceState> unique;
  unique.reserve(selectors.size());
  for (const TQ417DeviceState& s : selectors) {
    if (!unique.empty() && unique.back().Q417_DeviceID == s.Q417_DeviceID) unique.back() = s;
    else unique.push_back(s);
  }
  return unique;
}

const TQ417DeviceState* FindSelector(const std::vector<TQ417DeviceState>& selectors, int32_t id) {
  for (const TQ417DeviceState& s : selectors)
    if (s.Q417_DeviceID == id) return &s;
  return nullptr;
}

std::string TableHeader() { return HeaderColumns() + "\n"; }
std::string TableRow(const TQ417DeviceState& selector) { return RowColumns(selector) + "\n"; }

std::string JsonObject(const TQ417DeviceState& selector) { return "{" + JsonMembers(selector) + "}"; }

std::string JsonArray(const std::vector<TQ417DeviceState>& selectors) {
  std::string text = "[";
  for (size_t i = 0; i < selectors.size(); ++i) text += (i ? "," : "") + JsonObject(selectors[i]);
  return text + "]";
}

std::string Iso8601(const TLocalTime& t) {
  const int offset = std::abs(t.OffsetMinutes);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second, t.Millisecond, t.OffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

const char* EventName(TStateEvent event) {
  switch (event) {
  case TStateEvent::Present: return "present";
  case TStateEvent::Added: return "added";
  case TStateEvent::Changed: return "changed";
  case TStateEvent::Removed: return "removed";
  }
  return "";
}

std::string WatchHeader() {
  char line[64];
  std::snprintf(line, sizeof line, "%-29s  %-7s  ", "time", "event");
  return line + HeaderColumns();
}

std::string WatchText(const std::string& time, TStateEvent event, const TQ417DeviceState& selector) {
  char line[64];
  std::snprintf(line, sizeof line, "%-29s  %-7s  ", time.c_str(), EventName(event));
  return line + RowColumns(selector);
}

std::string WatchJson(const std::string& time, TStateEvent event, const TQ417DeviceState& selector) {
  return "{\"time\":\"" + time + "\",\"event\":\"" + EventName(event) + "\"," + JsonMembers(selector) + "}";
}

} // namespace q417ctl
