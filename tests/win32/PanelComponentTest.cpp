// The control panel's main window hosted in-process with the device API library's test double:
// the hand-over of packets from the library's thread, the posted messages and the timers.
#include "FQ417MainU.h"
#include "NVQ417ApiDouble.h"
#include "PanelLayout.h"
#include "PanelRun.h"
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

// Releases the double's gated deliveries, waits without dispatching until its thread has queued
// this many packets, then dispatches the packet messages one at a time and records the panels
// after each.
std::vector<std::vector<int32_t>> ApplyQueuedOneByOne(TForm1& form, const std::string& gate, int64_t count) {
  std::vector<std::vector<int32_t>> shown;
  SetNamedEvent(gate);
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (PacketQueue->Count() < count && ::GetTickCount64() < deadline) ::Sleep(5);
  MSG msg;
  while (::PeekMessageW(&msg, form.Handle(), TForm1::WM_PACKETREADY, TForm1::WM_PACKETREADY, PM_REMOVE)) {
    ::DispatchMessageW(&msg);
    std::vector<int32_t> ids;
    for (size_t i = 0; i < form.DeviceFrames().Count(); ++i) ids.push_back(form.DeviceFrames().Frame(i).DeviceID());
    shown.push_back(ids);
  }
  return shown;
}

const char* const kDevice1 = "010000000100000000000000000000000101000000";
const char* const kDevice3 = "010000000300000000000000000000000304000000";

TEST_F(PanelWindow, PacketsDeliveredInQuickSuccessionAreAppliedInOrder) {
  // The first poll is answered by three packets at once; later polls are never answered.
  const std::string gate = UniqueName("gate");
  auto form = Start(("init 997 now 0\npoll 997 event:" + gate + " " + kDevice1 + " 00000000 " + kDevice3 +
                     "\npoll 997 never\n").c_str());
  ASSERT_TRUE(WaitFor([&] { return form->Cycle().Updating(); }, 10000)) << DoubleLog();
  const auto shown = ApplyQueuedOneByOne(*form, gate, 3);
  EXPECT_EQ(shown, (std::vector<std::vector<int32_t>>{{1}, {}, {3}}));
  EXPECT_EQ(form->StatusText(), L"API library Initialised.");
}

TEST_F(PanelWindow, DeliveriesWithoutDataAreAppliedAsTheEmptyPacket) {
  const std::string gate = UniqueName("gate");
  auto form = Start(("init 997 now 0\npoll 997 event:" + gate + " " + kDevice1 + " empty " + kDevice1 +
                     " null:21\npoll 997 never\n").c_str());
  ASSERT_TRUE(WaitFor([&] { return form->Cycle().Updating(); }, 10000)) << DoubleLog();
  const auto shown = ApplyQueuedOneByOne(*form, gate, 4);
  EXPECT_EQ(shown, (std::vector<std::vector<int32_t>>{{1}, {}, {1}, {}})) << DoubleLog();
  EXPECT_TRUE(form->Waiting());
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
  EXPECT_EQ(form->DeviceFrames().Count(), 0u);
  EXPECT_TRUE(form->Cycle().Updating()) << "the outstanding poll is still outstanding";
  EXPECT_EQ(Count(DoubleLog(), " update "), 1u);
}

TEST_F(PanelWindow, FirstPollFollowsInitialisationAtOnce) {
  auto form = Start("init 997 now 0\npoll 997 never\n");
  // The poll timer's at-once tick is a posted message, and a thread takes its posted messages
  // before any WM_TIMER: the first poll goes out before the window sees a timer message. Without
  // it the first poll would wait for the timer's first WM_TIMER, 200 ms later. Told apart by the
  // order of the messages rather than by a time, which a busy machine can stretch.
  bool timerBeforePoll = false;
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (!form->Cycle().Updating() && ::GetTickCount64() < deadline) {
    MSG msg;
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == form->Handle()) timerBeforePoll = true;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ASSERT_TRUE(form->Cycle().Updating()) << DoubleLog();
  EXPECT_FALSE(timerBeforePoll) << "the poll timer ticks at once when started, not after 200 ms";
  const auto lines = Lines(DoubleLog());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[1].find(" initdone "), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" update "), std::string::npos) << lines[2];
}

