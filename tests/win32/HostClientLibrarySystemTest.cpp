// Pellix.exe with a client library that misbehaves on command: whatever the library leaves
// unhandled (an access violation, a division by zero, an illegal instruction, an exception
// raised with any code, a C++ exception) is answered with 574 and one debugger line while every
// client goes on being served, and the host's handles and memory stay flat over many of them;
// what the library handles itself is left to it; a meta entry that fails ends the start quietly.
// And the library's own loads by bare name find what they would in any program (beside the
// host, the system folder, the PATH), never what lies only in the host's current folder.
#include "DebugMonitor.h"
#include "Environment.h"
#include "HostRun.h"
#include "ProcessMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace testing_support;

namespace {

constexpr int32_t kUnhandled = 574; // ERROR_UNHANDLED_EXCEPTION
constexpr const char* kLinePrefix = "Client library exception 0x";

struct TFault {
  const char* command;
  uint32_t code;
};

const TFault kFaults[] = {
    {"!fault:av", 0xC0000005},         // access violation
    {"!fault:div", 0xC0000094},        // integer division by zero
    {"!fault:ill", 0xC000001D},        // illegal instruction
    {"!raise:0xE06D7363", 0xE06D7363}, // the code another compiler's C++ exceptions are raised with
    {"!raise:0x1", 0x00000001},        // any code at all
    {"!throw", 0x20474343},            // this toolchain's C++ runtime
};
constexpr uint32_t kThisToolchainsThrow = 0x20474343;

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

int32_t Int(const TBytes& bytes) {
  return bytes.size() < 4 ? -1 : int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

// "Client library exception 0xCCCCCCCC at 0xAAAAAAAAAAAAAAAA" for this code, any address.
bool IsExceptionLine(const std::string& line, uint32_t code) {
  char expected[64];
  std::snprintf(expected, sizeof expected, "%s%08X at 0x", kLinePrefix, unsigned(code));
  const size_t prefix = std::char_traits<char>::length(expected);
  return line.size() == prefix + 16 && line.compare(0, prefix, expected) == 0 &&
         std::all_of(line.begin() + long(prefix), line.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::vector<std::string> ExceptionLines(const TDebugMonitor& monitor, DWORD processId) {
  std::vector<std::string> lines;
  for (const std::string& line : monitor.Lines(processId))
    if (line.rfind(kLinePrefix, 0) == 0) lines.push_back(line);
  return lines;
}

// The reply of an echo of `text` by the test library (no serial references in these hosts).
std::string CheckEcho(const TBytes& reply, uint32_t tag, const std::string& text) {
  if (reply.empty()) return "no reply";
  if (Tag(reply) != tag) return "tag " + std::to_string(Tag(reply));
  if (Result(reply) != 0) return "result " + std::to_string(Result(reply));
  if (Payload(reply) != Bytes(text)) return "payload of " + std::to_string(Payload(reply).size()) + " bytes";
  return "";
}

// Sends `text` and checks that it comes back as the library's echo: "" when it did.
std::string Echo(TPipeClient& client, uint32_t tag, const std::string& text) {
  return CheckEcho(client.Request(tag, text), tag, text);
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

} // namespace

TEST(HostLibraryFaults, EachUnhandledFaultIsAnswered574AndNamedWhileTheClientGoesOn) {
  TDebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready()) << "another debug monitor is running";
  THostRun host;
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client));
  const DWORD pid = host.Process().Id();
  ASSERT_EQ(Int(Payload(client.Request(1, "!count"))), 1);

  uint32_t tag = 100;
  size_t faults = 0;
  for (const TFault& fault : kFaults) {
    SCOPED_TRACE(fault.command);
    const TBytes reply = client.Request(++tag, fault.command);
    ASSERT_EQ(reply.size(), 8u) << "the header alone: the response is empty";
    EXPECT_EQ(Tag(reply), tag);
    EXPECT_EQ(Result(reply), kUnhandled);
    ++faults;
    std::vector<std::string> lines;
    EXPECT_TRUE(WaitFor([&] { return (lines = ExceptionLines(monitor, pid)).size() >= faults; }, 10000));
    ASSERT_EQ(lines.size(), faults) << "one line for each fault";
    EXPECT_TRUE(IsExceptionLine(lines.back(), fault.code)) << lines.back();
    EXPECT_EQ(Echo(client, ++tag, "after"), "") << "the client's next request is served";
  }
  EXPECT_EQ(Int(Payload(client.Request(++tag, "!count"))), 2) << "the library's state behind the pointer slot is kept";
  EXPECT_FALSE(host.Process().WaitExit(0));
  client.Close();
  EXPECT_TRUE(host.Process().WaitExit(20000)) << "the host ends by its idle rule as usual";
  EXPECT_EQ(host.Process().ExitCode(), 0u);
}

TEST(HostLibraryFaults, AClientWaitingBehindAFaultingCallIsServed) {
  TLoggedHost logged(false);
  const THostRun& host = logged.host;
  TPipeClient failing, waiting;
  ASSERT_TRUE(host.Connect(failing));
  ASSERT_TRUE(host.Connect(waiting));
  auto calls = [&] { return logged.Calls(); };
  // The failing call is inside the library (it logs each call as it begins, then waits 500 ms
  // before it fails) when the other client's request arrives: that one waits behind it.
  ASSERT_TRUE(failing.Write(Frame(1, "!fault:av@500")));
  ASSERT_TRUE(WaitFor([&] { return calls() == 1; }, 10000));
  ASSERT_TRUE(waiting.Write(Frame(2, "behind")));

  TBytes reply;
  ASSERT_EQ(failing.Read(reply, 10000), TPipeClient::TRead::Message);
  EXPECT_EQ(Tag(reply), 1u);
  EXPECT_EQ(Result(reply), kUnhandled);
  ASSERT_EQ(waiting.Read(reply, 10000), TPipeClient::TRead::Message);
  EXPECT_EQ(CheckEcho(reply, 2, "behind"), "") << "not refused as busy, not left waiting";
  EXPECT_EQ(Echo(failing, 3, "again"), "");
  EXPECT_EQ(calls(), 3u);
}

TEST(HostLibraryFaults, ExceptionsTheLibraryHandlesItselfNeverReachTheHost) {
  TDebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready()) << "another debug monitor is running";
  THostRun host;
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client));
  uint32_t tag = 0;
  for (const char* command : {"!handled:cpp", "!handled:seh"}) {
    SCOPED_TRACE(command);
    const TBytes reply = client.Request(++tag, command);
    EXPECT_EQ(Result(reply), 0) << "the library's own result";
    EXPECT_EQ(Payload(reply), Bytes("handled")) << "and its own response";
  }
  ASSERT_EQ(Echo(client, ++tag, "flush"), "");
  // The handlers' lines of the requests above are written by now; none names an exception.
  const DWORD pid = host.Process().Id();
  ASSERT_TRUE(WaitFor([&] { return monitor.Lines(pid).size() >= 3; }, 10000));
  EXPECT_TRUE(ExceptionLines(monitor, pid).empty()) << ExceptionLines(monitor, pid).front();
}

