// q417probe: looks at a running control panel from outside, for scripts such as tools/demo.
//   q417probe wait-status TEXT [TIMEOUT_MS]   waits until the status bar shows TEXT
//   q417probe status                          prints the status bar's text
//   q417probe rect                            prints the window's place as WxH+X+Y
//   q417probe wait-panels N [TIMEOUT_MS]      waits until N device panels are shown
//   q417probe click NAME ELEMENT              clicks channel:N, mode:N or indicator of panel NAME
//   q417probe check-layout DPI                checks that panels, status line and window fit DPI
//   q417probe panel-state NAME                prints what panel NAME shows
//   q417probe wait-selected NAME [TIMEOUT_MS] waits until panel NAME is selected, then has the
//                                             window repaint before it returns
//   q417probe host-poll                       asks the Q417 host for every selector's state
//   q417probe host-set ID MODE SELECT INDICATOR DELAY
//                                             sets one selector through the Q417 host
//   q417probe follow NAME ID SELECT [TIMEOUT_MS]
//                                             sets the selector's channel through the host and
//                                             prints how long panel NAME took to show it
//   q417probe close                           asks the panel to close and waits for it
//   q417probe version-info FILE               prints the version resource of a program or
//                                             library: CompanyName=, ProductName=,
//                                             ProductVersion= and the fixed FileVersion= a.b.c.d
// Exit code 0 on success, 1 on time-out or when no panel runs.
#include "PanelDriver.h"
#include "PanelLayout.h"
#include "PipeClient.h"
#include "Q417Packet.h"
#include "TestSupport.h"

#include <cstdio>
#include <cwchar>
#include <span>
#include <string>
#include <string_view>

using namespace testing_support;
using namespace panel_driver;

namespace {

HWND Panel() { return ::FindWindowW(L"TQ417PanelForm", nullptr); }
HWND StatusBar(HWND panel) { return panel ? ::FindWindowExW(panel, nullptr, L"msctls_statusbar32", nullptr) : nullptr; }

} // namespace

