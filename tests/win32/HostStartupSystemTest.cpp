// Pellix.exe started from outside with the test client libraries: how it ends when start-up
// fails, the debugger-output lines it writes (captured as a debug monitor does), the one host
// per device type, and the registry debug switch.
#include "DebugMonitor.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr const wchar_t* HostClass = L"TPellixHostForm";
constexpr int lblDeviceCountId = 104;
constexpr const wchar_t* SwitchKey = L"SOFTWARE\\Norvane Limited\\Pellix";
constexpr const wchar_t* SwitchValue = L"PellixIsDebug";

std::wstring HostExe() { return ProgramFolder() + L"Pellix.exe"; }
std::wstring Double() { return ProgramFolder() + L"PellixClientDouble.dll"; }
std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

void SetSwitch(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SwitchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
  const win32::TRegKey owner(key);
  ASSERT_EQ(::RegSetValueExW(key, SwitchValue, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}
void SetDebugDword(DWORD value) { SetSwitch(REG_DWORD, &value, sizeof value); }
void SetDebugString(const wchar_t* text) { SetSwitch(REG_SZ, text, DWORD((wcslen(text) + 1) * sizeof(wchar_t))); }
void ClearDebugSwitch() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SwitchKey, SwitchValue); }

// What was seen of a host's window while the host ran.
struct TWindowWatch {
  bool exited = false;
  bool sawWindow = false;
  bool everVisible = false;
  std::string deviceCount;
  double seconds = 0; // the host's life, from the start and end the system recorded
};

// Watches the host until it ends or the deadline passes.
TWindowWatch WatchUntilExit(TChildProcess& host, DWORD timeoutMs) {
  TWindowWatch watch;
  watch.exited = WaitFor(
      [&] {
        if (HWND w = host.FindTopWindow(HostClass)) {
          watch.sawWindow = true;
          watch.everVisible |= ::IsWindowVisible(w) != FALSE;
          // A window that is being destroyed answers with no text; keep what it showed before.
          if (HWND count = ::GetDlgItem(w, lblDeviceCountId))
            if (const std::string text = Narrow(WindowText(count)); !text.empty()) watch.deviceCount = text;
        }
        return ::WaitForSingleObject(host.Handle(), 0) == WAIT_OBJECT_0;
      },
      timeoutMs, 5);
  // Not this loop's time: reading a window that is going away may keep it waiting.
  watch.seconds = host.SecondsRun();
  return watch;
}

HWND WaitForHostWindow(TChildProcess& host) {
  HWND window = nullptr;
  WaitFor([&] { return (window = host.FindTopWindow(HostClass)) != nullptr; }, 20000);
  return window;
}

class HostStartup : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(monitor.Ready()) << "another debug monitor is running";
    ClearDebugSwitch();
  }
  void TearDown() override { ClearDebugSwitch(); }

  // The host's debugger lines once there are at least `count` of them (they may still be in
  // flight when the host has ended).
  std::vector<std::string> LinesOf(const TChildProcess& host, size_t count) {
    WaitFor([&] { return monitor.Lines(host.Id()).size() >= count; }, 20000);
    return monitor.Lines(host.Id());
  }

  TDebugMonitor monitor;
};

using TLines = std::vector<std::string>;

} // namespace

