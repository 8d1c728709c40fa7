// The device host's client aggregator and pipe listener hosted in-process, with client library
// entries made here: the busy mutex (held elsewhere, abandoned), calls that do not return
// normally, the listener's request results, and accepting again once an instance can be made;
// and the thread object they run on: what a stop request answers, and the owner its thread holds.
#include "NVErrorsU.h"
#include "PipeClient.h"
#include "TPipeConnectorU.h"
#include "TestSupport.h"
#include "ThreadObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace testing_support;

namespace {

std::atomic<int> gCalls{0};

// Answers with the request's bytes and the number of references.
int32_t WINAPI EchoUpdate(TPellixBytes* request, TPellixBytes* response, const TNVSerialRefs* refs, void**) {
  ++gCalls;
  const int32_t size = request->Length + 1;
  response->Data = static_cast<uint8_t*>(::CoTaskMemAlloc(size_t(size)));
  if (request->Length > 0) std::memcpy(response->Data, request->Data, size_t(request->Length));
  response->Data[request->Length] = uint8_t(refs->Length);
  response->Length = size;
  return 0;
}

int32_t WINAPI ThrowingUpdate(TPellixBytes*, TPellixBytes* response, const TNVSerialRefs*, void**) {
  ++gCalls;
  response->Data = reinterpret_cast<uint8_t*>(uintptr_t(0x10)); // a pointer no allocator knows
  response->Length = 5;
  throw std::runtime_error("the library gives up");
}

int32_t Update(TClientAggregator& aggregator, const std::string& payload, std::string* answer = nullptr) {
  TPellixBuffer request, response;
  request.Assign({reinterpret_cast<const uint8_t*>(payload.data()), payload.size()});
  const int32_t result = aggregator.PELLIX_DeviceUpdate(request, response);
  if (answer) answer->assign(response.View().begin(), response.View().end());
  return result;
}

// Holds the aggregator's busy mutex on another thread until released, or ends holding it.
class TMutexHolder {
public:
  TMutexHolder(HANDLE mutex, bool abandon) {
    fThread = std::thread([=, this] {
      ::WaitForSingleObject(mutex, INFINITE);
      fTaken = true;
      if (abandon) return; // the thread ends with the mutex: it is abandoned
      ::WaitForSingleObject(fRelease.Get(), INFINITE);
      ::ReleaseMutex(mutex);
    });
    while (!fTaken) ::Sleep(1);
  }
  ~TMutexHolder() {
    ::SetEvent(fRelease.Get());
    fThread.join();
  }

private:
  win32::THandle fRelease{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> fTaken{false};
  std::thread fThread;
};

} // namespace

TEST(ClientAggregator, WithoutTheUpdateEntryEveryRequestIs100021) {
  TClientAggregator aggregator({}, TClientEntries{});
  EXPECT_EQ(Update(aggregator, "x"), NVERR_ENTRY_NOT_BOUND);
  uint32_t type = 0;
  std::wstring name;
  int32_t baud = 0;
  EXPECT_EQ(aggregator.PELLIX_DeviceMeta(type, name, baud), NVERR_ENTRY_NOT_BOUND);
}

TEST(ClientAggregator, BusyMutexNotObtainedInTimeGives100027WithoutACall) {
  TClientAggregator aggregator({}, TClientEntries{EchoUpdate, nullptr}, 200);
  gCalls = 0;
  {
    const TMutexHolder holder(aggregator.BusyMutex(), false);
    EXPECT_EQ(Update(aggregator, "x"), NVERR_BUSY_TIMEOUT);
  }
  EXPECT_EQ(gCalls, 0);
  EXPECT_EQ(Update(aggregator, "x"), NV_OK);
  EXPECT_EQ(gCalls, 1);
}

TEST(ClientAggregator, AnAbandonedMutexRefusesOneRequestWithItsOwnCodeAndRecovers) {
  TClientAggregator aggregator({}, TClientEntries{EchoUpdate, nullptr}, 200);
  gCalls = 0;
  { const TMutexHolder holder(aggregator.BusyMutex(), true); }
  EXPECT_EQ(Update(aggregator, "x"), int32_t(ERROR_ABANDONED_WAIT_0)) << "not a stale or zero last error";
  EXPECT_EQ(gCalls, 0);
  // Given back: another thread is served at once, not after the busy time-out.
  int32_t other = -1;
  std::thread([&] { other = Update(aggregator, "y"); }).join();
  EXPECT_EQ(other, NV_OK);
  EXPECT_EQ(gCalls, 1);
}

TEST(ClientAggregator, ACallThatDoesNotReturnNormallyLeavesLockAndMutexFree) {
  TClientAggregator aggregator({}, TClientEntries{ThrowingUpdate, nullptr}, 200);
  gCalls = 0;
  std::string answer = "untouched";
  EXPECT_EQ(Update(aggregator, "x", &answer), 574);
  EXPECT_TRUE(answer.empty()) << "the response the library left is dropped, not sent or freed";
  int32_t other = -1;
  std::thread([&] { other = Update(aggregator, "y"); }).join();
  EXPECT_EQ(other, 574) << "called again, not 100027";
  EXPECT_EQ(gCalls, 2);
}

TEST(ClientAggregator, NewReferencesReachTheNextCall) {
  TClientAggregator aggregator({5}, TClientEntries{EchoUpdate, nullptr});
  std::string answer;
  EXPECT_EQ(Update(aggregator, "a", &answer), NV_OK);
  EXPECT_EQ(answer, std::string("a\x01", 2));
  aggregator.UpdateSerialRefs({5, 6, 7});
  EXPECT_EQ(Update(aggregator, "", &answer), NV_OK);
  EXPECT_EQ(answer, std::string("\x03", 1));
}

namespace {

class PipeConnector : public ::testing::Test {
protected:
  const std::wstring name = L"PELLIX_PIPE_COMPONENT_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                            std::to_wstring(++serial);
  const std::wstring library = L"C:\\Devices\\component" + std::to_wstring(serial) + L".dll";
  const std::wstring path = L"\\\\.\\pipe\\" + name;
  const std::wstring ack = L"PELLIX_ACK_COMPONENT" + std::to_wstring(serial) + L".DLL";
  static inline int serial = 0;

