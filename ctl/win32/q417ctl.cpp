// q417ctl.exe: the selectors from scripts and the command line, through the device API library
// as the control panel reaches them. The rules live in the portable core (ctl/core); this is
// the program around them: the library link, the console, and the four commands.
#include "Console.h"
#include "CtlCommand.h"
#include "DeviceApiLink.h"
#include "Q417Version.h"
#include "SelectorReport.h"
#include "SetPlan.h"
#include "StateChanges.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace q417ctl;

namespace {

// Starting the library may start a device host, which finds and opens the selectors first.
constexpr DWORD kInitialiseTimeoutMs = 30000;
// An answer normally follows within the library's poll period; one that has to wait for a
// device host to be started again takes seconds. Watch waits as long as it takes.
constexpr DWORD kAnswerTimeoutMs = 60000;

int OutputFailed() {
  WriteError("the output could not be written");
  return kExitInternal;
}

int LibraryFailed(const TDeviceApiLink& link) {
  WriteError(link.Error());
  return kExitLibraryFailed;
}

// The selectors as the library reports them now.
std::optional<std::vector<TQ417DeviceState>> ReadNow(TDeviceApiLink& link) {
  q417::TBytes packet;
  if (link.Update(nullptr, packet, kAnswerTimeoutMs) != TLinkResult::Ok) return std::nullopt;
  return ReadSelectors(packet);
}

int PrintSelectors(const std::vector<TQ417DeviceState>& selectors, bool json, bool asObject) {
  std::string text;
  if (json) {
    text = (asObject && selectors.size() == 1 ? JsonObject(selectors[0]) : JsonArray(selectors)) + "\n";
  } else {
    text = TableHeader();
    for (const TQ417DeviceState& s : selectors) text += TableRow(s);
  }
  return WriteOut(text) ? kExitDone : OutputFailed();
}

int List(TDeviceApiLink& link, const TCommand& command) {
  const auto selectors = ReadNow(link);
  if (!selectors) return LibraryFailed(link);
  return PrintSelectors(*selectors, command.Json, false);
}

int Get(TDeviceApiLink& link, const TCommand& command) {
  const auto selectors = ReadNow(link);
  if (!selectors) return LibraryFailed(link);
  const TQ417DeviceState* selector = FindSelector(*selectors, command.DeviceId);
  if (!selector) {
    WriteError("no selector with id " + std::to_string(command.DeviceId) + " is connected");
    return kExitNoSelector;
  }
  return PrintSelectors({*selector}, command.Json, true);
}

int Set(TDeviceApiLink& link, const TCommand& command) {
  const auto selectors = ReadNow(link);
  if (!selectors) return LibraryFailed(link);
  const TSetPlan plan = PlanSet(*selectors, command);
  if (plan.Refusal != kExitDone) {
    WriteError(plan.Error);
    return plan.Refusal;
  }

  // The time-out counts from sending the table; its answer, and the answers to the polls after
  // it (every selector may not have taken the table yet), are waited for only within it. What
  // did not come in time is reported against what the selectors last reported.
  const ULONGLONG sent = ::GetTickCount64();
  auto remaining = [&]() -> DWORD {
    const ULONGLONG waited = ::GetTickCount64() - sent;
    return waited >= command.TimeoutMs ? 0 : DWORD(command.TimeoutMs - waited);
  };
  std::vector<TQ417DeviceState> now = *selectors;
  const q417::TBytes* table = &plan.Table;
  q417::TBytes packet;
  std::string missing;
  for (;;) {
    const TLinkResult r = link.Update(table, packet, remaining());
    if (r == TLinkResult::NoAnswer) {
      missing = Unconfirmed(plan.Expected, now);
      break;
    }
    if (r != TLinkResult::Ok) return LibraryFailed(link);
    table = nullptr;
    now = ReadSelectors(packet);
    missing = Unconfirmed(plan.Expected, now);
    if (missing.empty() || remaining() == 0) break;
  }
  if (!missing.empty()) {
    WriteError("not confirmed within " + std::to_string(command.TimeoutMs) + " ms: " + missing);
    return kExitNotConfirmed;
  }
  std::vector<TQ417DeviceState> confirmed;
  for (const TExpectation& e : plan.Expected) confirmed.push_back(*FindSelector(now, e.DeviceId));
  return PrintSelectors(confirmed, command.Json, !command.AllSelectors);
}

bool PrintChanges(const std::vector<TStateChange>& changes, bool json) {
  if (changes.empty()) return true;
  const std::string time = LocalTimeNow();
  std::string text;
  for (const TStateChange& c : changes)
    text += (json ? WatchJson(time, c.Event, c.Selector) : WatchText(time, c.Event, c.Selector)) + "\n";
  return WriteOut(text);
}

// Until Ctrl+C (stop) or for the given time. Every answer is waited for as long as it takes: a
// device host that ended is started again by the library, and watch goes on after it.
int Watch(TDeviceApiLink& link, const TCommand& command, HANDLE stop) {
  const ULONGLONG start = ::GetTickCount64();
  auto remaining = [&]() -> DWORD {
    if (!command.ForMs) return INFINITE;
    const ULONGLONG waited = ::GetTickCount64() - start;
    return waited >= *command.ForMs ? 0 : DWORD(std::min<ULONGLONG>(*command.ForMs - waited, INFINITE - 1));
  };
  std::optional<std::vector<TQ417DeviceState>> seen;
  q417::TBytes packet;
  // The first answer is waited for even with --for 0: watch always prints the state once.
  for (bool first = true; first || remaining() > 0; first = false) {
    const DWORD wait = !first ? remaining() : command.ForMs ? std::max(remaining(), kAnswerTimeoutMs) : INFINITE;
    const TLinkResult r = link.Update(nullptr, packet, wait, stop);
    if (r == TLinkResult::Stopped || (r == TLinkResult::NoAnswer && !first)) break;
    if (r != TLinkResult::Ok) return LibraryFailed(link);
    std::vector<TQ417DeviceState> now = ReadSelectors(packet);
    const std::vector<TStateChange> changes = seen ? ChangesBetween(*seen, now) : PresentSelectors(now);
    if (!seen && !command.Json && !WriteOut(WatchHeader() + "\n")) break;
    // The library answers a poll as soon as the selectors' state differs from its last answer,
    // and otherwise after its poll period: polling back to back follows every change at once.
    if (!PrintChanges(changes, command.Json)) break; // nobody reads any more
    seen = std::move(now);
  }
  return kExitDone;
}

int Run(const std::vector<std::string>& args) {
  const TParseResult parsed = ParseCommandLine(args);
  if (!parsed.Ok()) {
    WriteError(parsed.Error);
    return kExitUsage;
  }
  const TCommand& command = parsed.Command;
  switch (command.Kind) {
  case TCommandKind::Help: return WriteOut(UsageText()) ? kExitDone : OutputFailed();
  case TCommandKind::Version: return WriteOut("q417ctl " Q417_VERSION_TEXT "\n") ? kExitDone : OutputFailed();
  default: break;
  }

  // Watch ends on Ctrl+C, after closing the library: the stop outlives the link.
  std::optional<TConsoleStop> stop;
  if (command.Kind == TCommandKind::Watch) stop.emplace();
  const HANDLE stopEvent = stop ? stop->Event() : nullptr;
  TDeviceApiLink link;
  const TLinkResult opened = link.Open(kInitialiseTimeoutMs, stopEvent);
  if (opened == TLinkResult::Stopped) return kExitDone;
  if (opened != TLinkResult::Ok) return LibraryFailed(link);
  switch (command.Kind) {
  case TCommandKind::List: return List(link, command);
  case TCommandKind::Get: return Get(link, command);
  case TCommandKind::Set: return Set(link, command);
  case TCommandKind::Watch: return Watch(link, command, stopEvent);
  default: return kExitInternal;
  }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(win32::Narrow(argv[i]));
    return Run(args);
  } catch (const std::bad_alloc&) {
    WriteError("out of memory");
  } catch (...) {
    WriteError("internal error");
  }
  return kExitInternal;
}
