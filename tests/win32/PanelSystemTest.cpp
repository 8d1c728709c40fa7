// Q417Panel.exe driven from outside, with the device API library's test double beside it:
// its status bar is read as an assistive tool reads it, the double logs every library call.
#include "PanelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace testing_support;

namespace {

using PanelRun = TPanelRun;

double Stamp(const std::string& line) { return std::atof(line.c_str()); }

} // namespace

TEST(PanelSystem, WindowCarriesItsTitle) {
  PanelRun panel("init 997 thread 0\npoll 997 never\n");
  ASSERT_TRUE(panel.Ready());
  EXPECT_EQ(Narrow(WindowText(panel.Main())), "Q417 Control App");
  EXPECT_TRUE(panel.WaitStatus("API library Initialised.", 10000)) << panel.Status();
}

// Slow: waits out the 5000 ms watchdog period.
TEST(PanelSystem, RefusedInitialiseIsReportedAndTheWatchdogFollows) {
  PanelRun panel("init 5\n");
  ASSERT_TRUE(panel.Ready());
  EXPECT_TRUE(panel.WaitStatus("Error loading API library. (5)", 5000)) << panel.Status();
  ASSERT_TRUE(panel.WaitStatus("WatchDog: No callback after update.", 15000)) << panel.Status();
  EXPECT_GT(panel.SecondsSinceStart(), 4.0) << "the watchdog's first tick is one period after creation";
  EXPECT_TRUE(panel.Events("update").empty());
}

// Slow: waits for the watchdog text, by which time a poll would long have been sent.
TEST(PanelSystem, FailedInitialisationNeverPolls) {
  PanelRun panel("init 997 thread -2\n");
  ASSERT_TRUE(panel.Ready());
  EXPECT_TRUE(panel.WaitStatus("Initialise Error. (-2)", 10000)) << panel.Status();
  ASSERT_TRUE(panel.WaitStatus("WatchDog: No callback after update.", 15000)) << panel.Status();
  EXPECT_TRUE(panel.Events("update").empty());
  EXPECT_EQ(panel.Events("init").size(), 1u) << "initialisation is not tried again";
}

TEST(PanelSystem, PollWithoutReferenceCallsNothing) {
  PanelRun panel("ref 0\ninit 997 thread 0\n");
  ASSERT_TRUE(panel.Ready());
  EXPECT_TRUE(panel.WaitStatus("API not initialised. ( Handle = NULL )", 10000)) << panel.Status();
  EXPECT_TRUE(panel.Events("update").empty());
}

TEST(PanelSystem, PollsFollowEachAnswerWithoutPause) {
  PanelRun panel("init 997 thread 0\npoll 997 after:20 state\n");
  ASSERT_TRUE(panel.Ready());
  EXPECT_TRUE(panel.WaitStatus("API library Initialised.", 10000)) << panel.Status();
  ASSERT_TRUE(WaitFor([&] { return panel.Events("update").size() >= 16; }, 20000));

  // Gap between each delivery and the poll that follows it: far below the 200 ms period.
  std::vector<double> gaps;
  double lastDelivery = -1;
  for (const auto& line : panel.Log()) {
    if (line.find(" deliver ") != std::string::npos) lastDelivery = Stamp(line);
    else if (line.find(" update ") != std::string::npos && lastDelivery >= 0) {
      gaps.push_back(Stamp(line) - lastDelivery);
      lastDelivery = -1;
    }
  }
  ASSERT_GE(gaps.size(), 10u);
  std::sort(gaps.begin(), gaps.end());
  EXPECT_LT(gaps[gaps.size() / 2], 100.0) << "median gap between an answer and the next poll, ms";
  for (const auto& line : panel.Events("update")) EXPECT_NE(line.find("ref=1 table=null slot=null"), std::string::npos) << line;
}

TEST(PanelSystem, ClosingTheWindowClosesTheLibrary) {
  PanelRun panel("ref 42\ninit 997 thread 0\npoll 997 after:50 state\n");
  ASSERT_TRUE(panel.Ready());
  ASSERT_TRUE(WaitFor([&] { return !panel.Events("update").empty(); }, 10000));
  ::PostMessageW(panel.Main(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(panel.Process().WaitExit(10000));
  EXPECT_EQ(panel.Process().ExitCode(), 0u);
  const auto closes = panel.Events("close");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_NE(closes[0].find("close ref=42 arg3=null arg4=null"), std::string::npos) << closes[0];
}
