// The command line of q417ctl: which command, for which selector, with which changes and
// options. Parsing needs no selector: whatever it refuses is refused before anything is sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace q417ctl {

// What q417ctl's exit status says.
enum TExitCode : int {
  kExitDone = 0,           // done; a set was confirmed by the selector(s)
  kExitInternal = 1,       // an error of q417ctl itself (out of memory, say)
  kExitUsage = 2,          // bad command line; nothing was sent
  kExitNoSelector = 3,     // no selector with that id is connected; nothing was sent
  kExitNotConfirmed = 4,   // a set was sent but not confirmed within the time-out
  kExitLibraryFailed = 5,  // the device API library could not be loaded or refused a call
};

enum class TCommandKind { Help, Version, List, Get, Set, Watch };

// The fields a set changes; a field left empty keeps what the selector reports.
struct TFieldChanges {
  std::optional<uint8_t> Mode;
  std::optional<uint8_t> Select; // the channel's one-bit mask, 0 for none
  std::optional<uint8_t> Indicator;
  std::optional<uint16_t> Delay; // tenths of a millisecond

  bool Empty() const { return !Mode && !Select && !Indicator && !Delay; }
};

inline constexpr uint32_t kDefaultTimeoutMs = 3000;

struct TCommand {
  TCommandKind Kind = TCommandKind::Help;
  bool Json = false;
  bool AllSelectors = false; // set all
  int32_t DeviceId = 0;      // get ID, set ID
  TFieldChanges Changes;     // set
  uint32_t TimeoutMs = kDefaultTimeoutMs;   // set --timeout
  std::optional<uint64_t> ForMs;            // watch --for; none: until stopped
};

struct TParseResult {
  TCommand Command;
  std::string Error; // empty when the command line was understood
  bool Ok() const { return Error.empty(); }
};

// args: the arguments after the program's name, as UTF-8.
TParseResult ParseCommandLine(const std::vector<std::string>& args);

// What q417ctl --help prints.
std::string UsageText();

} // namespace q417ctl