TEST_F(HostStartup, FailedStartsEndQuietlyWithTheirDebuggerLines) {
  const TTempFile bogus(L"pxc"); // a file that is no library, under a name found nowhere else
  const std::wstring bogusDll = bogus.Path() + L".dll";
  ASSERT_TRUE(::CopyFileW(bogus.Path().c_str(), bogusDll.c_str(), FALSE));
  const std::string bogusName = Narrow(bogusDll.substr(bogusDll.find_last_of(L'\\') + 1));
  const std::wstring metaOnly = ProgramFolder() + L"PellixClientMetaOnly.dll";
  struct Case {
    const char* what;
    std::wstring arguments;
    TLines expected;
  };
  const Case cases[] = {
      {"no argument", L"", {"Pellix - Invalid parameters"}},
      {"a path with blanks, unquoted", L"C:\\My Libs\\client.dll", {"Pellix - Invalid parameters"}},
      {"missing file", Quoted(L"C:\\no such dir\\client.dll"), {"C:\\no such dir\\client.dll"}},
      {"no update entry", Quoted(metaOnly), {Narrow(metaOnly)}},
      {"loads neither by path nor by name", Quoted(bogusDll),
       {Narrow(bogusDll), Narrow(bogusDll), "dllHandle = 0", bogusName}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TChildProcess host(HostExe(), c.arguments);
    ASSERT_TRUE(host.Started());
    const TWindowWatch watch = WatchUntilExit(host, 20000);
    ASSERT_TRUE(watch.exited);
    EXPECT_EQ(host.ExitCode(), 0u);
    EXPECT_FALSE(watch.sawWindow);
    EXPECT_EQ(LinesOf(host, c.expected.size()), c.expected);
  }
  ::DeleteFileW(bogusDll.c_str());
}

TEST_F(HostStartup, LoadsByBareFileNameWhenThePathDoesNotLoad) {
  // The path names a file that is no library; the bare name finds the test library beside
  // Pellix.exe through the library search order.
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"pellix bare " + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  const std::wstring fake = dir + L"\\PellixClientDouble.dll";
  {
    const TTempFile text(L"pxt");
    text.Write("not a library");
    ASSERT_TRUE(::CopyFileW(text.Path().c_str(), fake.c_str(), FALSE));
  }
  TChildProcess host(HostExe(), Quoted(fake));
  const TWindowWatch watch = WatchUntilExit(host, 20000);
  ::DeleteFileW(fake.c_str());
  ::RemoveDirectoryW(dir.c_str());

  ASSERT_TRUE(watch.exited) << "with nothing to serve the host ends by itself";
  EXPECT_EQ(host.ExitCode(), 0u);
  EXPECT_TRUE(watch.sawWindow) << "the host ran";
  EXPECT_FALSE(watch.everVisible);
  EXPECT_EQ(watch.deviceCount, "0");
  EXPECT_LT(watch.seconds, 10.0) << "idle limit of one tick after the first";
  EXPECT_EQ(LinesOf(host, 1), TLines{Narrow(fake)}) << "only the path line when the second load works";
}

TEST_F(HostStartup, TheBareFileNameIsNeverLookedForInTheCurrentFolder) {
  // A library by that name lies only in the host's current folder, beside a file of the same
  // name that is no library: the host does not load it, and ends with the three lines.
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring current = std::wstring(temp) + L"pellix cwd " + std::to_wstring(::GetCurrentProcessId());
  const std::wstring other = current + L" other";
  for (const auto& dir : {current, other}) ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  const std::wstring planted = current + L"\\plantedclient.dll", fake = other + L"\\plantedclient.dll";
  ASSERT_TRUE(::CopyFileW(Double().c_str(), planted.c_str(), FALSE));
  {
    const TTempFile text(L"pxt");
    text.Write("not a library");
    ASSERT_TRUE(::CopyFileW(text.Path().c_str(), fake.c_str(), FALSE));
  }
  TChildProcess host(HostExe(), Quoted(fake), {}, current);
  const TWindowWatch watch = WatchUntilExit(host, 20000);
  for (const auto& file : {planted, fake}) ::DeleteFileW(file.c_str());
  for (const auto& dir : {current, other}) ::RemoveDirectoryW(dir.c_str());

  ASSERT_TRUE(watch.exited);
  EXPECT_EQ(host.ExitCode(), 0u);
  EXPECT_FALSE(watch.sawWindow) << "no library was bound";
  EXPECT_EQ(LinesOf(host, 4), (TLines{Narrow(fake), Narrow(fake), "dllHandle = 0", "plantedclient.dll"}));
}

TEST_F(HostStartup, DebugSwitchCountsOnlyAsDword) {
  SetDebugString(L"1");
  {
    TChildProcess host(HostExe(), Quoted(Double()));
    const TWindowWatch watch = WatchUntilExit(host, 20000);
    ASSERT_TRUE(watch.exited) << "debug mode off: the host ends after one idle tick";
    EXPECT_TRUE(watch.sawWindow);
    EXPECT_FALSE(watch.everVisible) << "a string value leaves debug mode off";
    EXPECT_LT(watch.seconds, 10.0);
  }
  SetDebugDword(2);
  TChildProcess host(HostExe(), Quoted(Double()), {{L"PELLIX_CLIENT_NAME", L"Selector Q"}});
  HWND window = WaitForHostWindow(host);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(window) != FALSE; }, 10000)) << "REG_DWORD 2 shows the window";
  EXPECT_EQ(Narrow(WindowText(window)), "Pellix (Selector Q)");
  EXPECT_EQ(Narrow(WindowText(::GetDlgItem(window, lblDeviceCountId))), "0");
  EXPECT_EQ(::WaitForSingleObject(host.Handle(), 3000), DWORD(WAIT_TIMEOUT)) << "debug mode keeps the host up longer";
}

