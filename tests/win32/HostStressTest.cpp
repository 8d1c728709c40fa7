// Pellix.exe under load and faults, driven through its pipe with the test client library:
// connect-request-close churn from eight threads with the host's handle count before and after,
// 200 clients connected at once, random frames of any size mixed with well-formed requests,
// client processes killed inside a request, shutdown while a call is inside the library or
// while a client reads no replies, and a 12 s library call that holds every other client. Random
// choices come from one seed, printed where it is first used and taken from Q417_STRESS_SEED
// when set, so that a failure can be replayed.
//
// Started as `host_stress_tests --hold-request PIPE PAYLOAD EVENT` it is the client that the
// kill test terminates: it connects, writes one request, sets the named event and waits for the
// reply.
#include "HostRun.h"
#include "NVErrorsU.h"
#include "PanelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

double SecondsSince(ULONGLONG start) { return double(::GetTickCount64() - start) / 1000.0; }

// What a batch of clients saw: counts, and the first thing that was wrong.
struct TOutcome {
  std::mutex lock;
  std::string firstError;
  std::atomic<int> answered{0};

  void Fail(const std::string& what) {
    std::lock_guard guard(lock);
    if (firstError.empty()) firstError = what;
  }
  bool Failed() {
    std::lock_guard guard(lock);
    return !firstError.empty();
  }
};

// Runs body(i) on `threads` threads at once and waits for all of them.
void OnThreads(int threads, const std::function<void(int)>& body) {
  std::vector<std::thread> running;
  for (int i = 0; i < threads; ++i) running.emplace_back(body, i);
  for (auto& t : running) t.join();
}

// The test client library answers a request with its payload followed by four bytes for each
// serial reference (none here, unless devices were found): the reply of a served request.
std::string CheckEcho(const TBytes& reply, uint32_t tag, const TBytes& payload) {
  if (reply.size() < 8) return "no reply";
  if (Tag(reply) != tag) return "tag " + std::to_string(Tag(reply)) + " for " + std::to_string(tag);
  if (Result(reply) != NV_OK) return "result " + std::to_string(Result(reply)) + " for tag " + std::to_string(tag);
  const TBytes echoed = Payload(reply);
  if (echoed.size() < payload.size() || (echoed.size() - payload.size()) % 4 != 0 ||
      !std::equal(payload.begin(), payload.end(), echoed.begin()))
    return "payload of tag " + std::to_string(tag) + " not echoed";
  return "";
}

// Reads one reply and checks it as CheckEcho does.
std::string ReadEcho(TPipeClient& client, uint32_t tag, const TBytes& payload, DWORD timeoutMs = 20000) {
  TBytes reply;
  if (client.Read(reply, timeoutMs) != TPipeClient::TRead::Message) return "no reply to tag " + std::to_string(tag);
  return CheckEcho(reply, tag, payload);
}

// Reads until the connection ends or nothing comes for 10 s; keeps the few messages on the way.
TPipeClient::TRead ReadToEnd(TPipeClient& client, std::vector<TBytes>& messages) {
  TBytes message;
  TPipeClient::TRead read;
  while ((read = client.Read(message, 10000)) == TPipeClient::TRead::Message && messages.size() < 4)
    messages.push_back(message);
  return read;
}

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

// A well-formed request of this client, told apart from every other by its tag and payload.
struct TOwnRequest {
  uint32_t tag;
  TBytes payload;
};
TOwnRequest OwnRequest(int client, int sequence) {
  return {0x80000000u | uint32_t(client) << 20 | uint32_t(sequence),
          Bytes("client " + std::to_string(client) + " request " + std::to_string(sequence))};
}

// ---- churn --------------------------------------------------------------------------------

