#include "CtlCommand.h"

#include "SelectorValues.h"

#include <cstdio>
#include <string_view>

namespace q417ctl {
namespace {

TParseResult Fail(std::string error) {
  TParseResult result;
  result.Error = std::move(error);
  return result;
}

// An argument as a message shows it: quoted, control characters escaped, so that the message
// stays one line whatever a script passed.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// One FIELD=VALUE of set, into changes; an error text or empty.
std::string ParseAssignment(std::string_view arg, TFieldChanges& changes) {
  const size_t eq = arg.find('=');
  if (eq == std::string_view::npos)
    return "expected FIELD=VALUE, got " + Quoted(arg) + " (fields: channel, mode, indicator, delay)";
  const std::string_view field = arg.substr(0, eq), value = arg.substr(eq + 1);
  auto twice = [&](bool given) { return given ? "the field " + std::string(field) + " is given twice" : std::string(); };
  if (field == "channel") {
    if (changes.Select) return twice(true);
    changes.Select = ParseChannel(value);
    if (!changes.Select) return "channel must be 0 to 8 or none, got " + Quoted(value);
  } else if (field == "mode") {
    if (changes.Mode) return twice(true);
    changes.Mode = ParseMode(value);
    if (!changes.Mode) return "mode must be 0 to 3 or off, got " + Quoted(value);
  } else if (field == "indicator") {
    if (changes.Indicator) return twice(true);
    changes.Indicator = ParseIndicator(value);
    if (!changes.Indicator) return "indicator must be on, off, 1 or 0, got " + Quoted(value);
  } else if (field == "delay") {
    if (changes.Delay) return twice(true);
    uint16_t tenths = 0;
    switch (ParseDelayTenths(value, tenths)) {
    case TDelayParse::Ok: changes.Delay = tenths; break;
    case TDelayParse::Malformed: return "delay must be a number of milliseconds, got " + Quoted(value);
    case TDelayParse::OutOfRange: return "delay must lie within 0 to 6553.5 ms, got " + Quoted(value);
    }
  } else {
    return "unknown field " + Quoted(field) + " (fields: channel, mode, indicator, delay)";
  }
  return {};
}

const char* CommandName(TCommandKind kind) {
  switch (kind) {
  case TCommandKind::List: return "list";
  case TCommandKind::Get: return "get";
  case TCommandKind::Set: return "set";
  case TCommandKind::Watch: return "watch";
  default: return "";
  }
}

} // namespace

TParseResult ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return Fail("no command given; q417ctl --help lists the commands");
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "/?") return {};
  }
  TParseResult result;
  TCommand& c = result.Command;
  const std::string& name = args[0];
  if (name == "--version") {
    if (args.size() > 1) return Fail("--version takes no arguments");
    c.Kind = TCommandKind::Version;
    return result;
  }
  if (name == "list") c.Kind = TCommandKind::List;
  else if (name == "get") c.Kind = TCommandKind::Get;
  else if (name == "set") c.Kind = TCommandKind::Set;
  else if (name == "watch") c.Kind = TCommandKind::Watch;
  else return Fail("unknown command " + Quoted(name) + " (commands: list, get, set, watch)");
  const std::string command = CommandName(c.Kind);

  bool idGiven = false, timeoutGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // An option's value follows it, or is joined to it with '='.
    auto optionValue = [&](std::string_view option, std::string_view& value) {
      if (arg == option) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
        return true;
      }
      value = arg.substr(option.size() + 1);
      return true;
    };
    auto isOption = [&](std::string_view option) {
      return arg == option || (arg.size() > option.size() && arg.starts_with(option) && arg[option.size()] == '=');
    };
    std::string_view value;
    if (arg == "--json") {
      c.Json = true;
      continue;
    } else if (isOption("--timeout")) {
      if (c.Kind != TCommandKind::Set) return Fail("--timeout is an option of set only");
      if (timeoutGiven) return Fail("--timeout is given twice");
      if (!optionValue("--timeout", value)) return Fail("--timeout needs a number of milliseconds");
      const auto ms = ParseTimeoutMs(value);
      if (!ms) return Fail("--timeout must be a whole number of milliseconds up to 86400000, got " + Quoted(value));
      c.TimeoutMs = *ms;
      timeoutGiven = true;
      continue;
    } else if (isOption("--for")) {
      if (c.Kind != TCommandKind::Watch) return Fail("--for is an option of watch only");
      if (c.ForMs) return Fail("--for is given twice");
      if (!optionValue("--for", value)) return Fail("--for needs a number of seconds");
      c.ForMs = ParseSecondsAsMs(value);
      if (!c.ForMs) return Fail("--for must be a number of seconds, got " + Quoted(value));
      continue;
    } else if (arg.starts_with("--")) {
      return Fail("unknown option " + Quoted(arg) + " for " + command);
    } else if ((c.Kind == TCommandKind::Get || c.Kind == TCommandKind::Set) && !idGiven) {
      idGiven = true;
      if (c.Kind == TCommandKind::Set && arg == "all") {
        c.AllSelectors = true;
        continue;
      }
      const auto id = ParseDeviceId(arg);
      if (!id)
        return Fail("the selector id must be a whole number" + std::string(c.Kind == TCommandKind::Set ? " or all" : "") +
                    ", got " + Quoted(arg));
      c.DeviceId = *id;
      continue;
    } else if (c.Kind == TCommandKind::Set) {
      const std::string error = ParseAssignment(arg, c.Changes);
      if (!error.empty()) return Fail(error);
      continue;
    }
    return Fail("unexpected argument " + Quoted(arg) + " for " + command);
  }
  if ((c.Kind == TCommandKind::Get || c.Kind == TCommandKind::Set) && !idGiven)
    return Fail(command + " needs a selector id" + (c.Kind == TCommandKind::Set ? " or all" : ""));
  if (c.Kind == TCommandKind::Set && c.Changes.Empty())
    return Fail("set needs at least one FIELD=VALUE (fields: channel, mode, indicator, delay)");
  return result;
}

