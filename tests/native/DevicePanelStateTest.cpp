#include "DevicePanelState.h"

#include "PanelFakes.h"

#include <gtest/gtest.h>

#include <vector>

using namespace q417;

namespace {

using FakeView = fakes::TFakeView;

TQ417DeviceState Record(int32_t id, uint8_t mode, uint8_t select, uint8_t indicator, uint16_t delay) {
  TQ417DeviceState r{};
  r.Q417_DeviceID = id;
  r.Q417_State = {mode, select, indicator, delay};
  return r;
}

// A panel for device 5 with its events recorded as "C<channel>m<mode>" and "S".
class Panel : public ::testing::Test {
protected:
  FakeView view;
  TDevicePanelState panel{view};
  std::vector<std::string> events;

  void SetUp() override {
    panel.OnChange = [this](TDevicePanelState& p, int32_t id) {
      EXPECT_EQ(id, 5);
      events.push_back("C" + std::to_string(p.Channel()) + "m" + std::to_string(p.Mode()));
    };
    panel.OnSelect = [this](TDevicePanelState&) { events.push_back("S"); };
    panel.OnCreate(5, 0x01020304);
  }
  void Show(uint8_t mode, uint8_t select, uint8_t indicator = 0, uint16_t delay = 0) {
    panel.SetDeviceState(Record(5, mode, select, indicator, delay));
  }
  void Select() { panel.SelectDevice(&panel); }
  TQ417DeviceState Reported() {
    TQ417DeviceState r{};
    r.Q417_VersionID = 77; // left as the caller filled it
    panel.GetDeviceState(r);
    EXPECT_EQ(r.Q417_VersionID, 77);
    return r;
  }
};

} // namespace

TEST_F(Panel, OnCreateShowsIdentity) {
  EXPECT_EQ(view.id, "5");
  EXPECT_EQ(view.version, "Version : 1.2.3.4");
  FakeView other;
  TDevicePanelState p(other);
  p.OnCreate(-1, -1);
  EXPECT_EQ(other.id, "-1");
  EXPECT_EQ(other.version, "Version : 255.255.255.255");
  p.OnCreate(0, 0);
  EXPECT_EQ(other.version, "Version : 0.0.0.0");
}

TEST_F(Panel, ChannelClickTogglesOnlyInModeOne) {
  Show(1, 0);
  panel.shChxClick(4);
  EXPECT_TRUE(panel.LampLit(3));
  panel.shChxClick(4);
  EXPECT_EQ(panel.Channel(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"C4m1", "S", "C0m1", "S"})) << "reported before the selection request";

  for (uint8_t mode : {0, 2, 3}) {
    events.clear();
    Show(mode, 0x02);
    panel.shChxClick(8);
    EXPECT_EQ(panel.Channel(), mode == 0 ? 0 : 2) << int(mode);
    EXPECT_EQ(events, std::vector<std::string>{"S"}) << "only a selection request in mode " << int(mode);
  }
  Select();
  events.clear();
  panel.shChxClick(8);
  EXPECT_TRUE(events.empty()) << "a selected panel does not ask again";
}

TEST_F(Panel, DigitKeysOnTheSelectedPanel) {
  Show(2, 0);
  Select();
  const struct { char16_t key; int32_t channel; bool used; } steps[] = {
      {u'3', 4, true}, {u'3', 0, true}, {u'8', 128, true}, {u'0', 0, true}, {u'9', 0, false}, {u'a', 0, false}};
  for (const auto& s : steps) {
    char16_t key = s.key;
    panel.OnKeyPress(key);
    EXPECT_EQ(panel.Channel(), s.channel) << char(s.key);
    EXPECT_EQ(key == 0, s.used) << char(s.key);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"C4m2", "C0m2", "C128m2", "C0m2"}));

  Show(0, 0); // mode 0: the key is used and the change check runs, but the channel stays 0
  events.clear();
  char16_t key = u'5';
  panel.OnKeyPress(key);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(panel.Channel(), 0);
  EXPECT_EQ(events, std::vector<std::string>{"C0m0"}) << "mode changed since the last report";
}

TEST_F(Panel, DigitKeysAreLeftWhenNotSelectedOrEditing) {
  Show(1, 0);
  char16_t key = u'3';
  panel.OnKeyPress(key);
  EXPECT_EQ(key, u'3');
  Select();
  panel.edDELAYEnter();
  panel.OnKeyPress(key);
  EXPECT_EQ(key, u'3');
  EXPECT_EQ(panel.Channel(), 0);
}

TEST_F(Panel, ModeZeroKeepsTheLitLampUntilTheDeviceAnswers) {
  Show(1, 0x10);
  panel.OnClickSetMode(0);
  EXPECT_TRUE(panel.LampLit(5));
  EXPECT_TRUE(panel.ModeBarLit(0));
  EXPECT_EQ(Reported().Q417_State.Q417_Select, 0x10);
  EXPECT_EQ(events.front(), "C16m0");
  Show(0, 0x10);
  EXPECT_FALSE(panel.LampLit(5));
  EXPECT_EQ(Reported().Q417_State.Q417_Select, 0) << "a record under mode 0 shows no channel";
}