TEST_F(HostStartup, OneHostPerDeviceType) {
  SetDebugDword(1); // about a minute of life without clients
  TChildProcess first(HostExe(), Quoted(Double()), {{L"PELLIX_CLIENT_TYPE", L"0x21"}});
  ASSERT_NE(WaitForHostWindow(first), nullptr);

  TChildProcess second(HostExe(), Quoted(Double()), {{L"PELLIX_CLIENT_TYPE", L"0x21"}});
  const TWindowWatch watch = WatchUntilExit(second, 20000);
  ASSERT_TRUE(watch.exited);
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_FALSE(watch.sawWindow);
  EXPECT_LT(watch.seconds, 10.0) << "ends at once, not after the idle limit";
  EXPECT_EQ(LinesOf(second, 1), TLines{Narrow(Double())});
  EXPECT_EQ(::WaitForSingleObject(first.Handle(), 0), DWORD(WAIT_TIMEOUT)) << "the first host is unaffected";

  TChildProcess other(HostExe(), Quoted(Double()), {{L"PELLIX_CLIENT_TYPE", L"0x22"}});
  EXPECT_NE(WaitForHostWindow(other), nullptr) << "another device type runs side by side";
  EXPECT_EQ(::WaitForSingleObject(first.Handle(), 0), DWORD(WAIT_TIMEOUT));
  EXPECT_NE(first.FindTopWindow(HostClass), nullptr);
}

TEST_F(HostStartup, InstanceMutexIsNamedAfterTheDeviceType) {
  SetDebugDword(1); // a host that did get its mutex would stay about a minute
  struct Case {
    const wchar_t* mutexName;
    std::vector<std::pair<std::wstring, std::wstring>> environment;
  };
  const Case cases[] = {
      {L"Pellix_00001A2B", {{L"PELLIX_CLIENT_TYPE", L"0x1a2b"}}},
      {L"Pellix_00000000", {{L"PELLIX_CLIENT_META", L"none"}}}, // the meta entry writes nothing
      {L"Pellix_00000010", {{L"PELLIX_CLIENT_META", L"5"}}},    // a failing meta entry is not examined
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.mutexName));
    const win32::THandle held(::CreateMutexW(nullptr, TRUE, c.mutexName));
    ASSERT_TRUE(held);
    TChildProcess host(HostExe(), Quoted(Double()), c.environment);
    const TWindowWatch watch = WatchUntilExit(host, 20000);
    ASSERT_TRUE(watch.exited);
    EXPECT_LT(watch.seconds, 10.0);
    EXPECT_FALSE(watch.sawWindow);
    EXPECT_EQ(host.ExitCode(), 0u);
  }
}