std::string UsageText() {
  return R"usage(q417ctl: the Q417 selectors from scripts and the command line.

Usage:
  q417ctl list [--json]                  the connected selectors, in id order
  q417ctl get ID [--json]                one selector
  q417ctl set ID|all FIELD=VALUE... [--timeout MS] [--json]
                                         change one selector (or every one) and wait until
                                         it reports the new values (default 3000 ms)
  q417ctl watch [--json] [--for SECONDS] every selector's state, then a line for each
                                         selector that appears, changes or disappears,
                                         until Ctrl+C or for the given seconds
  q417ctl --help | --version

Fields of set:
  channel=0..8|none     0 and none: no channel
  mode=0..3|off         0 and off: the selector is off and routes no channel
  indicator=on|off|1|0
  delay=MS              0 to 6553.5 ms, rounded to tenths (ties to even)
A set that leaves a selector in mode 0 expects channel 0 and refuses any other channel.

Output: plain text for people; with --json one JSON value (list: an array, get and set of
one selector: an object, set all: an array; watch: one object per line) with the keys
"id", "version", "error", "mode", "select", "channel", "indicator", "delay_ms" (watch adds
"time" and "event"). Errors go to standard error, one line each.

Exit codes:
  0  done; for set, the selector(s) reported the new values
  1  q417ctl itself failed (out of memory, or its output could not be written)
  2  bad command line: unknown command or field, malformed id or value, a value out of
     range; nothing was sent
  3  no selector with that id is connected; nothing was sent
  4  set was sent but not confirmed within the time-out (the message names the fields)
  5  the device API library failed: it could not be loaded, or initialise or update
     answered a code other than accepted (the message gives the code as "(code)")
)usage";
}

} // namespace q417ctl
