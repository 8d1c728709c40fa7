// Any text into the simulator's parsers: a STATE answer, a SELECTOR answer, and a list of
// simulated selectors. What a parser accepts is within its fields' ranges and reads back the same
// from the text the simulator writes for it; what it refuses leaves its outputs untouched. A
// selector made from an accepted list entry starts within what SET accepts and reports that
// entry's identity and state on its line.
#include "FuzzCheck.h"
#include "SelectorSim.h"

#include <cstdio>
#include <string_view>

using namespace selsim;

namespace {

bool SameState(const TSelectorState& a, const TSelectorState& b) { return FormatState(a) == FormatState(b); }

std::string HelloLine(uint32_t type, int32_t id, int32_t version) {
  char line[64];
  std::snprintf(line, sizeof line, "SELECTOR %08lX %ld %ld", static_cast<unsigned long>(type), long(id), long(version));
  return line;
}

void CheckStateLine(std::string_view text) {
  TSelectorState s;
  s.Id = 12345;
  const TSelectorState untouched = s;
  if (!ParseStateLine(text, s)) {
    FUZZ_CHECK(SameState(s, untouched));
    return;
  }
  FUZZ_CHECK(s.Mode <= 3 && s.Select <= 255 && s.Indicator <= 1 && s.Delay <= 65535);
  TSelectorState again;
  FUZZ_CHECK(ParseStateLine(FormatState(s), again) && SameState(again, s));
}

void CheckHelloLine(std::string_view text) {
  uint32_t type = 1;
  int32_t id = 2, version = 3;
  if (!ParseHelloLine(text, type, id, version)) {
    FUZZ_CHECK(type == 1 && id == 2 && version == 3);
    return;
  }
  uint32_t type2 = 0;
  int32_t id2 = 0, version2 = 0;
  FUZZ_CHECK(ParseHelloLine(HelloLine(type, id, version), type2, id2, version2));
  FUZZ_CHECK(type2 == type && id2 == id && version2 == version);
}

void CheckSelectorList(std::string_view text) {
  std::vector<TSelectorSpec> list(1);
  list[0].State.Id = 12345;
  if (!ParseSelectorList(text, list)) {
    FUZZ_CHECK(list.size() == 1 && list[0].State.Id == 12345);
    return;
  }
  std::string written;
  for (const TSelectorSpec& spec : list) {
    const TSelectorState& s = spec.State;
    FUZZ_CHECK(s.Mode <= 3 && (s.Select & (s.Select - 1)) == 0 && s.Select <= 0x80 && (s.Mode != 0 || s.Select == 0) &&
               s.Indicator <= 1 && s.Delay <= 65535);
    char entry[128];
    std::snprintf(entry, sizeof entry, "%ld:%ld:0x%lX:%lu:%lu:%lu:%lu, ", long(s.Id), long(s.Version),
                  static_cast<unsigned long>(spec.DeviceType), static_cast<unsigned long>(s.Mode),
                  static_cast<unsigned long>(s.Select), static_cast<unsigned long>(s.Indicator),
                  static_cast<unsigned long>(s.Delay));
    written += entry;

    TSelector selector(s, spec.DeviceType);
    TSelectorState reported;
    FUZZ_CHECK(selector.Receive("HELLO\nGET\n") ==
               HelloLine(spec.DeviceType, s.Id, s.Version) + "\n" + FormatState(s) + "\n");
    FUZZ_CHECK(ParseStateLine(FormatState(s), reported) && SameState(reported, s));
  }
  std::vector<TSelectorSpec> again;
  FUZZ_CHECK(ParseSelectorList(written, again) && again.size() == list.size());
  for (size_t i = 0; i < list.size(); ++i)
    FUZZ_CHECK(again[i].DeviceType == list[i].DeviceType && SameState(again[i].State, list[i].State));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckStateLine(text);
  CheckHelloLine(text);
  CheckSelectorList(text);
  return 0;
}
