// One simulated selector and the line protocol it speaks on its serial port (PROTOCOL.md beside
// this folder). Portable: the serial stand-in runs it in-process, the pty program on Linux.
#pragma once

#include "Q417Device.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace selsim {

inline constexpr size_t MaxLineLength = 128;

struct TSelectorState {
  int32_t Id = 1;
  int32_t Version = 0x01000000;
  int32_t Error = 0;
  uint32_t Mode = 0;      // 0 = off, 1 to 3
  uint32_t Select = 0;    // one-bit channel mask, 0 = none
  uint32_t Indicator = 0; // 0 or 1
  uint32_t Delay = 0;     // tenths of a millisecond, 0 to 65535
};

class TSelector {
public:
  explicit TSelector(const TSelectorState& initial, uint32_t deviceType = q417::DeviceType,
                     int ignoredHellos = 0)
      : fState(initial), fDeviceType(deviceType), fIgnoredHellos(ignoredHellos) {}

  // Takes bytes as they arrive on the line and returns the bytes the selector sends back: one
  // answer line per complete command line.
  std::string Receive(std::string_view bytes);
  // The answer to one command line (without its line end); empty when the selector stays silent.
  std::string Answer(std::string_view line);

  const TSelectorState& State() const noexcept { return fState; }
  uint32_t DeviceType() const noexcept { return fDeviceType; }

private:
  TSelectorState fState;
  uint32_t fDeviceType;
  int fIgnoredHellos; // HELLOs still to be left unanswered, as by a selector that is starting up
  std::string fLine;
  bool fOverlong = false;
};

std::string FormatState(const TSelectorState& state);
// "STATE ..." answer to a state; false when the line is not one.
bool ParseStateLine(std::string_view line, TSelectorState& state);
// "SELECTOR <type> <id> <version>" answer to HELLO; false when the line is not one.
bool ParseHelloLine(std::string_view line, uint32_t& deviceType, int32_t& id, int32_t& version);

// A list of simulated selectors: entries separated by commas, semicolons or line ends, each
// "ID[:VERSION[:TYPE[:MODE:SELECT:INDICATOR:DELAY]]]" in decimal or 0x-hexadecimal (the state
// within what SET accepts); '#' starts a comment to the line end.
struct TSelectorSpec {
  TSelectorState State;
  uint32_t DeviceType = q417::DeviceType;
};
bool ParseSelectorList(std::string_view text, std::vector<TSelectorSpec>& selectors);

} // namespace selsim
