// Pellix.exe serving pipe clients, driven from outside with the test client library: the
// acknowledge event, request and reply frames, message sizes, one library call at a time across
// clients, the library's pointer slot, the client count, clients that leave, shutdown with
// clients connected, the idle end, and the debugger lines of the pipe handlers.
#include "DebugMonitor.h"
#include "HostRun.h"
#include "NVErrorsU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

using namespace testing_support;

namespace {

int32_t Int(const TBytes& bytes) {
  return bytes.size() < 4 ? -1 : int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

} // namespace

TEST(HostPipe, TheAcknowledgeEventIsSetOnceThePipeListens) {
  THostRun host;
  ASSERT_TRUE(host.WaitListening()) << "the acknowledge event";
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client, 0)) << "a connect is pending as soon as the event is set";
  // A request of exactly 8 bytes: an empty payload, answered with the header and the library's
  // response (no references, no request bytes: nothing).
  const TBytes reply = client.Request(0x04030201, "");
  EXPECT_EQ(reply, (TBytes{0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0}));
}

TEST(HostPipe, RequestsOfOneClientAreAnsweredInOrderWithTheirTags) {
  THostRun host;
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client));
  ASSERT_TRUE(client.Write(Frame(11, "!sleep:200"))); // back to back, before any reply
  ASSERT_TRUE(client.Write(Frame(22, "second")));
  TBytes first, second;
  ASSERT_EQ(client.Read(first, 10000), TPipeClient::TRead::Message);
  ASSERT_EQ(client.Read(second, 10000), TPipeClient::TRead::Message);
  EXPECT_EQ(Tag(first), 11u);
  EXPECT_EQ(Tag(second), 22u);
  EXPECT_EQ(Payload(second), (TBytes{'s', 'e', 'c', 'o', 'n', 'd'}));

  EXPECT_EQ(Result(client.Request(33, "!rc:-7")), -7) << "the library's result, unchanged";
  const TBytes big = client.Request(44, "!size:20000");
  EXPECT_EQ(big.size(), 20008u) << "a reply may be longer than any request";
}

TEST(HostPipe, MessageSizes) {
  THostRun host;
  TPipeClient client;
  ASSERT_TRUE(host.Connect(client));
  // The largest request is echoed whole.
  TBytes largest(10000 - 8, 'x');
  TBytes reply;
  ASSERT_TRUE(client.Write(Frame(1, largest)));
  ASSERT_EQ(client.Read(reply, 10000), TPipeClient::TRead::Message);
  EXPECT_EQ(reply.size(), 10000u);

  // Fewer than 8 bytes: no reply; the next request is served.
  ASSERT_TRUE(client.Write(TBytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(Tag(client.Request(2, "after")), 2u);

  // One byte over the buffer: the connection ends without a reply.
  ASSERT_TRUE(client.Write(Frame(3, TBytes(10001 - 8, 'y'))));
  EXPECT_EQ(client.Read(reply, 10000), TPipeClient::TRead::Broken);
  TPipeClient again;
  ASSERT_TRUE(host.Connect(again)) << "the client connects anew";
  EXPECT_EQ(Tag(again.Request(4, "")), 4u);
}

TEST(HostPipe, LibraryCallsNeverOverlapAcrossClientsAndShareThePointerSlot) {
  THostRun host;
  TPipeClient a, b;
  ASSERT_TRUE(host.Connect(a));
  ASSERT_TRUE(host.Connect(b));
  const ULONGLONG start = ::GetTickCount64();
  TBytes replyA, replyB;
  std::thread other([&] { replyB = b.Request(2, "!sleep:300"); });
  replyA = a.Request(1, "!sleep:300");
  other.join();
  EXPECT_EQ(Tag(replyA), 1u);
  EXPECT_EQ(Tag(replyB), 2u);
  EXPECT_EQ(Result(replyA), NV_OK);
  EXPECT_EQ(Result(replyB), NV_OK) << "waiting for the other call is not a busy time-out";
  EXPECT_GE(::GetTickCount64() - start, 550u) << "the second call started after the first returned";
  EXPECT_EQ(Int(Payload(a.Request(3, "!overlaps"))), 0);

  EXPECT_EQ(Int(Payload(a.Request(4, "!count"))), 1);
  EXPECT_EQ(Int(Payload(b.Request(5, "!count"))), 2) << "the library's state, kept across clients";
  EXPECT_EQ(Int(Payload(a.Request(6, "!count"))), 3);
}

TEST(HostPipe, ACallThatDoesNotReturnNormallyLeavesTheHostServing) {
  THostRun host;
  TPipeClient a, b;
  ASSERT_TRUE(host.Connect(a));
  ASSERT_TRUE(host.Connect(b));
  EXPECT_EQ(Result(a.Request(1, "!throw")), 574);
  EXPECT_EQ(Result(b.Request(2, "fine")), NV_OK);
}

TEST(HostPipe, TheClientCountFollowsClients) {
  TLoggedHost logged(false);
  const THostRun& host = logged.host;
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TPipeClient>());
    ASSERT_TRUE(host.Connect(*clients.back()));
    ASSERT_EQ(Tag(clients.back()->Request(uint32_t(i), "")), uint32_t(i));
  }
  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "5"; }, 5000)) << host.ClientCount();
  clients.pop_back();
  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "4"; }, 5000)) << host.ClientCount();

  // A client that goes while its request is being served: the reply goes into a broken pipe and
  // its handler ends. It goes once the library has begun the call, which lasts far longer than
  // closing takes; the handler notices when the call has returned.
  ASSERT_TRUE(clients.back()->Write(Frame(9, "!sleep:3000")));
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() == 6; }, 10000)) << "the call did not begin";
  clients.pop_back();
  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "3"; }, 20000)) << host.ClientCount();
  EXPECT_EQ(Tag(clients.front()->Request(10, "", 30000)), 10u) << "the others are served on";
}