TEST_F(Panel, OddValuesAreHeldAndSentBack) {
  Show(7, 3, 2, 65535);
  for (int n = 1; n <= 8; ++n) EXPECT_FALSE(panel.LampLit(n));
  for (int m = 0; m <= 3; ++m) EXPECT_FALSE(panel.ModeBarLit(m));
  EXPECT_FALSE(panel.IndicatorLit());
  const TQ417DeviceState r = Reported();
  EXPECT_EQ(r.Q417_DeviceID, 5);
  EXPECT_EQ(r.Q417_State.Q417_Mode, 7);
  EXPECT_EQ(r.Q417_State.Q417_Select, 3);
  EXPECT_EQ(r.Q417_State.Q417_Indicator, 2);
  EXPECT_EQ(int(r.Q417_State.Q417_Delay), 65535);
  EXPECT_DOUBLE_EQ(view.field, 6553.5);
  panel.JvShape9Click();
  EXPECT_EQ(panel.Indicator(), 0) << "the toggle writes 0 after anything but 0";
  panel.JvShape9Click();
  EXPECT_EQ(panel.Indicator(), 1);
}

TEST_F(Panel, ChangeCheckComparesWithTheLastReport) {
  Show(1, 4, 1, 25);
  panel.OnClickSetMode(1);
  EXPECT_EQ(events, (std::vector<std::string>{"C4m1", "S"})) << "the copies still hold the fresh panel's zeros";
  Select();
  events.clear();
  panel.OnClickSetMode(1);
  EXPECT_TRUE(events.empty());

  FakeView v;
  TDevicePanelState fresh(v);
  int changes = 0;
  fresh.OnChange = [&](TDevicePanelState&, int32_t) { ++changes; };
  fresh.OnCreate(6, 0);
  fresh.SetDeviceState(Record(6, 0, 0, 0, 0));
  fresh.OnClickSetMode(0);
  EXPECT_EQ(changes, 0);
  fresh.SetDeviceState(Record(5, 2, 0, 0, 0)); // another device's record
  EXPECT_EQ(fresh.Mode(), 0);
}

TEST_F(Panel, OkStoresTheRoundedEntryAndReportsOnlyAChange) {
  Show(1, 4, 1, 25);
  Select();
  panel.OnClickSetMode(1); // report the current state
  events.clear();

  panel.edDELAYEnter();
  view.field = 2.5;
  panel.btOKClick();
  EXPECT_TRUE(events.empty()) << "same delay as last reported";
  EXPECT_FALSE(panel.Editing());
  EXPECT_EQ(view.focusReturns, 1);

  const struct { double entry; int32_t tenths; } entries[] = {{2.25, 22}, {2.35, 24}, {0.05, 0}};
  for (const auto& e : entries) {
    panel.edDELAYEnter();
    view.field = e.entry;
    panel.btOKClick();
    EXPECT_EQ(panel.Delay(), e.tenths) << e.entry;
    EXPECT_EQ(int(Reported().Q417_State.Q417_Delay), e.tenths);
  }
  EXPECT_EQ(events.size(), 3u) << "one report for each different delay";
}

TEST_F(Panel, OutOfRangeEntriesAreClampedAndShown) {
  Show(1, 0, 0, 10);
  const struct { double entry; int32_t tenths; double shown; } entries[] = {{7000.0, 65535, 6553.5}, {-2.0, 0, 0.0}};
  for (const auto& e : entries) {
    panel.edDELAYEnter();
    view.field = e.entry;
    panel.btOKClick();
    EXPECT_EQ(panel.Delay(), e.tenths);
    EXPECT_DOUBLE_EQ(view.field, e.shown);
  }
}

TEST_F(Panel, RecordsWhileEditingLeaveTheDelayAlone) {
  Show(1, 4, 0, 25);
  panel.edDELAYEnter();
  view.field = 9.9; // being typed
  Show(2, 8, 1, 40);
  EXPECT_EQ(panel.Mode(), 2);
  EXPECT_TRUE(panel.LampLit(4));
  EXPECT_TRUE(panel.IndicatorLit());
  EXPECT_EQ(panel.Delay(), 25);
  EXPECT_DOUBLE_EQ(view.field, 9.9);
  events.clear();
  panel.btCANCELClick();
  EXPECT_DOUBLE_EQ(view.field, 2.5);
  EXPECT_FALSE(panel.Editing());
  EXPECT_TRUE(events.empty());
}

TEST_F(Panel, DeselectionEndsEditing) {
  Show(1, 0, 0, 25);
  Select();
  panel.edDELAYEnter();
  view.field = 9.9;
  FakeView otherView;
  TDevicePanelState other(otherView);
  panel.SelectDevice(&other);
  EXPECT_FALSE(panel.Selected());
  EXPECT_FALSE(panel.Editing());
  Show(1, 0, 0, 40);
  EXPECT_DOUBLE_EQ(view.field, 4.0) << "the next record overwrites the field";
}
