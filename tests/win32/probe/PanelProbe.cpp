// q417probe: looks at a running control panel from outside, for scripts such as tools/demo.
//   q417probe wait-status TEXT [TIMEOUT_MS]   waits until the status bar shows TEXT
//   q417probe status                          prints the status bar's text
//   q417probe rect                            prints the window's place as WxH+X+Y
//   q417probe close                           asks the panel to close and waits for it
// Exit code 0 on success, 1 on time-out or when no panel runs.
#include "TestSupport.h"

#include <cstdio>
#include <cwchar>
#include <string>

using namespace testing_support;

namespace {

HWND Panel() { return ::FindWindowW(L"TQ417PanelForm", nullptr); }
HWND StatusBar(HWND panel) { return panel ? ::FindWindowExW(panel, nullptr, L"msctls_statusbar32", nullptr) : nullptr; }

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: q417probe wait-status TEXT [TIMEOUT_MS] | status | close\n", stderr);
    return 2;
  }
  const std::wstring command = argv[1];
  if (command == L"status") {
    const HWND bar = StatusBar(Panel());
    if (!bar) return 1;
    std::printf("%s\n", Narrow(ReadStatusBar(bar)).c_str());
    return 0;
  }
  if (command == L"wait-status" && argc >= 3) {
    const std::wstring text = argv[2];
    const DWORD timeout = argc >= 4 ? DWORD(std::wcstoul(argv[3], nullptr, 10)) : 20000;
    std::wstring last;
    const bool seen = WaitFor([&] {
      const HWND bar = StatusBar(Panel());
      return bar && (last = ReadStatusBar(bar)) == text;
    }, timeout, 50);
    if (!seen) std::fprintf(stderr, "status is \"%s\"\n", Narrow(last).c_str());
    return seen ? 0 : 1;
  }
  if (command == L"rect") {
    RECT r{};
    if (!::GetWindowRect(Panel(), &r)) return 1;
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    return 0;
  }
  if (command == L"close") {
    const HWND panel = Panel();
    if (!panel) return 1;
    ::PostMessageW(panel, WM_CLOSE, 0, 0);
    return WaitFor([&] { return !::IsWindow(panel); }, 10000) ? 0 : 1;
  }
  std::fputs("unknown command\n", stderr);
  return 2;
}
