// The Q417 client library's core serving any request of the device host (a poll, a next-state
// table, or bytes that are neither) over a line to simulated selectors that may fail. The input:
//   count                 selectors (count % 5), each:
//     id:le32 version:le32 error:le32 mode channel indicator delay:le16 fault [code:le32 | len text[len]]
//       (channel k % 9 is mask 1 << (k - 1), 0 none; fault % 5: none, GET fails with the code,
//        SET fails with the code, GET answered with the text, SET answered with the text)
//   closed                a closed reference among them at this place (when it is count or less)
//   request...            the rest
// Invariants: a request that is no table gets an empty response and asks no selector; otherwise
// every reference is asked GET once, in order, and a SET follows only a GET of the same one; the
// response is an update packet of at most one record per reference; the result says whether a
// selector was left out, a SET was refused or the table was short, in that rank; every selector
// that does not fail is in the packet, in reference order, with its state after the request; it
// was sent a SET exactly when the table's last record of its id differs from its state, and it
// then holds that record's state if the line protocol accepts it, and its old state otherwise.
#include "FuzzCheck.h"
#include "SelectorSim.h"
#include "SelectorUpdate.h"

#include <cstring>
#include <map>

using namespace q417client;

namespace {

enum TFault { None, GetFails, SetFails, GetGarbled, SetGarbled };
constexpr int32_t kClosedRef = 999, kInvalidHandle = 6;

struct TLineSelector {
  selsim::TSelector selector;
  TFault fault;
  int32_t code;
  std::string garbled;
};

class FakeLine : public ISelectorLine {
public:
  int32_t Command(int32_t ref, const std::string& command, std::string& reply) override {
    // What the library sends is one command line of the protocol.
    FUZZ_CHECK(command.size() <= selsim::MaxLineLength && command.find_first_of("\r\n") == std::string::npos);
    const bool set = command.rfind("SET ", 0) == 0;
    FUZZ_CHECK(set || command == "GET");
    log.emplace_back(ref, command);
    const auto it = selectors.find(ref);
    if (it == selectors.end()) return kInvalidHandle;
    TLineSelector& s = it->second;
    if (s.fault == (set ? SetFails : GetFails)) return s.code;
    // The selector answers each command line with exactly one line.
    const std::string out = s.selector.Receive(command + "\n");
    FUZZ_CHECK(!out.empty() && out.find('\n') == out.size() - 1);
    reply = out.substr(0, out.size() - 1);
    if (s.fault == (set ? SetGarbled : GetGarbled)) reply = s.garbled;
    if (set && reply.rfind("ERROR ", 0) == 0) refusedSet = true;
    return 0;
  }

