// Start-up of the device host up to a bound client library: the command-line check, the
// library's path and file name, loading it (by its path, then by its bare file name from the
// program's and the system's folders) and
// resolving its two entry points, with the host's debugger-output lines. The platform (file
// system, library loader, debugger output) is reached through IClientLibraryPlatform, which
// ClientSupportU implements with the Win32 API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellix {

inline constexpr const char* MetaExportName = "_PELLIX_DeviceMeta";
inline constexpr const char* UpdateExportName = "_PELLIX_DeviceUpdate";
inline constexpr const wchar_t* InvalidParametersLine = L"Pellix - Invalid parameters";

class IClientLibraryPlatform {
public:
  virtual ~IClientLibraryPlatform() = default;
  // A file (not a directory) exists at the path, symbolic links followed.
  virtual bool FileExists(const std::wstring& path) = 0;
  // Loads the library at the path, made absolute; its own dependencies are looked for beside it,
  // in the program's folder and in the system folder. True when a handle is held afterwards.
  virtual bool LoadFile(const std::wstring& path) = 0;
  // Loads a library by its bare file name from the program's folder or the system folder only:
  // never from the current folder or the folders of the PATH.
  virtual bool LoadBareName(const std::wstring& fileName) = 0;
  // Looks up an export by its ANSI name and keeps its address; true when found.
  virtual bool Resolve(const char* exportName) = 0;
  // Unloads the library and forgets the addresses, if a handle is held.
  virtual void Unload() = 0;
  virtual void DebugOut(const std::wstring& line) = 0;
};

struct TClientLibraryNames {
  std::wstring LibraryPath;     // the argument, unchanged
  std::wstring LibraryFileName; // its file-name part, ASCII upper-cased
};

// The arguments after the program name. True when the library is loaded and both entry points
// are bound; names is filled as far as the check got.
bool InitClientLibrary(const std::vector<std::wstring>& arguments, IClientLibraryPlatform& platform,
                       TClientLibraryNames& names);

// The registry debug switch: only a REG_DWORD value counts, non-zero turns debug mode on.
// Returns the host's flag: 0, or all bits set.
int32_t DebugModeFromValue(bool isDword, uint32_t value);

} // namespace pellix