  std::unique_ptr<TPipeConnector> Make() {
    return std::make_unique<TPipeConnector>(name, library, std::vector<int32_t>{1, 2}, TClientEntries{EchoUpdate, nullptr});
  }
};

} // namespace

TEST_F(PipeConnector, RequestsAnswerTheirResults) {
  auto listener = Make();
  EXPECT_FALSE(listener->IsInitialised());
  EXPECT_EQ(listener->Initialise(), NV_OK);
  EXPECT_TRUE(WaitForAck(ack, 0)) << "set once the first instance listens";
  EXPECT_EQ(listener->Initialise(), NVERR_ALREADY_INITIALISED);

  TPipeClient client;
  ASSERT_TRUE(client.Connect(path, 5000));
  EXPECT_EQ(Payload(client.Request(7, "hi")), (TBytes{'h', 'i', 2}));
  EXPECT_EQ(listener->ListnerCount(), 1);

  EXPECT_EQ(listener->TerminateAndWait(), NV_OK);
  TBytes reply;
  EXPECT_EQ(client.Read(reply, 5000), TPipeClient::TRead::Broken) << "the client's pipe is closed";
  EXPECT_EQ(listener->ListnerCount(), 0);
  EXPECT_EQ(listener->TerminateAndWait(), NVERR_ALREADY_TERMINATED);
  EXPECT_EQ(listener->Initialise(), NVERR_ALREADY_TERMINATED);
}

TEST_F(PipeConnector, AFirstInstanceThatCannotBeMadeIsReportedAndMayBeRetried) {
  // Another server holds the name with room for one instance only.
  win32::THandle squatter(::CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 512, 512, 0, nullptr));
  ASSERT_TRUE(squatter);
  auto listener = Make();
  const int32_t refused = listener->Initialise();
  EXPECT_NE(refused, NV_OK);
  EXPECT_LT(refused, 100000) << "the system's error code";
  EXPECT_FALSE(listener->IsInitialised());
  squatter.Reset();
  EXPECT_EQ(listener->Initialise(), NV_OK);
  TPipeClient client;
  ASSERT_TRUE(client.Connect(path, 5000));
  EXPECT_EQ(Result(client.Request(1, "")), NV_OK);
  EXPECT_EQ(listener->TerminateAndWait(), NV_OK);
}

