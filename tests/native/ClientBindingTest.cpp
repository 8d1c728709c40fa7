// The start-up binding against a scripted platform: which files exist, which names load, which
// exports a loaded library has; every platform call and debugger line is recorded in order.
#include "ClientBinding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace pellix;

namespace {

class FakePlatform : public IClientLibraryPlatform {
public:
  std::set<std::wstring> files, loadable, loadableByName;
  std::set<std::string> exports{MetaExportName, UpdateExportName};
  std::vector<std::wstring> calls, debugLines;
  bool loaded = false;

  bool FileExists(const std::wstring& path) override {
    calls.push_back(L"exists " + path);
    return files.count(path) != 0;
  }
  bool LoadFile(const std::wstring& path) override {
    calls.push_back(L"load " + path);
    loaded = loadable.count(path) != 0;
    return loaded;
  }
  bool LoadBareName(const std::wstring& name) override {
    calls.push_back(L"load by name " + name);
    loaded = loadableByName.count(name) != 0;
    return loaded;
  }
  bool Resolve(const char* name) override {
    calls.push_back(L"resolve " + std::wstring(name, name + strlen(name)));
    return exports.count(name) != 0;
  }
  void Unload() override {
    calls.push_back(L"unload");
    loaded = false;
  }
  void DebugOut(const std::wstring& line) override { debugLines.push_back(line); }
};

using Lines = std::vector<std::wstring>;

} // namespace

TEST(ClientBinding, ArgumentCountOtherThanOneIsRefused) {
  for (const Lines& args : {Lines{}, Lines{L"C:\\My", L"Libs\\client.dll"}}) {
    FakePlatform platform;
    TClientLibraryNames names;
    EXPECT_FALSE(InitClientLibrary(args, platform, names));
    EXPECT_EQ(platform.debugLines, Lines{L"Pellix - Invalid parameters"});
    EXPECT_TRUE(platform.calls.empty()) << "nothing is looked at or loaded";
  }
}

TEST(ClientBinding, MissingFileEndsAfterThePathLine) {
  FakePlatform platform;
  platform.loadable = {L"C:\\none\\client.dll", L"client.dll"};
  TClientLibraryNames names;
  EXPECT_FALSE(InitClientLibrary({L"C:\\none\\client.dll"}, platform, names));
  EXPECT_EQ(platform.debugLines, Lines{L"C:\\none\\client.dll"});
  EXPECT_EQ(platform.calls, Lines{L"exists C:\\none\\client.dll"});
}

TEST(ClientBinding, BindsByPathWithBothExports) {
  FakePlatform platform;
  platform.files = platform.loadable = {L"D:\\Dev Libs\\client.dll"};
  TClientLibraryNames names;
  EXPECT_TRUE(InitClientLibrary({L"D:\\Dev Libs\\client.dll"}, platform, names));
  EXPECT_EQ(names.LibraryPath, L"D:\\Dev Libs\\client.dll");
  EXPECT_EQ(names.LibraryFileName, L"CLIENT.DLL");
  EXPECT_EQ(platform.debugLines, Lines{L"D:\\Dev Libs\\client.dll"});
  EXPECT_EQ(platform.calls, (Lines{L"exists D:\\Dev Libs\\client.dll", L"load D:\\Dev Libs\\client.dll",
                                   L"resolve _PELLIX_DeviceMeta", L"resolve _PELLIX_DeviceUpdate"}));
}

TEST(ClientBinding, FallsBackToTheBareFileNameQuietly) {
  FakePlatform platform;
  platform.files = {L"C:\\x\\Client.dll"};
  platform.loadable = {L"Client.dll"}; // a file load of the bare name would find it: not tried
  platform.loadableByName = {L"Client.dll"};
  TClientLibraryNames names;
  EXPECT_TRUE(InitClientLibrary({L"C:\\x\\Client.dll"}, platform, names));
  EXPECT_EQ(platform.calls[2], L"load by name Client.dll") << "case unchanged, extension kept";
  EXPECT_EQ(platform.debugLines.size(), 1u) << "only the path line when the second load works";
}

TEST(ClientBinding, NeitherLoadWritesTheThreeLines) {
  FakePlatform platform;
  platform.files = {L"C:\\x\\broken.dll"};
  TClientLibraryNames names;
  EXPECT_FALSE(InitClientLibrary({L"C:\\x\\broken.dll"}, platform, names));
  EXPECT_EQ(platform.debugLines, (Lines{L"C:\\x\\broken.dll", L"C:\\x\\broken.dll", L"dllHandle = 0", L"broken.dll"}));
  EXPECT_EQ(platform.calls.back(), L"load by name broken.dll");
}

TEST(ClientBinding, AMissingExportUnloadsTheLibrary) {
  for (const char* missing : {UpdateExportName, MetaExportName}) {
    FakePlatform platform;
    platform.files = platform.loadable = {L"c.dll"};
    platform.exports.erase(missing);
    TClientLibraryNames names;
    EXPECT_FALSE(InitClientLibrary({L"c.dll"}, platform, names)) << missing;
    EXPECT_EQ(platform.calls.back(), L"unload");
    EXPECT_FALSE(platform.loaded);
    EXPECT_EQ(platform.debugLines.size(), 1u) << "nothing further is written";
  }
}

TEST(ClientBinding, OnlyANonZeroDwordTurnsDebugModeOn) {
  EXPECT_EQ(DebugModeFromValue(true, 2), -1);
  EXPECT_EQ(DebugModeFromValue(true, 0), 0);
  EXPECT_EQ(DebugModeFromValue(false, 1), 0);
}