TEST(HostPipe, ShutdownWithClientsConnectedClosesEveryClientsPipe) {
  THostRun host(true); // debug mode: the window is shown and may be closed by hand
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TPipeClient>());
    ASSERT_TRUE(host.Connect(*clients.back()));
    ASSERT_EQ(Result(clients.back()->Request(1, "")), NV_OK);
  }
  // The window is shown once the host listens, which clients may see first.
  ASSERT_TRUE(WaitFor([&] { return host.Window() && ::IsWindowVisible(host.Window()); }, 10000));
  ::PostMessageW(host.Window(), WM_CLOSE, 0, 0);
  for (auto& client : clients) {
    TBytes reply;
    EXPECT_EQ(client->Read(reply, 10000), TPipeClient::TRead::Broken);
  }
  EXPECT_TRUE(host.Process().WaitExit(30000));
  EXPECT_EQ(host.Process().ExitCode(), 0u);
}

TEST(HostPipe, TheDebugWindowShowsItsFiveRows) {
  THostRun host(true);
  ASSERT_TRUE(WaitFor([&] { return host.Window() && ::IsWindowVisible(host.Window()); }, 10000));
  EXPECT_EQ(Narrow(WindowText(host.Window())), "Pellix (" + Narrow(host.DeviceTypeName()) + ")");
  char id[16];
  std::snprintf(id, sizeof id, "0x%08X", host.DeviceType());
  const struct { int id; const char* caption; std::string value; } rows[] = {
      {101, "Client Library", Narrow(host.LibraryPath())},
      {102, "Device Type Name", Narrow(host.DeviceTypeName())},
      {103, "Device Type ID", id},
      {104, "Device Count", "0"},
      {105, "Client Count", "0"},
  };
  const double scale = ::GetDpiForWindow(host.Window()) / 96.0;
  for (const auto& row : rows) {
    const HWND value = ::GetDlgItem(host.Window(), row.id);
    ASSERT_TRUE(value) << row.caption;
    EXPECT_EQ(Narrow(WindowText(value)), row.value) << row.caption;
    RECT v{};
    ::GetWindowRect(value, &v);
    ::MapWindowPoints(HWND_DESKTOP, host.Window(), reinterpret_cast<POINT*>(&v), 2);
    EXPECT_EQ(v.left, int(103 * scale + 0.5)) << row.caption;
    // The caption: the static text that ends left of the value on the same row.
    HWND caption = nullptr;
    for (HWND child = ::GetWindow(host.Window(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      RECT c{};
      ::GetWindowRect(child, &c);
      ::MapWindowPoints(HWND_DESKTOP, host.Window(), reinterpret_cast<POINT*>(&c), 2);
      if (child != value && c.top == v.top && c.right <= v.left) caption = child;
    }
    ASSERT_TRUE(caption) << row.caption;
    EXPECT_EQ(Narrow(WindowText(caption)), row.caption);
    RECT c{};
    ::GetWindowRect(caption, &c);
    ::MapWindowPoints(HWND_DESKTOP, host.Window(), reinterpret_cast<POINT*>(&c), 2);
    EXPECT_EQ(c.right, int(97 * scale + 0.5)) << row.caption;
  }
}

// The idle timer ticks every second and the host ends at the second tick in a row that finds no
// client: 1 to 2 s after its last client left, and its shutdown takes a moment more. Measured to
// the end the system recorded for the process, so that a test kept waiting by a busy machine does
// not count its own delay against the host.
TEST(HostPipe, TheHostEndsAboutTwoSecondsAfterItsLastClientLeft) {
  THostRun host;
  ULONGLONG left = 0;
  {
    TPipeClient client;
    ASSERT_TRUE(host.Connect(client));
    EXPECT_EQ(Result(client.Request(1, "")), NV_OK);
    ::Sleep(2500); // a connected client keeps the host alive past its idle limit
    EXPECT_FALSE(host.Process().WaitExit(0));
    client.Close();
    left = SystemTimeMs();
  }
  ASSERT_TRUE(host.Process().WaitExit(30000));
  const double seconds = double(int64_t(host.Process().ExitTimeMs()) - int64_t(left)) / 1000.0;
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 4.0);
}

// Slow: waits out the debug mode's idle limit of 60 ticks, a second each (measured as above).
TEST(HostPipe, InDebugModeTheHostStaysAboutAMinuteAfterItsLastClient) {
  THostRun host(true);
  ULONGLONG left = 0;
  {
    TPipeClient client;
    ASSERT_TRUE(host.Connect(client));
    EXPECT_EQ(Result(client.Request(1, "")), NV_OK);
    client.Close();
    left = SystemTimeMs();
  }
  ASSERT_TRUE(host.Process().WaitExit(100000));
  const double seconds = double(int64_t(host.Process().ExitTimeMs()) - int64_t(left)) / 1000.0;
  EXPECT_GT(seconds, 58.0) << "still there after 58 s";
  EXPECT_LT(seconds, 66.0);
}

TEST(HostPipe, HandlersWriteTheirDebuggerLines) {
  TDebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready());
  TLoggedHost logged(false);
  THostRun& host = logged.host;
  TPipeClient client, idle, oversized;
  ASSERT_TRUE(host.Connect(client));
  ASSERT_EQ(Result(client.Request(1, "12345")), NV_OK); // szRead=13
  ASSERT_TRUE(client.Write(TBytes{1, 2, 3}));          // szRead<=0
  ASSERT_EQ(Tag(client.Request(2, "")), 2u);           // szRead=8
  // A client that never wrote leaves while its handler's read is pending.
  ASSERT_TRUE(host.Connect(idle));
  ASSERT_TRUE(WaitFor([&] { return host.ClientCount() == "2"; }, 5000));
  idle.Close();                                        // Broken pipe
  // Its handler writes that line on its own thread: seen before the next client's handler
  // writes any, so that the order of the lines is the order of the events.
  ASSERT_TRUE(WaitFor([&] { return monitor.Lines(host.Process().Id()).size() == 5; }, 10000))
      << ::testing::PrintToString(monitor.Lines(host.Process().Id()));
  // A message too large for the buffer, already waiting when the next read starts: written while
  // the library is inside the call before it, which lasts far longer than writing takes.
  ASSERT_TRUE(host.Connect(oversized));
  ASSERT_TRUE(oversized.Write(Frame(3, "!sleep:2000")));
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() == 3; }, 10000)) << "the call did not begin";
  ASSERT_TRUE(oversized.Write(Frame(4, TBytes(10001 - 8, 'z'))));
  // Start-up writes the library's path first.
  const std::vector<std::string> expected = {"szRead=13", "szRead<=0", "szRead=8", "Broken pipe", "szRead=19",
                                             "Broken pipe (ReadFile) LastError = 0xEA"};
  std::vector<std::string> lines;
  EXPECT_TRUE(WaitFor([&] {
    lines = monitor.Lines(host.Process().Id());
    return lines.size() == expected.size() + 1 && std::equal(expected.begin(), expected.end(), lines.begin() + 1);
  }, 20000)) << ::testing::PrintToString(lines);
}