// Each thread connects, sends one request, checks its reply and closes, `cycles` times.
void Churn(const THostRun& host, int threads, int cycles, TOutcome& outcome) {
  OnThreads(threads, [&](int thread) {
    for (int i = 0; i < cycles && !outcome.Failed(); ++i) {
      TPipeClient client;
      if (!host.Connect(client, 20000))
        return outcome.Fail("no connection, error " + std::to_string(client.LastError()));
      const TOwnRequest request = OwnRequest(thread, i);
      if (!client.Write(Frame(request.tag, request.payload))) return outcome.Fail("write failed");
      if (const std::string wrong = ReadEcho(client, request.tag, request.payload); !wrong.empty())
        return outcome.Fail(wrong);
      ++outcome.answered;
    }
  });
}

TEST(HostStress, ChurnOfConnectRequestCloseLeavesNoClientAndNoHandles) {
  // Debug mode: the host stays while no client is connected, so its handles can be counted then.
  THostRun host(true);
  ASSERT_TRUE(host.WaitListening());
  const DWORD pid = host.Process().Id();
  ASSERT_GT(ProcessHandleCount(pid), 0) << "the host's handles cannot be counted";

  // What the first connections make for good (threads' pools and the like) is made before the
  // count is taken.
  TOutcome warmUp;
  Churn(host, 8, 5, warmUp);
  ASSERT_EQ(warmUp.answered, 40) << warmUp.firstError;
  ASSERT_TRUE(WaitFor([&] { return host.ClientCount() == "0"; }, 10000)) << host.ClientCount();
  const int before = ProcessHandleCount(pid);

  const ULONGLONG start = ::GetTickCount64();
  TOutcome outcome;
  Churn(host, 8, 125, outcome);
  std::printf("1000 connect-request-close cycles from 8 threads: %.1f s\n", SecondsSince(start));
  EXPECT_EQ(outcome.answered, 1000) << outcome.firstError;

  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "0"; }, 10000)) << host.ClientCount();
  // Handlers that ended by themselves destroy themselves on their way out: give them the time.
  int after = -1;
  EXPECT_TRUE(WaitFor([&] { return (after = ProcessHandleCount(pid)) <= before + 5; }, 10000, 100))
      << "handles before " << before << ", after " << after;
  std::printf("host handles before %d, after %d\n", before, after);
  EXPECT_FALSE(host.Process().WaitExit(0));
}

// ---- many clients -------------------------------------------------------------------------

TEST(HostStress, TwoHundredClientsConnectedAtOnceAreAllServed) {
  THostRun host;
  ASSERT_TRUE(host.WaitListening());
  constexpr int kClients = 200;
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<TPipeClient>());
    ASSERT_TRUE(host.Connect(*clients.back(), 20000)) << "client " << i << ", error " << clients.back()->LastError();
  }
  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "200"; }, 10000)) << host.ClientCount();

  // Every client's request is in the host before any reply is read.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kClients; ++i) {
      const TOwnRequest request = OwnRequest(i, round);
      ASSERT_TRUE(clients[size_t(i)]->Write(Frame(request.tag, request.payload))) << "client " << i;
    }
    for (int i = 0; i < kClients; ++i) {
      const TOwnRequest request = OwnRequest(i, round);
      TBytes reply;
      ASSERT_EQ(clients[size_t(i)]->Read(reply, 20000), TPipeClient::TRead::Message) << "client " << i;
      EXPECT_EQ(CheckEcho(reply, request.tag, request.payload), "") << "client " << i;
    }
  }

  // All of them gone, the host's count falls to 0 and it ends by itself.
  clients.clear();
  ASSERT_TRUE(host.Process().WaitExit(30000)) << "the host ends once its last client left";
  EXPECT_EQ(host.Process().ExitCode(), 0u);
}

// ---- random frames ------------------------------------------------------------------------