TEST(HostLibraryFaults, ManyFaultsInARowLeaveHandlesAndMemoryFlat) {
  THostRun host;
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client));
  const DWORD pid = host.Process().Id();
  const win32::THandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  ASSERT_TRUE(process);
  uint32_t tag = 0;
  // Faults that hold nothing when they happen: a C++ throw allocates its exception object, which
  // the library never frees when its call is abandoned (its own memory, not the host's).
  auto faultRounds = [&](int rounds) {
    for (int i = 0; i < rounds; ++i)
      for (const TFault& fault : kFaults)
        if (fault.code != kThisToolchainsThrow && Result(client.Request(++tag, fault.command)) != kUnhandled) return false;
    return true;
  };
  // What the first faults make for good (the writer's queue, the system's dispatch state) is
  // made before anything is counted.
  ASSERT_TRUE(faultRounds(20));
  const int handlesBefore = ProcessHandleCount(pid);
  const double memoryBefore = CommittedBytes(process.Get());
  ASSERT_GT(handlesBefore, 0) << "the host's handles cannot be counted";

  ASSERT_TRUE(faultRounds(300)); // 1500 faults
  EXPECT_EQ(Echo(client, ++tag, "still"), "");
  const int handlesAfter = ProcessHandleCount(pid);
  const double memoryAfter = CommittedBytes(process.Get());
  std::printf("1500 faults: handles %d -> %d, committed memory %.0f -> %.0f KiB\n", handlesBefore, handlesAfter,
              memoryBefore / 1024, memoryAfter / 1024);
  EXPECT_LE(handlesAfter, handlesBefore + 2);
  // A leak of even 100 bytes a fault would show as 150 KiB; the heap's own growth steps are
  // smaller than the bound.
  EXPECT_LT(memoryAfter - memoryBefore, 128.0 * 1024) << "committed memory grew";
}

