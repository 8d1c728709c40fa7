#include "HostRun.h"

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

std::wstring Upper(std::wstring text) {
  for (auto& c : text)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  return text;
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

THostRun::THostRun(bool debugMode, const std::wstring& library,
                   const std::vector<std::pair<std::wstring, std::wstring>>& environment)
    : fUnique(Unique()), fLibraryCopy(CopyOfLibrary(library, fUnique)), fAckName(L"PELLIX_ACK_HOSTRUN" + Upper(fUnique) + L".DLL"),
      fPipePath(L"\\\\.\\pipe\\PELLIX_PIPE_HOST RUN " + Upper(fUnique)) {
  auto env = environment;
  fType = 0x7000 + (::GetCurrentProcessId() % 0x800) * 16 + gRuns % 16;
  fTypeName = L"Host Run " + fUnique;
  env.emplace_back(L"PELLIX_CLIENT_TYPE", std::to_wstring(fType));
  env.emplace_back(L"PELLIX_CLIENT_NAME", fTypeName);
  // The host reads the switch at start; hosts started later must not see it.
  SetHostDebugSwitch(debugMode);
  fProcess = std::make_unique<TChildProcess>(ProgramFolder() + L"Pellix.exe", L"\"" + fLibraryCopy + L"\"", env);
  WaitListening(20000);
  SetHostDebugSwitch(false);
}

THostRun::~THostRun() {
  fProcess.reset(); // ends the host, if still running, before its library copy goes
  ::DeleteFileW(fLibraryCopy.c_str());
}

HWND THostRun::Window() const { return fProcess->FindTopWindow(L"TPellixHostForm"); }

std::string THostRun::Label(int id) const { return Narrow(WindowText(::GetDlgItem(Window(), id))); }

} // namespace testing_support
