#include "DeviceFrameList.h"

#include "DevicePanelState.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace q417;

namespace {

class NullView : public IDevicePanelView {
public:
  double field = 0;
  void StateChanged() override {}
  void ShowIdentity(const std::string&, const std::string&) override {}
  void SetDelayField(double ms) override { field = ms; }
  double DelayFieldValue() override { return field; }
  void ReturnFocusToOwner() override {}
};

struct Host;

// A panel made of the real panel state, as the window makes it.
class Frame : public IDeviceFrame {
public:
  Frame(Host& host, int32_t id, int32_t version);
  ~Frame() override;
  int32_t DeviceID() const override { return state.DeviceID(); }
  void SetDeviceState(const TQ417DeviceState& s) override { state.SetDeviceState(s); }
  void GetDeviceState(TQ417DeviceState& s) override { state.GetDeviceState(s); }
  void SelectDevice(const IDeviceFrame* sender) override {
    state.SelectDevice(sender == this ? &state : nullptr);
  }
  void OnKeyPress(char16_t& key) override;

  Host& host;
  NullView view;
  TDevicePanelState state{view};
  int32_t version;
};

struct Host : IDeviceFrameHost {
  std::vector<std::string> log; // "create 5", "destroy 3", "size 3", "stack 3 5 9", "key 3"
  int32_t failOn = INT32_MIN;
  TDeviceFrameList list{*this};

  std::unique_ptr<IDeviceFrame> CreateDeviceFrame(int32_t id, int32_t version) override {
    if (id == failOn) throw std::runtime_error("cannot create the panel");
    log.push_back("create " + std::to_string(id));
    return std::make_unique<Frame>(*this, id, version);
  }
  void SizeWindow(size_t n) override { log.push_back("size " + std::to_string(n)); }
  void StackFrames(const std::vector<IDeviceFrame*>& order) override {
    std::string s = "stack";
    for (auto* f : order) s += " " + std::to_string(f->DeviceID());
    log.push_back(s);
  }
  Frame& At(size_t i) { return static_cast<Frame&>(list.Frame(i)); }
};

Frame::Frame(Host& h, int32_t id, int32_t v) : host(h), version(v) {
  state.OnCreate(id, v);
  state.OnSelect = [this](TDevicePanelState&) { host.list.DeviceFrameSelect(this); };
}
Frame::~Frame() { host.log.push_back("destroy " + std::to_string(DeviceID())); }
void Frame::OnKeyPress(char16_t& key) {
  host.log.push_back("key " + std::to_string(DeviceID()));
  state.OnKeyPress(key);
}

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

  host.At(1).state.SelectDevice(&host.At(1).state); // panel 5 selected and editing
  host.At(1).state.edDELAYEnter();
  host.log.clear();
  host.list.ApplyPacket(Packet({{5, 2}, {9, 2}}));
  EXPECT_EQ(host.log, (std::vector<std::string>{"destroy 3", "size 2", "stack 5 9"}));
  EXPECT_TRUE(host.At(0).state.Selected());
  EXPECT_TRUE(host.At(0).state.Editing());
  EXPECT_EQ(host.At(0).state.Mode(), 2);
  EXPECT_EQ(ClientHeightFor(2, 182, 193, 19), 383);

  host.log.clear();
  host.list.ApplyPacket(Packet({{9, 3}, {5, 3}}));
  EXPECT_TRUE(host.log.empty()) << "the same set changes no size and no order";
  EXPECT_EQ(host.At(0).DeviceID(), 5);
  EXPECT_EQ(host.At(1).state.Mode(), 3);

  host.list.ApplyPacket(EmptyPacket());
  EXPECT_EQ(host.log, (std::vector<std::string>{"destroy 9", "destroy 5", "size 0", "stack"}));
  EXPECT_EQ(ClientHeightFor(0, 182, 193, 19), 212);
}

TEST(DeviceFrameList, ARemovedDeviceComesBackAsANewPanel) {
  Host host;
  host.list.ApplyPacket(Packet({{4, 1}}));
  host.At(0).state.SelectDevice(&host.At(0).state);
  host.list.ApplyPacket(Packet({}));
  host.list.ApplyPacket(Packet({{4, 1}}));
  EXPECT_FALSE(host.At(0).state.Selected());
}

TEST(DeviceFrameList, DuplicateIdsYieldOnePanelWithTheLaterState) {
  Host host;
  host.list.ApplyPacket(Packet({{7, 1}, {7, 3}}));
  ASSERT_EQ(host.list.Count(), 1u);
  EXPECT_EQ(host.At(0).state.Mode(), 3);
  EXPECT_EQ(host.At(0).version, 700) << "the version comes from the record that created it";
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
  EXPECT_EQ(host.At(0).state.Mode(), 3) << "panels handled before the error keep their new state";
  EXPECT_TRUE(host.log.empty()) << "no sizing, no stacking";
}

TEST(DeviceFrameList, KeysStopAtThePanelThatUsesThem) {
  Host host;
  host.list.ApplyPacket(Packet({{9, 1}, {3, 1}, {5, 1}}));
  host.At(1).state.SelectDevice(&host.At(1).state);
  host.log.clear();
  char16_t key = u'4';
  host.list.FormKeyPress(key);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(host.log, (std::vector<std::string>{"key 3", "key 5"}));
  EXPECT_EQ(host.At(1).state.Channel(), 8);

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
  three.state.edDELAYEnter(); // 3 asks for selection and edits its delay
  ASSERT_TRUE(three.state.Selected());
  std::vector<std::string> order;
  nine.state.OnChange = [&](TDevicePanelState&, int32_t) { order.push_back(three.state.Selected() ? "change while 3 selected" : "change late"); };
  nine.state.JvShape9Click();
  EXPECT_EQ(order, std::vector<std::string>{"change while 3 selected"}) << "the change is sent before the selection";
  EXPECT_TRUE(nine.state.Selected());
  EXPECT_FALSE(three.state.Selected());
  EXPECT_FALSE(three.state.Editing());
}

TEST(DeviceFrameList, NamesAreIdentifiers) {
  EXPECT_EQ(DeviceFrameName(7), "FDeviceFrame7");
  EXPECT_EQ(DeviceFrameName(0), "FDeviceFrame0");
  EXPECT_EQ(DeviceFrameName(-7), "FDeviceFrame_7");
  EXPECT_EQ(DeviceFrameName(INT32_MIN), "FDeviceFrame_2147483648");
}