TEST(HostLibraryFaults, AMetaEntryThatFaultsEndsTheStartQuietly) {
  TDebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready()) << "another debug monitor is running";
  const std::wstring library = ProgramFolder() + L"PellixClientDouble.dll";
  const struct {
    const wchar_t* fault;
    uint32_t code;
  } cases[] = {{L"fault:av", 0xC0000005}, {L"raise:0xE06D7363", 0xE06D7363}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.fault));
    TChildProcess host(ProgramFolder() + L"Pellix.exe", Quoted(library), {{L"PELLIX_CLIENT_META", c.fault}});
    ASSERT_TRUE(host.Started());
    bool sawWindow = false;
    ASSERT_TRUE(WaitFor([&] {
      sawWindow |= host.FindTopWindow(L"TPellixHostForm") != nullptr;
      return ::WaitForSingleObject(host.Handle(), 0) == WAIT_OBJECT_0;
    }, 20000, 5));
    EXPECT_EQ(host.ExitCode(), 0u) << "ended, not crashed";
    EXPECT_FALSE(sawWindow);
    std::vector<std::string> lines;
    EXPECT_TRUE(WaitFor([&] { return (lines = monitor.Lines(host.Id())).size() >= 2; }, 10000));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Narrow(library));
    EXPECT_TRUE(IsExceptionLine(lines[1], c.code)) << lines[1];
  }
}

TEST(HostClientLibrary, ItsOwnBareNameLoadsFindThePathButNeverTheCurrentFolder) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring unique = std::to_wstring(::GetCurrentProcessId());
  const std::wstring onPath = std::wstring(temp) + L"q417 on path " + unique, current = std::wstring(temp) + L"q417 cwd " + unique;
  const std::wstring pathProbe = onPath + L"\\q417pathprobe.dll", cwdProbe = current + L"\\q417cwdprobe.dll";
  const std::wstring anyLibrary = ProgramFolder() + L"PellixClientMetaOnly.dll"; // loads without side effects
  for (const auto& dir : {onPath, current}) ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(::CopyFileW(anyLibrary.c_str(), pathProbe.c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(anyLibrary.c_str(), cwdProbe.c_str(), FALSE));
  const std::wstring searchPath = onPath + L";" + win32::EnvironmentVariable(L"PATH");

  const std::wstring name = L"Bare Loads " + unique;
  {
    TChildProcess host(ProgramFolder() + L"Pellix.exe", Quoted(ProgramFolder() + L"PellixClientDouble.dll"),
                       {{L"PATH", searchPath}, {L"PELLIX_CLIENT_TYPE", L"0x5A" + unique}, {L"PELLIX_CLIENT_NAME", name}}, current);
    TPipeClient client;
    ASSERT_TRUE(client.Connect(L"\\\\.\\pipe\\PELLIX_PIPE_BARE LOADS " + unique, 20000));
    const struct {
      const char* where;
      std::string library;
      int32_t result;
    } cases[] = {
        {"beside the host", "PellixClientMetaOnly.dll", 0},
        {"in the system folder", "winmm.dll", 0},
        {"along the PATH", "q417pathprobe.dll", 0},
        {"only in the current folder", "q417cwdprobe.dll", ERROR_MOD_NOT_FOUND},
        {"the same file by its path", Narrow(cwdProbe), 0},
    };
    uint32_t tag = 0;
    for (const auto& c : cases) {
      const TBytes reply = client.Request(++tag, "!load:" + c.library);
      EXPECT_EQ(Result(reply), c.result) << c.where;
    }
    client.Close();
    EXPECT_TRUE(host.WaitExit(20000)) << "the host ends by its idle rule";
  }
  for (const auto& file : {pathProbe, cwdProbe}) ::DeleteFileW(file.c_str());
  for (const auto& dir : {onPath, current}) ::RemoveDirectoryW(dir.c_str());
}