// A random message of 0 to 12,000 bytes; the edges of the framing come more often than chance
// would bring them. A payload that starts with '!' would be a command of the test library: its
// first byte is changed.
TBytes RandomFrame(std::mt19937& random) {
  static const size_t edges[] = {0, 1, 7, 8, 9, 9999, 10000, 10001, 12000};
  size_t size;
  const unsigned pick = random() % 10;
  if (pick == 0) size = edges[random() % std::size(edges)];
  else if (pick == 1) size = random() % 8;
  else size = random() % 12001;
  TBytes frame(size);
  for (auto& b : frame) b = uint8_t(random());
  if (size > 8 && frame[8] == '!') frame[8] = '?';
  return frame;
}

struct TRandomTally {
  std::atomic<int> frames{0}, echoed{0}, unanswered{0}, broken{0}, own{0};
};

// One client: `steps` times a random frame and a request of its own, in random order, then the
// replies that must come, in order. A frame over 10000 bytes ends the connection: the client
// connects again and sends its own request anew.
void RandomClient(const THostRun& host, int client, int steps, TRandomTally& tally, TOutcome& outcome) {
  std::mt19937 random(StressSeed() * 31 + uint32_t(client));
  auto connection = std::make_unique<TPipeClient>();
  if (!host.Connect(*connection, 20000)) return outcome.Fail("no connection");
  for (int step = 0; step < steps && !outcome.Failed(); ++step) {
    const TBytes frame = RandomFrame(random);
    const TOwnRequest own = OwnRequest(client, step);
    const bool ownFirst = random() % 2 == 0;
    const bool ends = frame.size() > 10000, answered = frame.size() >= 8 && !ends;
    const std::string where = "client " + std::to_string(client) + " step " + std::to_string(step) + " frame of " +
                              std::to_string(frame.size()) + " bytes: ";
    ++tally.frames;

    bool ownAnswered = false;
    if (ownFirst) {
      // The own request first: answered before the frame is even looked at.
      if (!connection->Write(Frame(own.tag, own.payload))) return outcome.Fail(where + "write failed");
      if (const std::string wrong = ReadEcho(*connection, own.tag, own.payload); !wrong.empty())
        return outcome.Fail(where + wrong);
      ownAnswered = true;
    }
    const bool frameWritten = connection->Write(frame);
    if (!frameWritten && !ends) return outcome.Fail(where + "write failed");
    if (!ownFirst && frameWritten && !ends && !connection->Write(Frame(own.tag, own.payload)))
      return outcome.Fail(where + "write failed");
    if (answered) {
      if (const std::string wrong = ReadEcho(*connection, Tag(frame), TBytes(frame.begin() + 8, frame.end()));
          !wrong.empty())
        return outcome.Fail(where + wrong);
      ++tally.echoed;
    } else if (!ends) {
      ++tally.unanswered;
    }
    if (ends) {
      TBytes reply;
      if (connection->Read(reply, 20000) != TPipeClient::TRead::Broken) return outcome.Fail(where + "not ended");
      ++tally.broken;
      connection = std::make_unique<TPipeClient>();
      if (!host.Connect(*connection, 20000)) return outcome.Fail(where + "no new connection");
    }
    if (!ownAnswered) {
      if (ends && !connection->Write(Frame(own.tag, own.payload))) return outcome.Fail(where + "write failed");
      if (const std::string wrong = ReadEcho(*connection, own.tag, own.payload); !wrong.empty())
        return outcome.Fail(where + wrong);
    }
    ++tally.own;
  }
}

