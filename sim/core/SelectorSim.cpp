#include "SelectorSim.h"

#include <charconv>
#include <cstdio>

namespace selsim {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// Decimal, or hexadecimal after 0x; optionally signed. Rejects anything else.
bool ParseNumber(std::string_view text, int64_t& value) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size() || magnitude > 0xFFFFFFFFull) return false;
  value = negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

bool ParseRange(std::string_view text, int64_t low, int64_t high, uint32_t& out) {
  int64_t v = 0;
  if (!ParseNumber(text, v) || v < low || v > high) return false;
  out = uint32_t(v);
  return true;
}

bool ParseInt32(std::string_view text, int32_t& out) {
  int64_t v = 0;
  if (!ParseNumber(text, v) || v < INT32_MIN || v > int64_t(UINT32_MAX)) return false;
  out = int32_t(uint32_t(v)); // versions are four bytes and may use the top bit
  return true;
}

bool IsSingleChannel(uint32_t mask) { return mask == 0 || (mask <= 0x80 && (mask & (mask - 1)) == 0); }

std::string Error(int code, const char* text) { return "ERROR " + std::to_string(code) + " " + text; }

} // namespace

std::string FormatState(const TSelectorState& s) {
  char line[128];
  std::snprintf(line, sizeof line, "STATE %ld %ld %ld %lu %lu %lu %lu", long(s.Id), long(s.Version), long(s.Error),
                static_cast<unsigned long>(s.Mode), static_cast<unsigned long>(s.Select),
                static_cast<unsigned long>(s.Indicator), static_cast<unsigned long>(s.Delay));
  return line;
}

bool ParseStateLine(std::string_view line, TSelectorState& state) {
  const auto w = Words(line);
  TSelectorState s;
  if (w.size() != 8 || w[0] != "STATE" || !ParseInt32(w[1], s.Id) || !ParseInt32(w[2], s.Version) ||
      !ParseInt32(w[3], s.Error) || !ParseRange(w[4], 0, 3, s.Mode) || !ParseRange(w[5], 0, 255, s.Select) ||
      !ParseRange(w[6], 0, 1, s.Indicator) || !ParseRange(w[7], 0, 65535, s.Delay))
    return false;
  state = s;
  return true;
}

bool ParseHelloLine(std::string_view line, uint32_t& deviceType, int32_t& id, int32_t& version) {
  const auto w = Words(line);
  int64_t type = 0;
  int32_t i = 0, v = 0;
  if (w.size() != 4 || w[0] != "SELECTOR" || !ParseNumber("0x" + std::string(w[1]), type) || type < 0 ||
      !ParseInt32(w[2], i) || !ParseInt32(w[3], v))
    return false;
  deviceType = uint32_t(type);
  id = i;
  version = v;
  return true;
}

std::string TSelector::Answer(std::string_view line) {
  const auto w = Words(line);
  if (w.empty()) return Error(1, "empty command");
  if (w[0] == "HELLO" && w.size() == 1) {
    if (fIgnoredHellos > 0) {
      --fIgnoredHellos;
      return {};
    }
    char answer[64];
    std::snprintf(answer, sizeof answer, "SELECTOR %08lX %ld %ld", static_cast<unsigned long>(fDeviceType),
                  long(fState.Id), long(fState.Version));
    return answer;
  }
  if (w[0] == "GET" && w.size() == 1) return FormatState(fState);
  if (w[0] == "SET") {
    TSelectorState next = fState;
    if (w.size() != 5 || !ParseRange(w[1], 0, 3, next.Mode) || !ParseRange(w[2], 0, 255, next.Select) ||
        !ParseRange(w[3], 0, 1, next.Indicator) || !ParseRange(w[4], 0, 65535, next.Delay) ||
        !IsSingleChannel(next.Select))
      return Error(3, "bad SET arguments");
    if (next.Mode == 0) next.Select = 0; // a selector that is off routes no channel
    fState = next;
    return FormatState(fState);
  }
  return Error(1, "unknown command");
}

std::string TSelector::Receive(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == '\r') continue;
    if (c != '\n') {
      if (fLine.size() < MaxLineLength) fLine += c;
      else fOverlong = true;
      continue;
    }
    const std::string answer = fOverlong ? Error(2, "line too long") : Answer(fLine);
    if (!answer.empty()) out += answer + "\n";
    fLine.clear();
    fOverlong = false;
  }
  return out;
}

bool ParseSelectorList(std::string_view text, std::vector<TSelectorSpec>& selectors) {
  // Comments end at the line end, so they are cut from each line before it is split.
  std::string entries;
  for (size_t i = 0; i <= text.size();) {
    size_t end = text.find('\n', i);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(i, end - i);
    entries += std::string(line.substr(0, line.find('#'))) + ",";
    i = end + 1;
  }
  std::vector<TSelectorSpec> out;
  for (size_t i = 0; i < entries.size();) {
    const size_t end = entries.find_first_of(",;", i);
    std::string_view entry = std::string_view(entries).substr(i, end - i);
    i = end + 1;
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t' || entry.front() == '\r')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t' || entry.back() == '\r')) entry.remove_suffix(1);
    if (entry.empty()) continue;
    std::vector<std::string_view> parts;
    size_t p = 0;
    for (size_t colon; (colon = entry.find(':', p)) != std::string_view::npos; p = colon + 1)
      parts.push_back(entry.substr(p, colon - p));
    parts.push_back(entry.substr(p));
    TSelectorSpec spec;
    int64_t type = 0;
    if ((parts.size() > 3 && parts.size() != 7) || !ParseInt32(parts[0], spec.State.Id) ||
        (parts.size() > 1 && !ParseInt32(parts[1], spec.State.Version)) ||
        (parts.size() > 2 && (!ParseNumber(parts[2], type) || type < 0)))
      return false;
    if (parts.size() > 2) spec.DeviceType = uint32_t(type);
    if (parts.size() == 7) {
      // A starting state, within what SET accepts.
      TSelectorState& s = spec.State;
      if (!ParseRange(parts[3], 0, 3, s.Mode) || !ParseRange(parts[4], 0, 255, s.Select) ||
          !ParseRange(parts[5], 0, 1, s.Indicator) || !ParseRange(parts[6], 0, 65535, s.Delay) ||
          !IsSingleChannel(s.Select))
        return false;
      if (s.Mode == 0) s.Select = 0;
    }
    out.push_back(spec);
  }
  selectors = std::move(out);
  return true;
}

} // namespace selsim
