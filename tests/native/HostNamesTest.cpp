#include "DebugText.h"
#include "HostNames.h"
#include "IdleShutdown.h"

#include <gtest/gtest.h>

using namespace pellix;

TEST(HostNames, SharedObjectNames) {
  EXPECT_EQ(MutexName(0x1A2B), L"Pellix_00001A2B");
  EXPECT_EQ(MutexName(0x10), L"Pellix_00000010");
  EXPECT_EQ(MutexName(0), L"Pellix_00000000");
  EXPECT_EQ(MutexName(0xFFFFFFFFu), L"Pellix_FFFFFFFF");
  // Only a to z change: accented letters and digits stay as they are.
  EXPECT_EQ(PipeName(L"Abc 2 \u00e9x"), L"PELLIX_PIPE_ABC 2 \u00e9X");
  EXPECT_EQ(PipePath(PipeName(L"abc")), L"\\\\.\\pipe\\PELLIX_PIPE_ABC");
  EXPECT_EQ(AckEventName(LibraryFileName(L"C:\\Devices\\client.dll")), L"PELLIX_ACK_CLIENT.DLL");
}

TEST(HostNames, FileNamePartsOfLibraryPaths) {
  struct Case {
    const wchar_t* path;
    const wchar_t* bare;
    const wchar_t* upper;
  };
  const Case cases[] = {
      {L"C:\\Devices\\client.dll", L"client.dll", L"CLIENT.DLL"},
      {L"C:client.Dll", L"client.Dll", L"CLIENT.DLL"},
      {L"relative\\sub\\My Lib.dll", L"My Lib.dll", L"MY LIB.DLL"},
      {L"plain.dll", L"plain.dll", L"PLAIN.DLL"},
      {L"C:\\dir\\", L"", L""},
      {L"\\\\server\\share\\x\u00e4.dll", L"x\u00e4.dll", L"X\u00e4.DLL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileNamePart(c.path), c.bare) << std::wstring(c.path).size();
    EXPECT_EQ(LibraryFileName(c.path), c.upper);
  }
}

TEST(HostNames, TrimUpperAndDevicePaths) {
  EXPECT_EQ(Trim(L" \t\r\n com7 \x01"), L"com7");
  EXPECT_EQ(Trim(L"   "), L"");
  EXPECT_EQ(DevicePath(L" com7\t"), L"\\\\.\\COM7");
  EXPECT_TRUE(EqualsIgnoringAsciiCase(L"com7", L"COM7"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(L" com7", L"COM7"));
  EXPECT_EQ(Hex(0x403, 4), L"0403");
  EXPECT_EQ(Hex(0x12345, 4), L"12345");
}

TEST(DebugText, FormatsTheHostsDirectives) {
  EXPECT_EQ(FormatDebugText(L"dllHandle = %d", {int64_t(0)}), L"dllHandle = 0");
  EXPECT_EQ(FormatDebugText(L"szRead=%d", {int64_t(-12)}), L"szRead=-12");
  EXPECT_EQ(FormatDebugText(L"LastError = 0x%x", {int64_t(233)}), L"LastError = 0xE9");
  EXPECT_EQ(FormatDebugText(L"%s|%s", {std::wstring(L"a b"), std::wstring(L"%d")}), L"a b|%d");
  EXPECT_EQ(FormatDebugText(L"100%% done", {}), L"100% done");
  // Directives without a matching argument stay text; nothing is read past the arguments.
  EXPECT_EQ(FormatDebugText(L"%d %s %q %", {std::wstring(L"x")}), L"%d x %q %");
}

TEST(DebugText, NamesALibraryExceptionInFullWidthHex) {
  EXPECT_EQ(LibraryExceptionLine(0xC0000005, 0x00007FF6A1B2C3D4), L"Client library exception 0xC0000005 at 0x00007FF6A1B2C3D4");
  EXPECT_EQ(LibraryExceptionLine(0x1, 0xFFFFFFFF00000000), L"Client library exception 0x00000001 at 0xFFFFFFFF00000000");
}

TEST(IdleShutdown, EndsOnceTheIdleTicksPassTheLimit) {
  TIdleShutdown normal(0);
  EXPECT_FALSE(normal.Tick(0));
  EXPECT_TRUE(normal.Tick(0)) << "second consecutive tick without a client";

  TIdleShutdown debug(-1);
  EXPECT_EQ(debug.IdleLimit(), 60);
  for (int i = 0; i < 59; ++i) ASSERT_FALSE(debug.Tick(0));
  EXPECT_FALSE(debug.Tick(2)) << "a client restarts the count";
  for (int i = 0; i < 60; ++i) ASSERT_FALSE(debug.Tick(0)) << i;
  EXPECT_TRUE(debug.Tick(0));
}