TEST(HostStress, RandomFramesMixedWithRequestsNeverEndTheHost) {
  THostRun host;
  ASSERT_TRUE(host.WaitListening());
  const ULONGLONG start = ::GetTickCount64();
  TRandomTally tally;
  TOutcome outcome;
  OnThreads(8, [&](int client) { RandomClient(host, client, 1250, tally, outcome); });
  std::printf("%d random frames from 8 clients in %.1f s: %d answered, %d unanswered (under 8 bytes), %d ended "
              "the connection; %d own requests answered in order\n",
              tally.frames.load(), SecondsSince(start), tally.echoed.load(), tally.unanswered.load(),
              tally.broken.load(), tally.own.load());
  EXPECT_EQ(outcome.firstError, "");
  EXPECT_EQ(tally.frames, 10000);
  EXPECT_EQ(tally.own, 10000);
  EXPECT_GT(tally.broken, 0) << "some frames were too long";
  EXPECT_GT(tally.unanswered, 0) << "some frames were too short";

  ASSERT_FALSE(host.Process().WaitExit(0)) << "the host ended";
  TPipeClient after;
  ASSERT_TRUE(host.Connect(after));
  EXPECT_EQ(CheckEcho(after.Request(7, "after"), 7, Bytes("after")), "");
}

// ---- faults -------------------------------------------------------------------------------

// The other process of the kill test (see the head of this file).
int HoldRequest(const char* pipe, const char* payload, const char* event) {
  TPipeClient client;
  const std::string path(pipe);
  if (!client.Connect(std::wstring(path.begin(), path.end()), 20000)) return 2;
  if (!client.Write(Frame(1, payload))) return 3;
  const win32::THandle written(::CreateEventA(nullptr, TRUE, FALSE, event));
  ::SetEvent(written.Get());
  TBytes reply;
  return client.Read(reply, 60000) == TPipeClient::TRead::Message ? 0 : 4;
}

TEST(HostStress, ClientsKilledInsideARequestLeaveTheHostServingTheOthers) {
  TLoggedHost logged(false);
  THostRun& host = logged.host;
  ASSERT_TRUE(host.WaitListening());
  TPipeClient stays;
  ASSERT_TRUE(host.Connect(stays));
  ASSERT_EQ(CheckEcho(stays.Request(1, "before"), 1, Bytes("before")), "");
  ASSERT_TRUE(WaitFor([&] { return host.ClientCount() == "1"; }, 5000));
  const int handlesBefore = ProcessHandleCount(host.Process().Id());

  // Four client processes: the first one's call is inside the library when they are killed,
  // the other three wait for it with their requests written. The call lasts far longer than
  // starting the other three takes, even on a busy machine (checked below).
  std::vector<std::unique_ptr<TChildProcess>> killed;
  std::vector<win32::THandle> written;
  auto start = [&](const wchar_t* payload) {
    const std::string event = UniqueName("written");
    written.emplace_back(::CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    killed.push_back(std::make_unique<TChildProcess>(
        ProgramFolder() + L"host_stress_tests.exe",
        L"--hold-request \"" + host.PipePath() + L"\" " + payload + L" " + std::wstring(event.begin(), event.end())));
  };
  start(L"!sleep:15000");
  ASSERT_EQ(::WaitForSingleObject(written[0].Get(), 20000), WAIT_OBJECT_0) << "the first client process wrote nothing";
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() == 2; }, 10000)) << "its call did not begin";
  for (int i = 1; i < 4; ++i) start(L"!sleep:300");
  for (int i = 1; i < 4; ++i)
    ASSERT_EQ(::WaitForSingleObject(written[size_t(i)].Get(), 20000), WAIT_OBJECT_0)
        << "client process " << i << " wrote nothing";
  ASSERT_TRUE(WaitFor([&] { return host.ClientCount() == "5"; }, 5000)) << host.ClientCount();
  ASSERT_EQ(logged.Calls(), 2u) << "the first call ended before the clients were killed:\n" << logged.log.Read();
  for (auto& process : killed) {
    ASSERT_TRUE(::TerminateProcess(process->Handle(), 9));
    ASSERT_TRUE(process->WaitExit(30000));
  }

  // The host serves the one that stays once the calls already taken are done, and lets the
  // killed ones go.
  EXPECT_EQ(CheckEcho(stays.Request(2, "after", 60000), 2, Bytes("after")), "");
  // The requests that the killed clients had written are served into their broken pipes.
  EXPECT_TRUE(WaitFor([&] { return logged.Calls() == 6; }, 10000)) << logged.Calls();
  EXPECT_TRUE(WaitFor([&] { return host.ClientCount() == "1"; }, 10000)) << host.ClientCount();
  int handlesAfter = -1;
  EXPECT_TRUE(WaitFor([&] { return (handlesAfter = ProcessHandleCount(host.Process().Id())) <= handlesBefore + 5; },
                      10000, 100))
      << "handles before " << handlesBefore << ", after " << handlesAfter;
  EXPECT_FALSE(host.Process().WaitExit(0));
}

