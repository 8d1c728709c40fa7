#include "SelectorUpdate.h"

#include "SelectorSim.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace q417client {
namespace {

bool ReadState(std::string_view line, TQ417DeviceState& record) {
  selsim::TSelectorState s;
  if (!selsim::ParseStateLine(line, s)) return false;
  // The parser keeps every field inside the record's range.
  record.Q417_DeviceID = s.Id;
  record.Q417_VersionID = s.Version;
  record.Q417_Error = s.Error;
  record.Q417_State.Q417_Mode = uint8_t(s.Mode);
  record.Q417_State.Q417_Select = uint8_t(s.Select);
  record.Q417_State.Q417_Indicator = uint8_t(s.Indicator);
  record.Q417_State.Q417_Delay = uint16_t(s.Delay);
  return true;
}

bool SameState(const TQ417State& a, const TQ417State& b) {
  return a.Q417_Mode == b.Q417_Mode && a.Q417_Select == b.Q417_Select && a.Q417_Indicator == b.Q417_Indicator &&
         a.Q417_Delay == b.Q417_Delay;
}

std::string SetCommand(const TQ417State& s) {
  char text[40];
  std::snprintf(text, sizeof text, "SET %u %u %u %u", unsigned(s.Q417_Mode), unsigned(s.Q417_Select),
                unsigned(s.Q417_Indicator), unsigned(s.Q417_Delay));
  return text;
}

const TQ417DeviceState* LastRecordFor(const std::vector<TQ417DeviceState>& table, int32_t id) {
  for (auto it = table.rbegin(); it != table.rend(); ++it)
    if (it->Q417_DeviceID == id) return &*it;
  return nullptr;
}

} // namespace

int32_t ServeRequest(std::span<const uint8_t> request, std::span<const int32_t> refs, ISelectorLine& line,
                     q417::TBytes& response) {
  response.clear();
  std::vector<TQ417DeviceState> table;
  bool tableShort = false;
  if (!request.empty()) {
    const int32_t declared = q417::PacketDeclaredCount(request);
    if (request.size() < Q417_COUNT_SIZE || declared < 0) return Q417CLIENT_BAD_REQUEST;
    const int32_t complete = q417::PacketRecordCount(request);
    tableShort = declared > complete;
    table.reserve(size_t(complete));
    for (int32_t i = 0; i < complete; ++i) table.push_back(q417::PacketRecord(request, i));
  }

  std::vector<TQ417DeviceState> states;
  states.reserve(refs.size());
  bool leftOut = false, refused = false;
  std::string reply;
  for (const int32_t ref : refs) {
    TQ417DeviceState state{};
    if (line.Command(ref, "GET", reply) != 0 || !ReadState(reply, state)) {
      leftOut = true;
      continue;
    }
    const TQ417DeviceState* next = LastRecordFor(table, state.Q417_DeviceID);
    if (next != nullptr && !SameState(next->Q417_State, state.Q417_State)) {
      TQ417DeviceState after{};
      const int32_t result = line.Command(ref, SetCommand(next->Q417_State), reply);
      if (result == 0 && ReadState(reply, after) && after.Q417_DeviceID == state.Q417_DeviceID) {
        state = after;
      } else if (result == 0 && reply.starts_with("ERROR ")) {
        refused = true; // a refused SET changes nothing, so the state read before still holds
      } else {
        leftOut = true; // the SET may or may not have been taken: the state is unknown
        continue;
      }
    }
    states.push_back(state);
  }

  q417::BuildNextStateTable(response, int32_t(states.size()),
                            [&](int32_t i, TQ417DeviceState& record) { record = states[size_t(i)]; });
  if (leftOut) return Q417CLIENT_SELECTOR_LEFT_OUT;
  if (refused) return Q417CLIENT_SET_REFUSED;
  return tableShort ? Q417CLIENT_TABLE_SHORT : Q417CLIENT_OK;
}

} // namespace q417client
