#include "UpdateCycle.h"

#include "PanelFakes.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace q417;

namespace {

using FakeLibrary = fakes::TFakeLibrary;

class FakeWindow : public IUpdateCycleWindow {
public:
  std::vector<std::string> texts;
  bool poll = false, watchDog = false;
  std::vector<TBytes> applied;
  std::vector<TQ417DeviceState> devices;
  bool throwOnApply = false;

  void ShowStatus(const std::string& text) override { texts.push_back(text); }
  void SetPollTimer(bool running) override { poll = running; }
  void SetWatchDogTimer(bool running) override { watchDog = running; }
  void ApplyPacket(const TBytes& packet) override {
    if (throwOnApply) throw std::runtime_error("panel could not be created");
    applied.push_back(packet);
  }
  int32_t DeviceCount() override { return int32_t(devices.size()); }
  void GetDeviceState(int32_t i, TQ417DeviceState& s) override {
    s.Q417_DeviceID = devices[i].Q417_DeviceID;
    s.Q417_State = devices[i].Q417_State;
  }
  std::string LastText() const { return texts.empty() ? "" : texts.back(); }
};

TBytes OneDevicePacket(int32_t id, uint8_t select) {
  TBytes p;
  BuildNextStateTable(p, 1, [&](int32_t, TQ417DeviceState& r) {
    r.Q417_DeviceID = id;
    r.Q417_State = {1, select, 0, 25};
  });
  return p;
}

class UpdateCycleTest : public ::testing::Test {
protected:
  FakeLibrary library;
  FakeWindow window;
  TSharedPacketQueue queue;
  TUpdateCycle cycle{library, window, queue};

  void Deliver(const TBytes& packet) {
    queue.PushPacket(MakeUpdateContr(packet.data(), int32_t(packet.size())));
    cycle.PacketReady();
  }
  // Created, initialised and polling with an accepted poll outstanding.
  void PollOutstanding() {
    cycle.FormCreate();
    cycle.InitDone(0);
    cycle.PollTick();
    ASSERT_TRUE(cycle.Updating());
  }
  void OperatorSets(uint8_t select) {
    if (window.devices.empty()) window.devices.push_back({});
    window.devices[0].Q417_DeviceID = 5;
    window.devices[0].Q417_State = {1, select, 0, 25};
    cycle.DeviceChanged();
  }
};

} // namespace

TEST_F(UpdateCycleTest, CreationStartsTheWatchdogAndInitialises) {
  cycle.FormCreate();
  EXPECT_EQ(library.Kinds(), "I");
  EXPECT_EQ(cycle.Q417Ref(), 7);
  EXPECT_FALSE(window.poll);
  EXPECT_TRUE(window.watchDog);
  EXPECT_TRUE(window.texts.empty());
}

TEST_F(UpdateCycleTest, InitialiseOutcomes) {
  const struct { int32_t initResult, doneResult; bool posted; std::string text; bool polling; } cases[] = {
      {5, 0, false, "Error loading API library. (5)", false},
      {-1, 0, false, "Error loading API library. (-1)", false},
      {NV_PENDING, -2, true, "Initialise Error. (-2)", false},
      {NV_PENDING, 0, true, "API library Initialised.", true},
  };
  for (const auto& c : cases) {
    FakeLibrary lib;
    FakeWindow win;
    TUpdateCycle cyc(lib, win, queue);
    lib.initResult = c.initResult;
    cyc.FormCreate();
    if (c.posted) cyc.InitDone(c.doneResult);
    EXPECT_EQ(win.LastText(), c.text);
    EXPECT_EQ(win.poll, c.polling);
    EXPECT_EQ(lib.Kinds(), "I") << "nothing is retried";
  }
}

TEST_F(UpdateCycleTest, PollTickWithoutReferenceCallsNothing) {
  library.refToGive = 0;
  cycle.FormCreate();
  cycle.InitDone(0);
  cycle.PollTick();
  EXPECT_EQ(window.LastText(), "API not initialised. ( Handle = NULL )");
  EXPECT_EQ(library.Kinds(), "I");
  EXPECT_TRUE(window.poll) << "the timer keeps running";
}

TEST_F(UpdateCycleTest, RefusedPollKeepsPollingAndAcceptedPollWaits) {
  cycle.FormCreate();
  cycle.InitDone(0);
  library.results = {31};
  cycle.PollTick();
  EXPECT_EQ(window.LastText(), "Update poll failed. (31)");
  EXPECT_TRUE(window.poll);
  EXPECT_FALSE(cycle.Updating());

  cycle.PollTick();
  EXPECT_EQ(library.Kinds(), "IPP");
  EXPECT_EQ(library.calls.back().ref, 7);
  EXPECT_FALSE(window.poll);
  EXPECT_TRUE(window.watchDog);
  EXPECT_TRUE(cycle.Updating());
}

TEST_F(UpdateCycleTest, AnswersAreAppliedInQueueOrderAndPollingResumes) {
  PollOutstanding();
  const TBytes a = OneDevicePacket(1, 1), b = OneDevicePacket(2, 2), c = OneDevicePacket(3, 4);
  for (const TBytes* p : {&a, &b, &c}) queue.PushPacket(MakeUpdateContr(p->data(), int32_t(p->size())));
  for (int i = 0; i < 4; ++i) cycle.PacketReady(); // the fourth finds the queue empty
  EXPECT_EQ(window.applied, (std::vector<TBytes>{a, b, c}));
  EXPECT_FALSE(cycle.Updating());
  EXPECT_TRUE(window.poll);
  EXPECT_FALSE(window.watchDog);
}