// Wine has one DPI for all monitors and never sends WM_DPICHANGED, so the message is delivered
// here as Windows would deliver it when the window moves to a 144 DPI monitor.
TEST_F(PanelWindow, MovingToAnotherDpiScalesPanelsAndWindow) {
  auto form = Start((std::string("init 997 now 0\npoll 997 thread 02000000") + std::string(kDevice1).substr(8) +
                     std::string(kDevice3).substr(8) + "\npoll 997 never\n").c_str());
  ASSERT_TRUE(WaitFor([&] { return form->DeviceFrames().Count() == 2; }, 10000)) << DoubleLog();
  const UINT dpi = ::GetDpiForWindow(form->Handle());
  auto clientHeight = [&] {
    RECT r;
    ::GetClientRect(form->Handle(), &r);
    return r.bottom;
  };
  using namespace q417::layout;
  ASSERT_EQ(clientHeight(), ::MulDiv(2 * PanelHeight + StatusHeight, int(dpi), 96));

  const UINT next = dpi * 3 / 2;
  RECT suggested{0, 0, 800, 800};
  ::SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(next, next), LPARAM(&suggested));
  EXPECT_EQ(clientHeight(), 2 * ::MulDiv(PanelHeight, int(next), 96) + ::MulDiv(StatusHeight, int(next), 96));
  for (size_t i = 0; i < 2; ++i) {
    RECT r;
    ::GetWindowRect(form->DeviceFrames().Frame(i).Handle(), &r);
    EXPECT_EQ(r.bottom - r.top, ::MulDiv(PanelHeight, int(next), 96));
  }
}

// The timer rules themselves, on a plain message-only window. The periods are long beside the
// moments compared, so that a thread kept waiting by a busy machine cannot blur them.
TEST(WinTimer, AtOnceTickAndStartingARunningTimerDoesNotRestartIt) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  win32::TWindow ownerOwner(owner);
  constexpr ULONGLONG kAtOncePeriod = 5000, kPeriod = 1000;
  win32::TWinTimer atOnce(7, UINT(kAtOncePeriod), win32::TWinTimer::FirstTickAtOnce);
  win32::TWinTimer periodic(8, UINT(kPeriod), win32::TWinTimer::FirstTickAfterPeriod);
  atOnce.Attach(owner);
  periodic.Attach(owner);

  std::vector<std::pair<UINT_PTR, ULONGLONG>> ticks;
  // Collects the owner's ticks until the given time since t0 or until the condition holds.
  auto collect = [&](ULONGLONG until, auto done) {
    while (!done() && ::GetTickCount64() < until) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, owner, 0, 0, PM_REMOVE)) {
        if (!atOnce.Dispatch(msg.message, msg.wParam, [&] { ticks.emplace_back(7, ::GetTickCount64()); }))
          periodic.Dispatch(msg.message, msg.wParam, [&] { ticks.emplace_back(8, ::GetTickCount64()); });
      }
    }
  };
  auto ticksOf = [&](UINT_PTR id) { return std::count_if(ticks.begin(), ticks.end(), [&](auto& t) { return t.first == id; }); };
  const ULONGLONG t0 = ::GetTickCount64();
  atOnce.Start();
  periodic.Start();
  collect(t0 + kPeriod / 2, [] { return false; });
  const ULONGLONG second = ::GetTickCount64();
  periodic.Start(); // already running: must not restart its period
  atOnce.Start();   // already running: no second at-once tick
  collect(t0 + 10000, [&] { return ticksOf(8) > 0; });
  atOnce.Stop();
  periodic.Stop();

  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks[0].first, 7u);
  EXPECT_LT(ticks[0].second - t0, kAtOncePeriod / 2) << "at-once tick, not one period after the start";
  EXPECT_EQ(ticksOf(7), 1);
  const auto first8 = std::find_if(ticks.begin(), ticks.end(), [](auto& t) { return t.first == 8; });
  ASSERT_NE(first8, ticks.end());
  EXPECT_GE(first8->second - t0, kPeriod - 50);
  // A restarted period could not have ended before a period after the second start.
  EXPECT_LT(first8->second, second + kPeriod) << "the period runs from the first start, not the second";
}
