#include "ClientBinding.h"

#include "DebugText.h"
#include "HostNames.h"

namespace pellix {

namespace {

bool LoadClientLibrary(const std::wstring& libraryPath, IClientLibraryPlatform& platform) {
  if (platform.LoadFile(libraryPath)) return true;
  const std::wstring bareName = FileNamePart(libraryPath);
  if (platform.LoadBareName(bareName)) return true;
  platform.DebugOut(libraryPath);
  platform.DebugOut(FormatDebugText(L"dllHandle = %d", {int64_t(0)}));
  platform.DebugOut(bareName);
  return false;
}

bool BindClientLibrary(const std::wstring& libraryPath, IClientLibraryPlatform& platform) {
  if (!LoadClientLibrary(libraryPath, platform)) return false;
  const bool meta = platform.Resolve(MetaExportName);
  const bool update = platform.Resolve(UpdateExportName);
  if (meta && update) return true;
  platform.Unload();
  return false;
}

} // namespace

bool InitClientLibrary(const std::vector<std::wstring>& arguments, IClientLibraryPlatform& platform,
                       TClientLibraryNames& names) {
  if (arguments.size() != 1) {
    platform.DebugOut(InvalidParametersLine);
    return false;
  }
  names.LibraryPath = arguments[0];
  platform.DebugOut(FormatDebugText(L"%s", {names.LibraryPath}));
  if (!platform.FileExists(names.LibraryPath)) return false;
  names.LibraryFileName = LibraryFileName(names.LibraryPath);
  return BindClientLibrary(names.LibraryPath, platform);
}

int32_t DebugModeFromValue(bool isDword, uint32_t value) { return isDword && value != 0 ? -1 : 0; }

} // namespace pellix