TEST_F(UpdateCycleTest, ChangesWhilePollOutstandingSendOnlyTheLatestTableLate) {
  PollOutstanding();
  OperatorSets(0x04);
  OperatorSets(0x10);
  EXPECT_EQ(library.Kinds(), "IP") << "nothing is sent while the poll is outstanding";
  EXPECT_TRUE(cycle.LateUpdate());

  const TBytes pollAnswer = OneDevicePacket(5, 0x01);
  Deliver(pollAnswer);
  ASSERT_EQ(library.Kinds(), "IPT");
  EXPECT_EQ(library.calls.back().table, OneDevicePacket(5, 0x10)) << "the table of the second change";
  EXPECT_TRUE(window.applied.empty()) << "the superseded poll answer is not applied";
  EXPECT_FALSE(cycle.LateUpdate());
  EXPECT_TRUE(cycle.Updating());
  EXPECT_FALSE(window.poll);
  EXPECT_TRUE(window.watchDog);

  const TBytes tableAnswer = OneDevicePacket(5, 0x10);
  Deliver(tableAnswer);
  EXPECT_EQ(window.applied, std::vector<TBytes>{tableAnswer});
  EXPECT_FALSE(cycle.Updating());
  EXPECT_TRUE(window.poll);
}

TEST_F(UpdateCycleTest, ChangesWhilePollingAreSentAtOnceEvenBeforeTheirAnswers) {
  cycle.FormCreate();
  cycle.InitDone(0);
  OperatorSets(0x02);
  EXPECT_EQ(library.Kinds(), "IT");
  EXPECT_FALSE(window.poll);
  EXPECT_TRUE(window.watchDog);
  EXPECT_FALSE(cycle.Updating());
  EXPECT_TRUE(cycle.NextState().empty()) << "the table is emptied once sent";

  OperatorSets(0x08);
  EXPECT_EQ(library.Kinds(), "ITT");
  EXPECT_EQ(library.calls[2].table, OneDevicePacket(5, 0x08));

  Deliver(OneDevicePacket(5, 0x02));
  Deliver(OneDevicePacket(5, 0x08));
  EXPECT_EQ(window.applied.size(), 2u);
  EXPECT_TRUE(window.poll);
}

TEST_F(UpdateCycleTest, RefusedChangeIsDroppedAndTimersStay) {
  cycle.FormCreate();
  cycle.InitDone(0);
  library.results = {-9};
  OperatorSets(0x02);
  EXPECT_EQ(window.LastText(), "Update failed. (-9)");
  EXPECT_TRUE(window.poll);
  EXPECT_TRUE(window.watchDog);
  EXPECT_TRUE(cycle.NextState().empty());
  cycle.PollTick();
  EXPECT_EQ(library.Kinds(), "ITP") << "the change is not sent again";
}

TEST_F(UpdateCycleTest, RefusedLateUpdateResumesPollingWithTheAnswerApplied) {
  PollOutstanding();
  OperatorSets(0x04);
  library.results = {1234};
  const TBytes pollAnswer = OneDevicePacket(5, 0x01);
  Deliver(pollAnswer);
  EXPECT_EQ(window.LastText(), "Update failed. (1234)");
  EXPECT_EQ(window.applied, std::vector<TBytes>{pollAnswer}) << "the devices' own state shows again";
  EXPECT_FALSE(cycle.LateUpdate());
  EXPECT_FALSE(cycle.Updating());
  EXPECT_TRUE(window.poll);
  EXPECT_FALSE(window.watchDog);
}

TEST_F(UpdateCycleTest, WatchdogOnlyReports) {
  PollOutstanding();
  cycle.WatchDogTick();
  cycle.WatchDogTick();
  EXPECT_EQ(window.texts, (std::vector<std::string>{"API library Initialised.", "WatchDog: No callback after update.",
                                                    "WatchDog: No callback after update."}));
  EXPECT_TRUE(cycle.Updating());
  EXPECT_TRUE(window.watchDog);
  EXPECT_FALSE(window.poll);
}

TEST_F(UpdateCycleTest, ErrorWhileApplyingBecomesTheStatusAndPollingContinues) {
  PollOutstanding();
  window.throwOnApply = true;
  Deliver(OneDevicePacket(5, 1));
  EXPECT_EQ(window.LastText(), "Exception : panel could not be created");
  EXPECT_TRUE(window.poll) << "the timers were switched before the error";
  EXPECT_FALSE(cycle.Updating());
}

TEST_F(UpdateCycleTest, ChangeWithoutPanelsSendsNothing) {
  cycle.FormCreate();
  cycle.InitDone(0);
  cycle.DeviceChanged();
  EXPECT_EQ(library.Kinds(), "I");
}

TEST_F(UpdateCycleTest, CloseOnlyWithReference) {
  library.refToGive = 0;
  cycle.FormCreate();
  cycle.FormClose();
  EXPECT_EQ(library.Kinds(), "I");

  FakeLibrary lib;
  FakeWindow win;
  TUpdateCycle cyc(lib, win, queue);
  cyc.FormCreate();
  cyc.FormClose();
  EXPECT_EQ(lib.Kinds(), "IC");
  EXPECT_EQ(lib.calls.back().ref, 7);
  EXPECT_EQ(cyc.Q417Ref(), 0);
  cyc.PollTick();
  EXPECT_EQ(win.LastText(), "API not initialised. ( Handle = NULL )");
}
