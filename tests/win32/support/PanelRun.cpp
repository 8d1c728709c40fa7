#include "PanelRun.h"

namespace testing_support {

std::string PacketHex(const std::vector<TSelector>& selectors, bool asTable) {
  std::vector<uint8_t> bytes;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
  };
  put(uint32_t(selectors.size()), 4);
  for (const auto& s : selectors) {
    put(uint32_t(s.id), 4);
    put(asTable ? 0 : s.version, 4);
    put(0, 4);
    put(s.mode, 1);
    put(s.select, 1);
    put(s.indicator, 1);
    put(s.delay, 2);
  }
  return Hex(bytes);
}

TPanelRun::TPanelRun(const std::string& script)
    : fScript(L"scr"), fLog(L"log"),
      fProcess((fScript.Write(script), ProgramFolder() + L"Q417Panel.exe"), L"",
               {{L"NVQ417_DOUBLE_SCRIPT", fScript.Path()}, {L"NVQ417_DOUBLE_LOG", fLog.Path()}}) {
  fStarted = ::GetTickCount64();
  if (!fProcess.Started()) return;
  // The window is looked at from outside while it is still being made: wait for its status line.
  WaitFor([&] {
    fMain = fProcess.FindTopWindow(L"TQ417PanelForm");
    fStatus = fMain ? ::FindWindowExW(fMain, nullptr, L"msctls_statusbar32", nullptr) : nullptr;
    return fStatus != nullptr;
  }, 20000);
}

bool TPanelRun::WaitStatus(const std::string& text, DWORD timeoutMs) {
  return WaitFor([&] { return Status() == text; }, timeoutMs);
}

double TPanelRun::SecondsSinceStart() const { return double(::GetTickCount64() - fStarted) / 1000.0; }

std::vector<std::string> TPanelRun::Events(const std::string& event) const {
  std::vector<std::string> out;
  for (const auto& line : Log())
    if (line.find(" " + event + " ") != std::string::npos) out.push_back(line);
  return out;
}

std::vector<std::string> TPanelRun::Tables() const {
  std::vector<std::string> tables;
  for (const auto& line : Events("update")) {
    const size_t at = line.find("table=");
    if (at == std::string::npos || line.compare(at, 10, "table=null") == 0) continue;
    tables.push_back(line.substr(at + 6, line.find(' ', at) - at - 6));
  }
  return tables;
}

std::string TPanelRun::WaitTable(size_t count, DWORD timeoutMs) const {
  std::vector<std::string> tables;
  WaitFor([&] { return (tables = Tables()).size() > count; }, timeoutMs);
  return tables.size() > count ? tables[count] : "<no table>";
}

bool TPanelRun::WaitAnswerApplied(DWORD timeoutMs) const {
  return WaitFor([&] {
    bool tableSeen = false, pollAfter = false;
    for (const auto& line : Events("update")) {
      const bool isTable = line.find("table=null") == std::string::npos;
      if (isTable) tableSeen = true, pollAfter = false;
      else if (tableSeen) pollAfter = true;
    }
    return tableSeen && pollAfter;
  }, timeoutMs);
}

std::string UniqueName(const std::string& what) {
  static int counter = 0;
  return "Q417_TEST_" + what + "_" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

void SetNamedEvent(const std::string& name) {
  // Kept open for the rest of the run: a named event lives only while a handle to it is open.
  static std::vector<win32::THandle> events;
  events.emplace_back(::CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  ::SetEvent(events.back().Get());
}

} // namespace testing_support
