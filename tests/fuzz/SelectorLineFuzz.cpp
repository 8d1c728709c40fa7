// Any bytes on a simulated selector's serial line. The selector answers every complete command
// line with exactly one line ended by one LF (a line longer than the limit with ERROR 2), the
// same whether the bytes come at once or in pieces; a selector that is starting up only leaves
// out its first HELLO answers. Every answer is a SELECTOR, STATE or ERROR line that fits a line,
// the first two read back with the protocol's parsers as the selector's identity and current
// state, and the state always stays within what SET accepts; an ERROR changes nothing.
#include "FuzzCheck.h"
#include "SelectorSim.h"

#include <string_view>

using namespace selsim;

namespace {

bool ValidState(const TSelectorState& s) {
  return s.Mode <= 3 && (s.Select & (s.Select - 1)) == 0 && s.Select <= 0x80 && (s.Mode != 0 || s.Select == 0) &&
         s.Indicator <= 1 && s.Delay <= 65535;
}

bool SameState(const TSelectorState& a, const TSelectorState& b) { return FormatState(a) == FormatState(b); }

const TSelectorState kInitial = [] {
  TSelectorState s;
  s.Id = -7;
  s.Version = 0x01020304;
  s.Error = 5;
  s.Mode = 1;
  s.Select = 4;
  s.Indicator = 1;
  s.Delay = 25;
  return s;
}();

// One answer line (without its LF) to a command, given the state before and after it.
void CheckAnswer(const std::string& answer, const TSelectorState& before, const TSelectorState& after) {
  FUZZ_CHECK(answer.size() <= MaxLineLength && answer.find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(ValidState(after));
  FUZZ_CHECK(after.Id == kInitial.Id && after.Version == kInitial.Version && after.Error == kInitial.Error);
  if (answer.rfind("SELECTOR ", 0) == 0) {
    uint32_t type = 0;
    int32_t id = 0, version = 0;
    FUZZ_CHECK(ParseHelloLine(answer, type, id, version));
    FUZZ_CHECK(type == q417::DeviceType && id == kInitial.Id && version == kInitial.Version);
    FUZZ_CHECK(SameState(before, after));
  } else if (answer.rfind("STATE ", 0) == 0) {
    TSelectorState read;
    FUZZ_CHECK(ParseStateLine(answer, read) && SameState(read, after));
  } else {
    FUZZ_CHECK(answer == "ERROR 1 empty command" || answer == "ERROR 1 unknown command" ||
               answer == "ERROR 2 line too long" || answer == "ERROR 3 bad SET arguments");
    FUZZ_CHECK(SameState(before, after));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  TSelector whole(kInitial);
  const std::string answers = whole.Receive(bytes);

  // The same bytes in pieces of 1 to 13 bytes, sized by the bytes themselves.
  TSelector pieces(kInitial);
  std::string inPieces;
  for (size_t at = 0; at < size;) {
    const size_t n = std::min<size_t>(size - at, 1 + data[at] % 13);
    inPieces += pieces.Receive(bytes.substr(at, n));
    at += n;
  }
  FUZZ_CHECK(inPieces == answers);
  FUZZ_CHECK(SameState(pieces.State(), whole.State()));

  // Line by line: each complete line's answer, with its CRs dropped, in order.
  TSelector byLine(kInitial);
  std::string expected;
  for (size_t start = 0, end; (end = bytes.find('\n', start)) != std::string_view::npos; start = end + 1) {
    std::string line;
    for (const char c : bytes.substr(start, end - start))
      if (c != '\r') line += c;
    const TSelectorState before = byLine.State();
    const std::string answer = line.size() > MaxLineLength ? "ERROR 2 line too long" : byLine.Answer(line);
    CheckAnswer(answer, before, byLine.State());
    expected += answer + "\n";
  }
  FUZZ_CHECK(answers == expected);
  FUZZ_CHECK(SameState(byLine.State(), whole.State()));

  // A selector that is starting up leaves its first two HELLOs unanswered and nothing else.
  TSelector starting(kInitial, q417::DeviceType, 2);
  std::string withoutFirstHellos;
  size_t dropped = 0;
  for (size_t start = 0, end; (end = answers.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = answers.substr(start, end + 1 - start);
    if (line.rfind("SELECTOR ", 0) == 0 && dropped < 2) ++dropped;
    else withoutFirstHellos += line;
  }
  FUZZ_CHECK(starting.Receive(bytes) == withoutFirstHellos);
  return 0;
}
