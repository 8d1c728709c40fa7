#include "DeviceFrameList.h"

#include "PanelFakes.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace q417;

namespace {

// The shared fake window, logging what the list asks of it and what its panels are told.
struct Host : fakes::TFakeWindow {
  Host() { logging = true; }
};
using Frame = fakes::TFakeFrame;

TBytes Packet(std::initializer_list<std::pair<int32_t, uint8_t>> devices) { // (id, mode)
  std::vector<std::pair<int32_t, uint8_t>> d(devices);
  TBytes p;
  BuildNextStateTable(p, int32_t(d.size()), [&](int32_t i, TQ417DeviceState& r) {
    r.Q417_DeviceID = d[i].first;
    r.Q417_VersionID = d[i].first * 100;
    r.Q417_State.Q417_Mode = d[i].second;
  });
  return p;
}

} // namespace

TEST(DeviceFrameList, CreatesSortsRemovesAndSizes) {
  Host host;
  host.list.ApplyPacket(Packet({{9, 1}, {3, 1}, {5, 1}}));
  EXPECT_EQ(host.log, (std::vector<std::string>{"create 9", "create 3", "create 5", "size 3", "stack 3 5 9"}));
  EXPECT_EQ(ClientHeightFor(3, 182, 193, 19), 565);

  host.At(1).State().SelectDevice(&host.At(1).State()); // panel 5 selected and editing
  host.At(1).State().edDELAYEnter();
  host.log.clear();
  host.list.ApplyPacket(Packet({{5, 2}, {9, 2}}));
  EXPECT_EQ(host.log, (std::vector<std::string>{"destroy 3", "size 2", "stack 5 9"}));
  EXPECT_TRUE(host.At(0).State().Selected());
  EXPECT_TRUE(host.At(0).State().Editing());
  EXPECT_EQ(host.At(0).State().Mode(), 2);
  EXPECT_EQ(ClientHeightFor(2, 182, 193, 19), 383);

  host.log.clear();
  host.list.ApplyPacket(Packet({{9, 3}, {5, 3}}));
  EXPECT_TRUE(host.log.empty()) << "the same set changes no size and no order";
  EXPECT_EQ(host.At(0).DeviceID(), 5);
  EXPECT_EQ(host.At(1).State().Mode(), 3);

  host.list.ApplyPacket(EmptyPacket());
  EXPECT_EQ(host.log, (std::vector<std::string>{"destroy 9", "destroy 5", "size 0", "stack"}));
  EXPECT_EQ(ClientHeightFor(0, 182, 193, 19), 212);
}

TEST(DeviceFrameList, ARemovedDeviceComesBackAsANewPanel) {
  Host host;
  host.list.ApplyPacket(Packet({{4, 1}}));
  host.At(0).State().SelectDevice(&host.At(0).State());
  host.list.ApplyPacket(Packet({}));
  host.list.ApplyPacket(Packet({{4, 1}}));
  EXPECT_FALSE(host.At(0).State().Selected());
}

TEST(DeviceFrameList, DuplicateIdsYieldOnePanelWithTheLaterState) {
  Host host;
  host.list.ApplyPacket(Packet({{7, 1}, {7, 3}}));
  ASSERT_EQ(host.list.Count(), 1u);
  EXPECT_EQ(host.At(0).State().Mode(), 3);
  EXPECT_EQ(host.At(0).versionId, 700) << "the version comes from the record that created it";
}

TEST(DeviceFrameList, ShortPacketsApplyOnlyDeliveredRecords) {
  Host host;
  TBytes p = Packet({{1, 1}, {2, 1}});
  p.resize(p.size() - 1);
  host.list.ApplyPacket(p);
  ASSERT_EQ(host.list.Count(), 1u);
  EXPECT_EQ(host.At(0).DeviceID(), 1);
  p[0] = 0xFF, p[1] = 0xFF, p[2] = 0xFF, p[3] = 0xFF; // negative count: no records
  host.list.ApplyPacket(p);
  EXPECT_EQ(host.list.Count(), 0u);
}

TEST(DeviceFrameList, FailedCreationStopsThePacket) {
  Host host;
  host.list.ApplyPacket(Packet({{1, 1}}));
  host.log.clear();
  host.failOn = 2;
  EXPECT_THROW(host.list.ApplyPacket(Packet({{1, 3}, {2, 1}, {3, 1}})), std::runtime_error);
  EXPECT_EQ(host.list.Count(), 1u);
  EXPECT_EQ(host.At(0).State().Mode(), 3) << "panels handled before the error keep their new state";
  EXPECT_TRUE(host.log.empty()) << "no sizing, no stacking";
}

TEST(DeviceFrameList, KeysStopAtThePanelThatUsesThem) {
  Host host;
  host.list.ApplyPacket(Packet({{9, 1}, {3, 1}, {5, 1}}));
  host.At(1).State().SelectDevice(&host.At(1).State());
  host.log.clear();
  char16_t key = u'4';
  host.list.FormKeyPress(key);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(host.log, (std::vector<std::string>{"key 3", "key 5"}));
  EXPECT_EQ(host.At(1).State().Channel(), 8);

  host.log.clear();
  key = u'x';
  host.list.FormKeyPress(key);
  EXPECT_EQ(key, u'x');
  EXPECT_EQ(host.log.size(), 3u);
}

TEST(DeviceFrameList, ClickSelectsAndEndsEditingElsewhere) {
  Host host;
  host.list.ApplyPacket(Packet({{3, 1}, {9, 1}}));
  Frame& three = host.At(0);
  Frame& nine = host.At(1);
  three.State().edDELAYEnter(); // 3 asks for selection and edits its delay
  ASSERT_TRUE(three.State().Selected());
  std::vector<std::string> order;
  nine.State().OnChange = [&](TDevicePanelState&, int32_t) {
    order.push_back(three.State().Selected() ? "change while 3 selected" : "change late");
  };
  nine.State().JvShape9Click();
  EXPECT_EQ(order, std::vector<std::string>{"change while 3 selected"}) << "the change is sent before the selection";
  EXPECT_TRUE(nine.State().Selected());
  EXPECT_FALSE(three.State().Selected());
  EXPECT_FALSE(three.State().Editing());
}

TEST(DeviceFrameList, NamesAreIdentifiers) {
  EXPECT_EQ(DeviceFrameName(7), "FDeviceFrame7");
  EXPECT_EQ(DeviceFrameName(0), "FDeviceFrame0");
  EXPECT_EQ(DeviceFrameName(-7), "FDeviceFrame_7");
  EXPECT_EQ(DeviceFrameName(INT32_MIN), "FDeviceFrame_2147483648");
}
