#include "ClientSupportU.h"

#include "ClientBinding.h"
#include "DebugText.h"
#include "DebugUtilsU.h"
#include "LibraryCallGuard.h"

#include <shellapi.h>

namespace {

constexpr const wchar_t* DebugSwitchKey = L"SOFTWARE\\Norvane Limited\\Pellix";
constexpr const wchar_t* DebugSwitchValue = L"PellixIsDebug";

int32_t ReadDebugSwitch() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, DebugSwitchKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return 0;
  const win32::TRegKey key(raw);
  DWORD type = 0, value = 0, size = sizeof value;
  if (::RegQueryValueExW(key.Get(), DebugSwitchValue, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS || type != REG_DWORD)
    return 0;
  if (::RegQueryValueExW(key.Get(), DebugSwitchValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return 0;
  return pellix::DebugModeFromValue(type == REG_DWORD, value);
}

// The host works in its own folder from the moment it loads the client library. Windows leaves
// the current folder out of every library search (SetDllDirectoryW with an empty folder); Wine
// does not, so a folder the host was merely started in is not one that can plant a library.
void WorkInProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD n;
  while ((n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()))) >= path.size()) path.resize(path.size() * 2);
  path.resize(n);
  const size_t slash = path.find_last_of(L"\\/");
  if (n > 0 && slash != std::wstring::npos) ::SetCurrentDirectoryW(path.substr(0, slash + 1).c_str());
}

// Binds into the module and entries it is given.
class TWin32ClientPlatform final : public pellix::IClientLibraryPlatform {
public:
  TWin32ClientPlatform(win32::TModule& library, TClientEntries& entries) : fLibrary(library), fEntries(entries) {}

  bool FileExists(const std::wstring& path) override {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  bool LoadFile(const std::wstring& path) override {
    // Absolute, so that the loader looks for nothing: the file the command line named.
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
      full.resize(n);
      n = ::GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) return false;
    full.resize(n);
    WorkInProgramFolder(); // only now: a relative path is relative to the folder started in
    fLibrary.Reset(::LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    return bool(fLibrary);
  }
  bool LoadBareName(const std::wstring& fileName) override {
    WorkInProgramFolder();
    fLibrary.Reset(::LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    return bool(fLibrary);
  }
  bool Resolve(const char* exportName) override {
    const FARPROC address = ::GetProcAddress(fLibrary.Get(), exportName);
    if (std::string_view(exportName) == pellix::MetaExportName)
      fEntries.Meta = reinterpret_cast<TPELLIX_DeviceMeta>(reinterpret_cast<void*>(address));
    else if (std::string_view(exportName) == pellix::UpdateExportName)
      fEntries.Update = reinterpret_cast<TPELLIX_DeviceUpdate>(reinterpret_cast<void*>(address));
    return address != nullptr;
  }
  void Unload() override {
    fEntries = {};
    fLibrary.Reset();
  }
  void DebugOut(const std::wstring& line) override { ::DebugOut(line); }

private:
  win32::TModule& fLibrary;
  TClientEntries& fEntries;
};

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  const win32::TArgumentList argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv.Get()[i]); // argv[0] is the program
  return arguments;
}

// False when an exception left the entry unhandled.
bool QueryDeviceMeta(THostIdentity& identity) {
  if (identity.Entries.Meta == nullptr) return true;
  wchar_t* name = nullptr;
  int32_t baudRate = 0; // filled if the library chooses to; the host opens devices at a fixed rate
  int32_t result = 0;
  TLibraryFault fault;
  if (!GuardedDeviceMeta(identity.Entries.Meta, &identity.DeviceType, &name, &baudRate, result, fault)) {
    DebugOut(pellix::LibraryExceptionLine(fault.Code, fault.Address));
    return false; // a half-made name is the library's: not freed
  }
  const win32::TCoTaskString owned(name);
  if (owned) identity.DeviceTypeName = owned.Get();
  return true;
}

} // namespace

std::optional<TBoundHost> BindHost() {
  TBoundHost host;
  host.Identity.DebugMode = ReadDebugSwitch();
  TWin32ClientPlatform platform(host.Library, host.Identity.Entries);
  pellix::TClientLibraryNames names;
  if (!pellix::InitClientLibrary(CommandLineArguments(), platform, names)) return std::nullopt;
  host.Identity.LibraryPath = names.LibraryPath;
  if (!QueryDeviceMeta(host.Identity)) {
    // A library that faulted may hold its own locks, which its detach could wait on: it stays
    // loaded until the process ends, after the host has written why it ends.
    (void)host.Library.Release();
    return std::nullopt;
  }
  return host;
}
