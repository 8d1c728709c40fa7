#include "HostRun.h"

#include "HostNames.h"

#include <algorithm>
#include <cstdio>

namespace testing_support {

namespace {

constexpr const wchar_t* SwitchKey = L"SOFTWARE\\Norvane Limited\\Pellix";

int gRuns = 0;

std::wstring CopyOfLibrary(const std::wstring& library, const std::wstring& unique) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"hostrun" + unique + L".dll";
  ::CopyFileW((ProgramFolder() + library).c_str(), copy.c_str(), FALSE);
  return copy;
}

std::wstring Unique() { return std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++gRuns); }

} // namespace

void SetHostDebugSwitch(bool on) {
  if (!on) {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SwitchKey, L"PellixIsDebug");
    return;
  }
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SwitchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  const win32::TRegKey owner(key);
  const DWORD value = 1;
  ::RegSetValueExW(key, L"PellixIsDebug", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

HWND HostWindowOfType(uint32_t deviceType) {
  wchar_t id[16];
  std::swprintf(id, 16, L"0x%08X", deviceType);
  for (HWND window = ::FindWindowExW(nullptr, nullptr, L"TPellixHostForm", nullptr); window;
       window = ::FindWindowExW(nullptr, window, L"TPellixHostForm", nullptr))
    if (WindowText(::GetDlgItem(window, 103)) == id) return window;
  return nullptr;
}

bool WaitNoHostOfType(uint32_t deviceType, DWORD timeoutMs) {
  wchar_t mutexName[32];
  std::swprintf(mutexName, 32, L"Pellix_%08X", deviceType);
  const auto gone = [&] {
    if (HostWindowOfType(deviceType)) return false;
    const win32::THandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, mutexName));
    return !mutex;
  };
  if (WaitFor(gone, timeoutMs, 50)) return true;
  for (HWND window; (window = HostWindowOfType(deviceType)) != nullptr;) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    const win32::THandle host(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!host || !::TerminateProcess(host.Get(), 99) || ::WaitForSingleObject(host.Get(), 30000) != WAIT_OBJECT_0) break;
  }
  return false;
}

THostRun::THostRun(bool debugMode, const std::wstring& library,
                   const std::vector<std::pair<std::wstring, std::wstring>>& environment)
    : fUnique(Unique()), fLibraryCopy(CopyOfLibrary(library, fUnique)), fAckName(L"PELLIX_ACK_HOSTRUN" + pellix::AsciiUpper(fUnique) + L".DLL"),
      fPipePath(L"\\\\.\\pipe\\PELLIX_PIPE_HOST RUN " + pellix::AsciiUpper(fUnique)) {
  auto env = environment;
  fType = 0x7000 + (::GetCurrentProcessId() % 0x800) * 16 + gRuns % 16;
  fTypeName = L"Host Run " + fUnique;
  env.emplace_back(L"PELLIX_CLIENT_TYPE", std::to_wstring(fType));
  env.emplace_back(L"PELLIX_CLIENT_NAME", fTypeName);
  // The host reads the switch at start; hosts started later must not see it.
  SetHostDebugSwitch(debugMode);
  fProcess = std::make_unique<TChildProcess>(ProgramFolder() + L"Pellix.exe", L"\"" + fLibraryCopy + L"\"", env);
  if (!WaitListening(20000)) {
    // The test fails at its first request; this says why the host did not listen.
    const char* const why = "host run %ls (type 0x%X): not listening after 20 s; ";
    std::fprintf(stderr, why, fUnique.c_str(), unsigned(fType));
    if (!fProcess->Started()) std::fprintf(stderr, "not started\n");
    else if (const DWORD code = fProcess->ExitCode(); code != STILL_ACTIVE) std::fprintf(stderr, "ended with code %lu\n", static_cast<unsigned long>(code));
    else std::fprintf(stderr, "still running, window %d\n", Window() != nullptr ? 1 : 0);
  }
  SetHostDebugSwitch(false);
}

THostRun::~THostRun() {
  fProcess.reset(); // ends the host, if still running, before its library copy goes
  ::DeleteFileW(fLibraryCopy.c_str());
}

size_t TLoggedHost::Calls() const {
  const auto lines = Lines(log.Read());
  return size_t(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("update ", 0) == 0; }));
}

HWND THostRun::Window() const { return fProcess->FindTopWindow(L"TPellixHostForm"); }

std::string THostRun::Label(int id) const { return Narrow(WindowText(::GetDlgItem(Window(), id))); }

} // namespace testing_support
