#include "DebugMonitor.h"

#include <cstring>

namespace testing_support {

namespace {
constexpr DWORD BufferSize = 4096; // a DWORD process id, then the NUL-terminated ANSI text
}

TDebugMonitor::TDebugMonitor() {
  fBufferReady.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return;
  fDataReady.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  fMapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, BufferSize, L"DBWIN_BUFFER"));
  fStop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!fBufferReady || !fDataReady || !fMapping || !fStop) return;
  fView = ::MapViewOfFile(fMapping.Get(), FILE_MAP_READ, 0, 0, BufferSize);
  if (fView == nullptr) return;
  fReady = true;
  fThread = std::thread([this] { Run(); });
}

TDebugMonitor::~TDebugMonitor() {
  if (fThread.joinable()) {
    ::SetEvent(fStop.Get());
    fThread.join();
  }
  if (fView) ::UnmapViewOfFile(fView);
}

void TDebugMonitor::Run() {
  const HANDLE waits[] = {fStop.Get(), fDataReady.Get()};
  for (;;) {
    ::SetEvent(fBufferReady.Get());
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
    const auto* bytes = static_cast<const char*>(fView);
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    try {
      std::string text(bytes + sizeof pid, strnlen(bytes + sizeof pid, BufferSize - sizeof pid));
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      std::lock_guard lock(fLock);
      fLines.emplace_back(pid, std::move(text));
    } catch (...) {
      // Out of memory: the line is lost, the monitor keeps taking lines.
    }
  }
}

std::vector<std::string> TDebugMonitor::Lines(DWORD processId) const {
  std::lock_guard lock(fLock);
  std::vector<std::string> out;
  for (const auto& [pid, text] : fLines)
    if (pid == processId) out.push_back(text);
  return out;
}

} // namespace testing_support