TEST(HostStress, ShutdownWhileACallIsInsideTheLibraryWaitsForItAndEndsCleanly) {
  TLoggedHost logged(true);
  THostRun& host = logged.host;
  ASSERT_TRUE(host.WaitListening());
  std::vector<std::unique_ptr<TPipeClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TPipeClient>());
    ASSERT_TRUE(host.Connect(*clients.back()));
    ASSERT_EQ(CheckEcho(clients.back()->Request(uint32_t(i), "hello"), uint32_t(i), Bytes("hello")), "");
  }
  // A call longer than the listener's 5000 ms bound for stopping a handler.
  const ULONGLONG sent = SystemTimeMs();
  ASSERT_TRUE(clients[0]->Write(Frame(10, "!sleep:7000")));
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() == 4; }, 10000)) << "the slow call did not begin";
  ASSERT_TRUE(clients[1]->Write(Frame(11, "waits for the slow call")));
  ASSERT_TRUE(::PostMessageW(host.Window(), WM_CLOSE, 0, 0));

  ASSERT_TRUE(host.Process().WaitExit(30000)) << "the host did not end";
  // From the end the system recorded: the time this test took to notice is not the host's.
  const double ended = double(int64_t(host.Process().ExitTimeMs()) - int64_t(sent)) / 1000.0;
  EXPECT_EQ(host.Process().ExitCode(), 0u) << "the library was still in use when it went";
  EXPECT_GE(ended, 6.9) << "the host ended while the call was inside the library";
  EXPECT_LT(ended, 7.0 + 5.0) << "the host ended long after the call returned";
  // Every client's end of the pipe is closed; a reply that was written before is whole.
  for (size_t i = 0; i < clients.size(); ++i) {
    std::vector<TBytes> replies;
    EXPECT_EQ(ReadToEnd(*clients[i], replies), TPipeClient::TRead::Broken) << "client " << i;
    for (const TBytes& reply : replies) EXPECT_EQ(Result(reply), NV_OK) << "client " << i << " tag " << Tag(reply);
  }
  std::printf("host ended %.1f s after the 7 s call was sent\n", ended);
}

TEST(HostStress, ShutdownWhileAClientReadsNoRepliesEndsCleanly) {
  TLoggedHost logged(true);
  THostRun& host = logged.host;
  ASSERT_TRUE(host.WaitListening());
  TPipeClient lazy, other;
  ASSERT_TRUE(host.Connect(lazy));
  ASSERT_TRUE(host.Connect(other));
  // A reply far larger than the pipe's buffer waits for a reader that never comes, and the reply
  // to the next request waits for that one.
  ASSERT_TRUE(lazy.Write(Frame(1, "!size:200000")));
  ASSERT_TRUE(lazy.Write(Frame(2, "second")));
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() == 2; }, 10000)) << "the second request was not taken";
  EXPECT_EQ(CheckEcho(other.Request(3, "served"), 3, Bytes("served")), "") << "the others are served meanwhile";
  ASSERT_TRUE(::PostMessageW(host.Window(), WM_CLOSE, 0, 0));
  ASSERT_TRUE(host.Process().WaitExit(30000)) << "the host's shutdown waits for a client that reads nothing";
  EXPECT_EQ(host.Process().ExitCode(), 0u);
  for (TPipeClient* client : {&lazy, &other}) {
    std::vector<TBytes> ignored;
    EXPECT_EQ(ReadToEnd(*client, ignored), TPipeClient::TRead::Broken);
  }
}