namespace {

// Makes instances, except for the three after the first: the system refusing for a while.
std::atomic<int> gInstancesAsked{0};
HANDLE RefusingForAWhile(const wchar_t* path, DWORD openMode, DWORD pipeMode, DWORD outBuffer, DWORD inBuffer) {
  const int asked = ++gInstancesAsked;
  if (asked >= 2 && asked <= 4) {
    ::SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateNamedPipeW(path, openMode, pipeMode, PIPE_UNLIMITED_INSTANCES, outBuffer, inBuffer, 0, nullptr);
}

} // namespace

TEST_F(PipeConnector, AcceptsAgainOnceAnInstanceCanBeMade) {
  gInstancesAsked = 0;
  TPipeConnector listener(name, library, {}, TClientEntries{EchoUpdate, nullptr}, TClientAggregator::BusyTimeoutMs,
                          RefusingForAWhile);
  ASSERT_EQ(listener.Initialise(), NV_OK);
  TPipeClient first, second;
  ASSERT_TRUE(first.Connect(path, 5000)); // its hand-over finds no next instance
  EXPECT_EQ(Result(first.Request(1, "")), NV_OK);
  ASSERT_TRUE(second.Connect(path, 10000)) << "the listener keeps trying and listens again";
  EXPECT_EQ(Payload(second.Request(2, "ok")), (TBytes{'o', 'k', 0}));
  EXPECT_GE(gInstancesAsked, 5);
  EXPECT_EQ(listener.TerminateAndWait(), NV_OK);
}

namespace {

// Records the flags of every instance asked for; refuses a first instance when told to, as the
// system does when another process holds the name (Wine does not enforce first instances).
struct TInstanceLog {
  std::vector<std::pair<DWORD, DWORD>> asked; // open mode, pipe mode
  bool nameTaken = false;
};
TInstanceLog gInstanceLog;

HANDLE Recording(const wchar_t* path, DWORD openMode, DWORD pipeMode, DWORD outBuffer, DWORD inBuffer) {
  gInstanceLog.asked.emplace_back(openMode, pipeMode);
  if (gInstanceLog.nameTaken && (openMode & FILE_FLAG_FIRST_PIPE_INSTANCE)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateNamedPipeW(path, openMode, pipeMode, PIPE_UNLIMITED_INSTANCES, outBuffer, inBuffer, 0, nullptr);
}

} // namespace

TEST_F(PipeConnector, RefusesRemoteClientsAndDoesNotShareANameTakenAlready) {
  gInstanceLog = {};
  {
    TPipeConnector listener(name, library, {}, TClientEntries{EchoUpdate, nullptr}, TClientAggregator::BusyTimeoutMs,
                            Recording);
    ASSERT_EQ(listener.Initialise(), NV_OK);
    TPipeClient client;
    ASSERT_TRUE(client.Connect(path, 5000));
    EXPECT_EQ(Result(client.Request(1, "")), NV_OK);
    EXPECT_EQ(listener.TerminateAndWait(), NV_OK);
  }
  ASSERT_GE(gInstanceLog.asked.size(), 2u);
  EXPECT_TRUE(gInstanceLog.asked[0].first & FILE_FLAG_FIRST_PIPE_INSTANCE) << "the first instance";
  for (size_t i = 1; i < gInstanceLog.asked.size(); ++i)
    EXPECT_FALSE(gInstanceLog.asked[i].first & FILE_FLAG_FIRST_PIPE_INSTANCE) << "the instances after it";
  for (const auto& [openMode, pipeMode] : gInstanceLog.asked) EXPECT_TRUE(pipeMode & PIPE_REJECT_REMOTE_CLIENTS);

  gInstanceLog = {};
  gInstanceLog.nameTaken = true;
  TPipeConnector squatted(name, library, {}, TClientEntries{EchoUpdate, nullptr}, TClientAggregator::BusyTimeoutMs,
                          Recording);
  EXPECT_EQ(squatted.Initialise(), int32_t(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(squatted.IsInitialised()) << "nothing listens, so the host ends by its idle rule";
  EXPECT_FALSE(WaitForAck(ack, 0));
  EXPECT_EQ(gInstanceLog.asked.size(), 1u) << "and no other instance of the name is made";
}

namespace {

// Its run loop waits for the stop request, then goes on for lingerMs before it returns.
class TLingering final : public win32::TThreadObject {
public:
  TLingering(bool start, DWORD lingerMs) : fLingerMs(lingerMs) {
    if (start) Start();
  }
  ~TLingering() override { WaitFor(); }
  int32_t Stop(DWORD timeoutMs) { return RequestStopAndWait(timeoutMs, TAcknowledgement::LeftSet); }

protected:
  void Execute() override {
    ::WaitForSingleObject(StopEvent(), INFINITE);
    ::Sleep(fLingerMs);
  }

private:
  DWORD fLingerMs;
};

class TThrowing final : public win32::TThreadObject {
public:
  TThrowing() { Start(); }
  ~TThrowing() override { WaitFor(); }
  int32_t Stop() { return RequestStopAndWait(1000, TAcknowledgement::Reset); }

protected:
  void Execute() override { throw std::runtime_error("the run loop gives up"); }
};

// Shared by its callers; its run loop returns once `proceed` is set or a stop is requested, and
// `gone` is set when the object is destroyed.
class TShared final : public win32::TThreadObject, public std::enable_shared_from_this<TShared> {
public:
  TShared(HANDLE proceed, HANDLE gone) : fProceed(proceed), fGone(gone) {}
  ~TShared() override {
    RequestStop();
    WaitFor();
    ::SetEvent(fGone);
  }
  bool Begin() { return Start(0, shared_from_this()); }

protected:
  void Execute() override {
    const HANDLE either[2] = {fProceed, StopEvent()};
    ::WaitForMultipleObjects(2, either, FALSE, INFINITE);
  }

private:
  HANDLE fProceed, fGone;
};

} // namespace

TEST(ThreadObject, AStopRequestAnswersWhetherTheRunLoopEndedInTime) {
  const struct {
    const char* name;
    bool start;
    DWORD lingerMs, timeoutMs;
    int32_t answer;
  } cases[] = {
      {"never started", false, 0, 100, NVERR_ALREADY_TERMINATED},
      {"ends in time", true, 0, 5000, NV_OK},
      {"ends after the bound", true, 500, 50, NVERR_SHUTDOWN_TIMEOUT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TLingering object(c.start, c.lingerMs);
    EXPECT_EQ(object.Started(), c.start);
    EXPECT_EQ(object.Stop(c.timeoutMs), c.answer);
    object.WaitFor();
    EXPECT_EQ(object.IsTerminated(), c.start);
    EXPECT_EQ(object.Stop(c.timeoutMs), NVERR_ALREADY_TERMINATED) << "a second request asks nothing";
  }
}

TEST(ThreadObject, AnExceptionThatLeavesTheRunLoopEndsItAsAReturnWould) {
  TThrowing object;
  ASSERT_TRUE(object.Started());
  object.WaitFor();
  EXPECT_TRUE(object.IsTerminated());
  EXPECT_EQ(object.Stop(), NVERR_ALREADY_TERMINATED);
}

TEST(ThreadObject, ItsThreadKeepsASharedObjectUntilItHasLeftIt) {
  const win32::THandle proceed = win32::MakeEvent(true, false), gone = win32::MakeEvent(true, false);
  auto object = std::make_shared<TShared>(proceed.Get(), gone.Get());
  ASSERT_TRUE(object->Begin());
  object.reset(); // the callers' last reference
  EXPECT_EQ(::WaitForSingleObject(gone.Get(), 200), DWORD(WAIT_TIMEOUT)) << "destroyed while its run loop ran";
  ::SetEvent(proceed.Get());
  EXPECT_EQ(::WaitForSingleObject(gone.Get(), 5000), DWORD(WAIT_OBJECT_0)) << "destroyed by its thread once it left";
}
