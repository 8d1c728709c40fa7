// The control panel's main window hosted in-process with the device API library's test double:
// the hand-over of packets from the library's thread, the posted messages and the timers.
#include "FQ417MainU.h"
#include "NVQ417ApiDouble.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;
using q417::TBytes;

namespace {

std::string DoubleLog() {
  std::string log(size_t(NVQ417Double_GetLog(nullptr, 0)) + 1, '\0');
  log.resize(size_t(NVQ417Double_GetLog(log.data(), int32_t(log.size()))));
  return log;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class PanelWindow : public ::testing::Test {
protected:
  std::unique_ptr<TForm1> Start(const char* script) {
    EXPECT_EQ(NVQ417Double_SetScript(script), 0);
    if (PacketQueue)
      while (PacketQueue->PopPacket()) {
      }
    auto form = TForm1::Create(::GetModuleHandleW(nullptr));
    EXPECT_TRUE(form);
    return form;
  }
};

} // namespace

TEST_F(PanelWindow, PacketsDeliveredInQuickSuccessionAreAppliedInOrder) {
  // The first poll is answered by three packets at once; later polls are never answered.
  auto form = Start("init 997 now 0\n"
                    "poll 997 thread 0100000001000000000000000000000001010000 00000000 "
                    "01000000030000000000000000000000030400ffff\n"
                    "poll 997 never\n");
  ASSERT_TRUE(WaitFor([&] { return form->AppliedPackets().size() == 3; }, 10000)) << DoubleLog();
  const std::vector<TBytes> expected = {
      {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0},
      {0, 0, 0, 0},
      {1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 4, 0, 0xff, 0xff}};
  EXPECT_EQ(form->AppliedPackets(), expected);
  EXPECT_EQ(form->StatusText(), L"API library Initialised.");
}

TEST_F(PanelWindow, DeliveriesWithoutDataAreAppliedAsTheEmptyPacket) {
  auto form = Start("init 997 now 0\npoll 997 now empty null:21\npoll 997 never\n");
  ASSERT_TRUE(WaitFor([&] { return form->AppliedPackets().size() == 2; }, 10000)) << DoubleLog();
  EXPECT_EQ(form->AppliedPackets()[0], (TBytes{0, 0, 0, 0}));
  EXPECT_EQ(form->AppliedPackets()[1], (TBytes{0, 0, 0, 0}));
}

TEST_F(PanelWindow, PacketReadyWithAnEmptyQueueDoesNothing) {
  auto form = Start("init 997 now 0\npoll 997 never\n");
  ASSERT_TRUE(WaitFor([&] { return form->Cycle().Updating(); }, 10000)) << DoubleLog();
  ::PostMessageW(form->Handle(), TForm1::WM_PACKETREADY, 5, 0);
  // Dispatched once no such message waits in the queue any more.
  ASSERT_TRUE(WaitFor([&] {
    MSG msg;
    return !::PeekMessageW(&msg, form->Handle(), TForm1::WM_PACKETREADY, TForm1::WM_PACKETREADY, PM_NOREMOVE);
  }, 2000));
  EXPECT_TRUE(form->AppliedPackets().empty());
  EXPECT_TRUE(form->Cycle().Updating()) << "the outstanding poll is still outstanding";
  EXPECT_EQ(Count(DoubleLog(), " update "), 1u);
}

TEST_F(PanelWindow, FirstPollFollowsInitialisationAtOnce) {
  auto form = Start("init 997 now 0\npoll 997 never\n");
  ASSERT_TRUE(WaitFor([&] { return form->Cycle().Updating(); }, 10000));
  const auto lines = Lines(DoubleLog());
  ASSERT_GE(lines.size(), 3u);
  const double initDone = std::atof(lines[1].c_str()), poll = std::atof(lines[2].c_str());
  EXPECT_NE(lines[2].find(" update "), std::string::npos) << lines[2];
  EXPECT_LT(poll - initDone, 150.0) << "the poll timer ticks at once when started, not after 200 ms";
}

// The timer rules themselves, on a plain message-only window.
TEST(WinTimer, AtOnceTickAndStartingARunningTimerDoesNotRestartIt) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  win32::TWindow ownerOwner(owner);
  win32::TWinTimer atOnce(7, 1000, win32::TWinTimer::FirstTickAtOnce);
  win32::TWinTimer periodic(8, 400, win32::TWinTimer::FirstTickAfterPeriod);
  atOnce.Attach(owner);
  periodic.Attach(owner);

  std::vector<std::pair<UINT_PTR, ULONGLONG>> ticks;
  // Collects the owner's ticks until the given time since t0 or until the condition holds.
  auto collect = [&](ULONGLONG until, auto done) {
    while (!done() && ::GetTickCount64() < until) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, owner, 0, 0, PM_REMOVE)) {
        if (atOnce.IsTick(msg.message, msg.wParam)) ticks.emplace_back(7, ::GetTickCount64());
        else if (periodic.IsTick(msg.message, msg.wParam)) ticks.emplace_back(8, ::GetTickCount64());
      }
    }
  };
  auto ticksOf = [&](UINT_PTR id) { return std::count_if(ticks.begin(), ticks.end(), [&](auto& t) { return t.first == id; }); };
  const ULONGLONG t0 = ::GetTickCount64();
  atOnce.Start();
  periodic.Start();
  collect(t0 + 200, [] { return false; });
  periodic.Start(); // already running: must not restart its period
  atOnce.Start();   // already running: no second at-once tick
  collect(t0 + 3000, [&] { return ticksOf(8) > 0; });
  atOnce.Stop();
  periodic.Stop();

  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks[0].first, 7u);
  EXPECT_LT(ticks[0].second - t0, 100u) << "at-once tick";
  EXPECT_EQ(ticksOf(7), 1);
  const auto first8 = std::find_if(ticks.begin(), ticks.end(), [](auto& t) { return t.first == 8; });
  ASSERT_NE(first8, ticks.end());
  EXPECT_LT(first8->second - t0, 560u) << "the period runs from the first start (400 ms), not the second (600 ms)";
  EXPECT_GE(first8->second - t0, 350u);
}