  std::map<int32_t, TLineSelector> selectors; // by reference
  std::vector<std::pair<int32_t, std::string>> log;
  bool refusedSet = false;
};

TQ417DeviceState AsRecord(const selsim::TSelectorState& s) {
  TQ417DeviceState r{};
  r.Q417_DeviceID = s.Id;
  r.Q417_VersionID = s.Version;
  r.Q417_Error = s.Error;
  r.Q417_State = {uint8_t(s.Mode), uint8_t(s.Select), uint8_t(s.Indicator), uint16_t(s.Delay)};
  return r;
}

bool SameRecord(const TQ417DeviceState& a, const TQ417DeviceState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameState(const TQ417State& a, const TQ417State& b) {
  return a.Q417_Mode == b.Q417_Mode && a.Q417_Select == b.Q417_Select && a.Q417_Indicator == b.Q417_Indicator &&
         a.Q417_Delay == b.Q417_Delay;
}

// What a selector takes from SET (the line protocol): mode 0 to 3, at most one channel, indicator
// 0 or 1; under mode 0 it routes no channel.
bool Acceptable(const TQ417State& s) {
  return s.Q417_Mode <= 3 && (s.Q417_Select & (s.Q417_Select - 1)) == 0 && s.Q417_Indicator <= 1;
}

void ReadSelectors(fuzz::TFuzzInput& in, FakeLine& line, std::vector<int32_t>& refs) {
  const int count = in.Byte() % 5;
  for (int i = 0; i < count; ++i) {
    selsim::TSelectorState s;
    s.Id = in.Le32();
    s.Version = in.Le32();
    s.Error = in.Le32();
    selsim::TSelector selector(s);
    const int mode = in.Byte() % 4, channel = in.Byte() % 9, indicator = in.Byte() % 2, delay = in.Le16();
    selector.Answer("SET " + std::to_string(mode) + " " + std::to_string(channel == 0 ? 0 : 1 << (channel - 1)) + " " +
                    std::to_string(indicator) + " " + std::to_string(delay));
    const TFault fault = TFault(in.Byte() % 5);
    int32_t code = 0;
    std::string garbled;
    if (fault == GetFails || fault == SetFails) code = in.Le32();
    if (code == 0) code = 258; // a failure has a code: the serial library's time-out
    if (fault == GetGarbled || fault == SetGarbled) garbled = in.Text(in.Byte());
    line.selectors.emplace(100 + i, TLineSelector{selector, fault, code, garbled});
    refs.push_back(100 + i);
  }
  const size_t closed = in.Byte();
  if (closed <= refs.size()) refs.insert(refs.begin() + std::ptrdiff_t(closed), kClosedRef);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TFuzzInput in(data, size);
  FakeLine line;
  std::vector<int32_t> refs;
  ReadSelectors(in, line, refs);
  const std::vector<uint8_t> request = in.Rest();
  std::map<int32_t, selsim::TSelectorState> before;
  for (const auto& [ref, s] : line.selectors) before.emplace(ref, s.selector.State());

  q417::TBytes response = {0xEE};
  const int32_t result = ServeRequest(request, refs, line, response);

  const bool table = !request.empty();
  const int32_t declared = q417::PacketDeclaredCount(request);
  if (table && (request.size() < Q417_COUNT_SIZE || declared < 0)) {
    FUZZ_CHECK(result == Q417CLIENT_BAD_REQUEST && response.empty() && line.log.empty());
    return 0;
  }

  // GET once per reference in order, a SET only right after the GET of the same reference.
  std::vector<int32_t> asked;
  std::map<int32_t, std::string> sets;
  for (size_t k = 0; k < line.log.size(); ++k) {
    const auto& [ref, command] = line.log[k];
    if (command == "GET") {
      asked.push_back(ref);
      continue;
    }
    FUZZ_CHECK(table && k > 0 && line.log[k - 1] == std::make_pair(ref, std::string("GET")));
    sets[ref] = command;
  }
  FUZZ_CHECK(asked == refs);

  const int32_t count = q417::PacketDeclaredCount(response);
  FUZZ_CHECK(count >= 0 && size_t(count) <= refs.size());
  FUZZ_CHECK(response.size() == Q417_COUNT_SIZE + Q417_RECORD_SIZE * size_t(count));
  const bool leftOut = size_t(count) < refs.size();
  const bool tableShort = table && declared > q417::PacketRecordCount(request);
  FUZZ_CHECK(result == (leftOut           ? Q417CLIENT_SELECTOR_LEFT_OUT
                        : line.refusedSet ? Q417CLIENT_SET_REFUSED
                        : tableShort      ? Q417CLIENT_TABLE_SHORT
                                          : Q417CLIENT_OK));

  std::map<int32_t, TQ417DeviceState> last; // the table's last record of each id
  for (int32_t k = 0; table && k < q417::PacketRecordCount(request); ++k) {
    const TQ417DeviceState r = q417::PacketRecord(request, k);
    last.insert_or_assign(int32_t(r.Q417_DeviceID), r);
  }
  int32_t next = 0; // the healthy selectors' records are in the packet in reference order
  for (const int32_t ref : refs) {
    const auto s = line.selectors.find(ref);
    if (s == line.selectors.end() || s->second.fault != None) continue;
    const TQ417DeviceState after = AsRecord(s->second.selector.State());
    while (next < count && !SameRecord(q417::PacketRecord(response, next), after)) ++next;
    FUZZ_CHECK(next < count);
    ++next;

    const TQ417DeviceState old = AsRecord(before.at(ref));
    const auto wanted = last.find(int32_t(old.Q417_DeviceID));
    const bool differs = wanted != last.end() && !SameState(wanted->second.Q417_State, old.Q417_State);
    FUZZ_CHECK(sets.count(ref) == (differs ? 1u : 0u));
    if (!differs) {
      FUZZ_CHECK(SameRecord(after, old));
      continue;
    }
    TQ417State taken = wanted->second.Q417_State;
    FUZZ_CHECK(sets[ref] == "SET " + std::to_string(taken.Q417_Mode) + " " + std::to_string(taken.Q417_Select) + " " +
                                std::to_string(taken.Q417_Indicator) + " " + std::to_string(taken.Q417_Delay));
    const bool acceptable = Acceptable(taken);
    if (taken.Q417_Mode == 0) taken.Q417_Select = 0;
    FUZZ_CHECK(SameState(after.Q417_State, acceptable ? taken : old.Q417_State));
    FUZZ_CHECK(after.Q417_DeviceID == old.Q417_DeviceID && after.Q417_VersionID == old.Q417_VersionID);
  }
  return 0;
}