// The layout rules at a DPI: every panel and the status line as high as their design heights
// scaled to it, the client area exactly their sum, and every control of a panel inside the panel.
int CheckLayout(UINT dpi) {
  const HWND panel = Panel();
  if (!panel) return 1;
  auto scaled = [&](int v) { return ::MulDiv(v, int(dpi), 96); };
  const auto panels = DevicePanels(panel);
  const HWND bar = StatusBar(panel);
  int failures = 0;
  auto expect = [&](bool ok, const char* what, long got, long want) {
    if (!ok) std::printf("FAIL %s: %ld, expected %ld\n", what, got, want), ++failures;
  };
  for (HWND p : panels) {
    const SIZE size = ClientSize(p);
    expect(size.cy == scaled(q417::layout::PanelHeight), "panel height", size.cy, scaled(q417::layout::PanelHeight));
    expect(size.cx == ClientSize(panel).cx, "panel width", size.cx, ClientSize(panel).cx);
    for (HWND child = ::GetWindow(p, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      const RECT r = RectIn(child, p);
      expect(r.left >= 0 && r.top >= 0 && r.right <= size.cx && r.bottom <= size.cy, "control inside its panel",
             r.bottom, size.cy);
    }
  }
  const long statusHeight = ClientSize(bar).cy;
  expect(statusHeight == scaled(q417::layout::StatusHeight), "status line height", statusHeight,
         scaled(q417::layout::StatusHeight));
  const long want = long(panels.size()) * scaled(q417::layout::PanelHeight) + scaled(q417::layout::StatusHeight);
  expect(ClientSize(panel).cy == want, "client height", ClientSize(panel).cy, want);
  std::printf("%s dpi=%u panels=%zu panel-height=%ld client=%ldx%ld\n", failures ? "FAILED" : "ok", dpi, panels.size(),
              panels.empty() ? 0L : ClientSize(panels[0]).cy, ClientSize(panel).cx, ClientSize(panel).cy);
  return failures ? 1 : 0;
}

// The Q417 host's pipe: one request, its update packet.
bool AskHost(const q417::TBytes& payload, q417::TBytes& packet) {
  TPipeClient host;
  if (!host.Connect(L"\\\\.\\pipe\\PELLIX_PIPE_Q417", 5000)) return false;
  const TBytes reply = host.Request(1, std::string(payload.begin(), payload.end()));
  if (reply.size() < 12) return false;
  packet = Payload(reply);
  return true;
}

void PrintPacket(const q417::TBytes& packet) {
  for (int32_t i = 0; i < q417::PacketRecordCount(packet); ++i) {
    const TQ417DeviceState r = q417::PacketRecord(packet, i);
    std::printf("id=%d mode=%u select=%u indicator=%u delay=%u\n", r.Q417_DeviceID, r.Q417_State.Q417_Mode,
                r.Q417_State.Q417_Select, r.Q417_State.Q417_Indicator, r.Q417_State.Q417_Delay);
  }
}

// Sets one selector's state through the host; the answer is every selector's new state.
bool SetThroughHost(int32_t id, int mode, int select, int indicator, int delay, q417::TBytes& packet) {
  q417::TBytes table;
  q417::BuildNextStateTable(table, 1, [&](int32_t, TQ417DeviceState& r) {
    r.Q417_DeviceID = id;
    r.Q417_State = {uint8_t(mode), uint8_t(select), uint8_t(indicator), uint16_t(delay)};
  });
  return AskHost(table, packet);
}

namespace {

// A command's arguments, those after its name.
using TArgs = std::span<wchar_t* const>;

DWORD Timeout(TArgs args, size_t i, DWORD otherwise) {
  return args.size() > i ? DWORD(std::wcstoul(args[i], nullptr, 10)) : otherwise;
}

HWND PanelNamed(const wchar_t* name) { return Panel() ? DevicePanel(Panel(), name) : nullptr; }

int Status(TArgs) {
  const HWND bar = StatusBar(Panel());
  if (!bar) return 1;
  std::printf("%s\n", Narrow(ReadStatusBar(bar)).c_str());
  return 0;
}

int WaitStatus(TArgs args) {
  const std::wstring text = args[0];
  std::wstring last;
  const bool seen = WaitFor([&] {
    const HWND bar = StatusBar(Panel());
    return bar && (last = ReadStatusBar(bar)) == text;
  }, Timeout(args, 1, 20000), 50);
  if (!seen) std::fprintf(stderr, "status is \"%s\"\n", Narrow(last).c_str());
  return seen ? 0 : 1;
}

int Rect(TArgs) {
  RECT r{};
  if (!::GetWindowRect(Panel(), &r)) return 1;
  std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
  return 0;
}

int WaitPanels(TArgs args) {
  const size_t count = std::wcstoul(args[0], nullptr, 10);
  return WaitFor([&] { return Panel() && DevicePanels(Panel()).size() == count; }, Timeout(args, 1, 20000), 50) ? 0 : 1;
}

int ClickElement(TArgs args) {
  const HWND target = PanelNamed(args[0]);
  if (!target) return 1;
  const std::wstring element = args[1];
  const int n = element.find(L':') != std::wstring::npos ? std::stoi(element.substr(element.find(L':') + 1)) : 0;
  if (element.rfind(L"channel:", 0) == 0) Click(target, ChannelTile(n));
  else if (element.rfind(L"mode:", 0) == 0) Click(target, ModeTile(n));
  else if (element == L"indicator") Click(target, IndicatorTile());
  else return 2;
  return 0;
}

int CheckLayoutAt(TArgs args) { return CheckLayout(UINT(std::wcstoul(args[0], nullptr, 10))); }

int PanelState(TArgs args) {
  TPanelState state;
  const HWND target = PanelNamed(args[0]);
  if (!target || !QueryState(target, state)) return 1;
  std::printf("mode=%d select=%d indicator=%d delay=%d selected=%d editing=%d\n", state.Mode, state.Select,
              state.Indicator, state.Delay, int(state.Selected), int(state.Editing));
  return 0;
}

int WaitSelected(TArgs args) {
  TPanelState state;
  const bool selected = WaitFor([&] {
    const HWND target = PanelNamed(args[0]);
    return target && QueryState(target, state) && state.Selected;
  }, Timeout(args, 1, 20000), 50);
  if (!selected) return 1;
  // Painting is sent to the window and waited for; the round trip after it returns once the
  // panel's thread has gone idle, which is when its picture reaches the display.
  ::RedrawWindow(Panel(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  DWORD_PTR ignored = 0;
  return ::SendMessageTimeoutW(Panel(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) ? 0 : 1;
}

int HostPoll(TArgs) {
  q417::TBytes packet;
  if (!AskHost({}, packet)) return 1;
  PrintPacket(packet);
  return 0;
}

int HostSet(TArgs args) {
  auto number = [&](size_t i) { return int(std::wcstol(args[i], nullptr, 0)); };
  q417::TBytes packet;
  if (!SetThroughHost(int32_t(number(0)), number(1), number(2), number(3), number(4), packet)) return 1;
  PrintPacket(packet);
  return 0;
}

int Follow(TArgs args) {
  const HWND target = PanelNamed(args[0]);
  const int32_t id = int32_t(std::wcstol(args[1], nullptr, 0));
  const int select = int(std::wcstol(args[2], nullptr, 0));
  const DWORD timeout = Timeout(args, 3, 5000);
  TPanelState before;
  if (!target || !QueryState(target, before)) return 1;
  q417::TBytes packet;
  if (!SetThroughHost(id, before.Mode, select, before.Indicator, before.Delay, packet)) return 1;
  LARGE_INTEGER frequency, start, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  TPanelState shown;
  const bool followed = WaitFor([&] { return QueryState(target, shown) && shown.Select == select; }, timeout, 1);
  ::QueryPerformanceCounter(&now);
  const double ms = double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
  std::printf("%s %.1f ms\n", followed ? "followed" : "not followed", ms);
  return followed ? 0 : 1;
}

int Close(TArgs) {
  const HWND panel = Panel();
  if (!panel) return 1;
  ::PostMessageW(panel, WM_CLOSE, 0, 0);
  return WaitFor([&] { return !::IsWindow(panel); }, 10000) ? 0 : 1;
}

int VersionInfo(TArgs args) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(args[0], &ignored);
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (size == 0 || !::GetFileVersionInfoW(args[0], 0, size, data.data())) return 1;
  // The text of the first translation the resource lists.
  struct TTranslation {
    WORD Language, CodePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(TTranslation))
    return 1;
  for (const wchar_t* key : {L"CompanyName", L"ProductName", L"ProductVersion"}) {
    wchar_t path[96];
    std::swprintf(path, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation->Language, translation->CodePage, key);
    wchar_t* text = nullptr;
    if (!::VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&text), &length)) return 1;
    std::printf("%ls=%ls\n", key, text);
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof(*fixed)) return 1;
  std::printf("FileVersion=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
              fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
  return 0;
}

// The commands of the head of this file, each with the number of arguments it needs at least.
struct TCommand {
  std::wstring_view name;
  size_t arguments;
  int (*run)(TArgs);
};
constexpr TCommand kCommands[] = {
    {L"status", 0, Status},          {L"wait-status", 1, WaitStatus},     {L"rect", 0, Rect},
    {L"wait-panels", 1, WaitPanels}, {L"click", 2, ClickElement},         {L"check-layout", 1, CheckLayoutAt},
    {L"panel-state", 1, PanelState}, {L"wait-selected", 1, WaitSelected}, {L"host-poll", 0, HostPoll},
    {L"host-set", 5, HostSet},       {L"follow", 3, Follow},              {L"close", 0, Close},
    {L"version-info", 1, VersionInfo},
};

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: q417probe wait-status TEXT [TIMEOUT_MS] | status | close\n", stderr);
    return 2;
  }
  const TArgs args(argv + 2, size_t(argc - 2));
  for (const TCommand& command : kCommands)
    if (command.name == argv[1] && args.size() >= command.arguments) return command.run(args);
  std::fputs("unknown command\n", stderr);
  return 2;
}
