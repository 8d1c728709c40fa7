#include "ClientSupportU.h"

#include "ClientBinding.h"
#include "DebugText.h"
#include "DebugUtilsU.h"
#include "LibraryCallGuard.h"

#include <shellapi.h>

namespace ClientSupport {
std::wstring LibraryPath;
std::wstring LibraryFileName;
win32::TModule LibraryHandle;
TPELLIX_DeviceMeta MetaEntry = nullptr;
TPELLIX_DeviceUpdate UpdateEntry = nullptr;
uint32_t DeviceType = 0;
std::wstring DeviceTypeName;
int32_t BaudRate = 0;
} // namespace ClientSupport

using namespace ClientSupport;

namespace {

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

class TWin32ClientPlatform final : public pellix::IClientLibraryPlatform {
public:
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
    LibraryHandle.Reset(::LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    return bool(LibraryHandle);
  }
  bool LoadBareName(const std::wstring& fileName) override {
    WorkInProgramFolder();
    LibraryHandle.Reset(::LoadLibraryExW(fileName.c_str(), nullptr,
                                         LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    return bool(LibraryHandle);
  }
  bool Resolve(const char* exportName) override {
    const FARPROC address = ::GetProcAddress(LibraryHandle.Get(), exportName);
    if (std::string_view(exportName) == pellix::MetaExportName)
      MetaEntry = reinterpret_cast<TPELLIX_DeviceMeta>(reinterpret_cast<void*>(address));
    else if (std::string_view(exportName) == pellix::UpdateExportName)
      UpdateEntry = reinterpret_cast<TPELLIX_DeviceUpdate>(reinterpret_cast<void*>(address));
    return address != nullptr;
  }
  void Unload() override { FreeClientLibrary(); }
  void DebugOut(const std::wstring& line) override { ::DebugOut(line); }
};

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  const win32::TArgumentList argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv.Get()[i]); // argv[0] is the program
  return arguments;
}

} // namespace

bool InitClientLibrary() {
  LibraryHandle.Release(); // cleared, not freed: nothing is loaded before start-up
  MetaEntry = nullptr;
  TWin32ClientPlatform platform;
  pellix::TClientLibraryNames names;
  const bool bound = pellix::InitClientLibrary(CommandLineArguments(), platform, names);
  LibraryPath = names.LibraryPath;
  LibraryFileName = names.LibraryFileName;
  return bound;
}

bool BindClientLibrary() {
  TWin32ClientPlatform platform;
  return pellix::BindClientLibrary(LibraryPath, platform);
}

bool LoadClientLibrary() {
  TWin32ClientPlatform platform;
  return pellix::LoadClientLibrary(LibraryPath, platform);
}

void FreeClientLibrary() {
  MetaEntry = nullptr;
  UpdateEntry = nullptr;
  LibraryHandle.Reset();
}

bool QueryDeviceMeta() {
  if (MetaEntry == nullptr) return true;
  wchar_t* name = nullptr;
  int32_t result = 0;
  TLibraryFault fault;
  if (!GuardedDeviceMeta(MetaEntry, &DeviceType, &name, &BaudRate, result, fault)) {
    DebugOut(pellix::LibraryExceptionLine(fault.Code, fault.Address));
    return false; // a half-made name is the library's: not freed
  }
  const win32::TCoTaskString owned(name);
  if (owned) DeviceTypeName = owned.Get();
  return true;
}