// Writes `requests` requests on each client and reads each reply before the next; seconds taken.
double RequestBatch(std::vector<std::unique_ptr<TPipeClient>>& clients, int requests, TOutcome& outcome) {
  const ULONGLONG start = ::GetTickCount64();
  OnThreads(int(clients.size()), [&](int c) {
    for (int i = 0; i < requests; ++i) {
      const TOwnRequest request = OwnRequest(c, i);
      if (!clients[size_t(c)]->Write(Frame(request.tag, request.payload))) return outcome.Fail("write failed");
      if (const std::string wrong = ReadEcho(*clients[size_t(c)], request.tag, request.payload); !wrong.empty())
        return outcome.Fail(wrong);
    }
  });
  return SecondsSince(start);
}

TEST(HostStress, ATwelveSecondCallHoldsTheOthersWhoAreAllAnsweredAfterwardsInOrder) {
  TLoggedHost logged(false);
  THostRun& host = logged.host;
  ASSERT_TRUE(host.WaitListening());
  TPipeClient slow;
  ASSERT_TRUE(host.Connect(slow));
  std::vector<std::unique_ptr<TPipeClient>> others;
  for (int i = 0; i < 7; ++i) {
    others.push_back(std::make_unique<TPipeClient>());
    ASSERT_TRUE(host.Connect(*others.back()));
  }
  TOutcome outcome;
  const double before = RequestBatch(others, 100, outcome);
  ASSERT_EQ(outcome.firstError, "");

  const size_t calls = logged.Calls();
  ASSERT_TRUE(slow.Write(Frame(1, "!sleep:12000")));
  ASSERT_TRUE(WaitFor([&] { return logged.Calls() > calls; }, 10000)) << "the slow call did not begin";
  // Meanwhile every other client queues five requests.
  constexpr int kQueued = 5;
  for (size_t c = 0; c < others.size(); ++c)
    for (int i = 0; i < kQueued; ++i) {
      const TOwnRequest request = OwnRequest(int(c), 1000 + i);
      ASSERT_TRUE(others[c]->Write(Frame(request.tag, request.payload)));
    }

  TBytes reply;
  ASSERT_EQ(slow.Read(reply, 30000), TPipeClient::TRead::Message);
  EXPECT_EQ(Tag(reply), 1u);
  EXPECT_EQ(Result(reply), NV_OK);
  OnThreads(int(others.size()), [&](int c) {
    for (int i = 0; i < kQueued; ++i) {
      const TOwnRequest request = OwnRequest(c, 1000 + i);
      // In order with its own tag, and served: not refused as busy (100027).
      if (const std::string wrong = ReadEcho(*others[size_t(c)], request.tag, request.payload, 30000); !wrong.empty())
        return outcome.Fail("client " + std::to_string(c) + ": " + wrong);
      ++outcome.answered;
    }
  });
  EXPECT_EQ(outcome.firstError, "");
  EXPECT_EQ(outcome.answered, int(others.size()) * kQueued);
  // Each answer is a library call; the library counts the calls that found another one still
  // inside it. None did: nothing was answered while the slow call ran. (Told by the library, not
  // by when this test read the answers.)
  const TBytes overlaps = Payload(others[0]->Request(2, "!overlaps"));
  ASSERT_EQ(overlaps.size(), 4u);
  EXPECT_EQ(overlaps, TBytes(4, 0)) << "a request was answered while the slow call ran";

  const double after = RequestBatch(others, 100, outcome);
  EXPECT_EQ(outcome.firstError, "");
  std::printf("700 requests from 7 clients: %.2f s before the 12 s call, %.2f s after it\n", before, after);
  EXPECT_LT(after, 3 * before + 0.5) << "the host serves slower than before the slow call";
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--hold-request") return HoldRequest(argv[2], argv[3], argv[4]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
