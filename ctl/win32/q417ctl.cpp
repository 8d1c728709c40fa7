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

#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace q417ctl;

namespace {

// Starting the library may start a device host, which finds and opens the selectors first.
constexpr DWORD kInitialiseTimeoutMs = 30000;
// An answer normally follows within the library's poll period; a host that is being restarted
// takes seconds.
constexpr DWORD kAnswerTimeoutMs = 15000;

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
  WriteOut(text);
  return kExitDone;
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

  const ULONGLONG sent = ::GetTickCount64();
  q417::TBytes packet;
  if (link.Update(&plan.Table, packet, kAnswerTimeoutMs) != TLinkResult::Ok) return LibraryFailed(link);
  std::vector<TQ417DeviceState> now = ReadSelectors(packet);
  std::string missing = Unconfirmed(plan.Expected, now);
  // The table's answer may come before every selector has taken it: ask again until the time-out.
  for (;;) {
    if (missing.empty()) break;
    const ULONGLONG waited = ::GetTickCount64() - sent;
    if (waited >= command.TimeoutMs) break;
    const TLinkResult r = link.Update(nullptr, packet, DWORD(command.TimeoutMs - waited));
    if (r == TLinkResult::NoAnswer) break;
    if (r != TLinkResult::Ok) return LibraryFailed(link);
    now = ReadSelectors(packet);
    missing = Unconfirmed(plan.Expected, now);
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

int Watch(TDeviceApiLink& link, const TCommand& command) {
  TConsoleStop stop;
  const ULONGLONG start = ::GetTickCount64();
  auto remaining = [&]() -> DWORD {
    if (!command.ForMs) return kAnswerTimeoutMs;
    const ULONGLONG waited = ::GetTickCount64() - start;
    return waited >= *command.ForMs ? 0 : DWORD(std::min<ULONGLONG>(*command.ForMs - waited, kAnswerTimeoutMs));
  };
  auto over = [&] { return command.ForMs && ::GetTickCount64() - start >= *command.ForMs; };

  q417::TBytes packet;
  TLinkResult r = link.Update(nullptr, packet, kAnswerTimeoutMs, stop.Event());
  if (r == TLinkResult::Stopped) return kExitDone;
  if (r != TLinkResult::Ok) return LibraryFailed(link);
  std::vector<TQ417DeviceState> seen = ReadSelectors(packet);
  if (!command.Json && !WriteOut(WatchHeader() + "\n")) return kExitDone;
  if (!PrintChanges(PresentSelectors(seen), command.Json)) return kExitDone;

  // The library answers a poll as soon as the selectors' state differs from its last answer,
  // and otherwise after its poll period: polling back to back follows every change at once.
  while (!over()) {
    r = link.Update(nullptr, packet, remaining(), stop.Event());
    if (r == TLinkResult::Stopped) break;
    if (r == TLinkResult::NoAnswer && over()) break;
    if (r != TLinkResult::Ok) return LibraryFailed(link);
    std::vector<TQ417DeviceState> now = ReadSelectors(packet);
    if (!PrintChanges(ChangesBetween(seen, now), command.Json)) break; // nobody reads any more
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
  case TCommandKind::Help: WriteOut(UsageText()); return kExitDone;
  case TCommandKind::Version: WriteOut("q417ctl " Q417_VERSION_TEXT "\n"); return kExitDone;
  default: break;
  }

  TDeviceApiLink link;
  if (link.Open(kInitialiseTimeoutMs) != TLinkResult::Ok) return LibraryFailed(link);
  switch (command.Kind) {
  case TCommandKind::List: return List(link, command);
  case TCommandKind::Get: return Get(link, command);
  case TCommandKind::Set: return Set(link, command);
  case TCommandKind::Watch: return Watch(link, command);
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
