// The panel list's ApplyPacket for 1 to 256 devices: an unchanged set (every panel updated in
// place) and a changed set (every panel removed and a new one made for each record). The panels
// are the real panel state behind a view that draws nothing, so the figures are the algorithm's
// cost; making windows adds its own.
#include "DeviceFrameList.h"
#include "DevicePanelState.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace q417;

namespace {

class TQuietView : public IDevicePanelView {
public:
  void StateChanged() override {}
  void ShowIdentity(const std::string&, const std::string&) override {}
  void SetDelayField(double) override {}
  double DelayFieldValue() override { return 0; }
  void ReturnFocusToOwner() override {}
};

class TFrame : public IDeviceFrame {
public:
  TFrame(int32_t id, int32_t version) { state.OnCreate(id, version); }
  int32_t DeviceID() const override { return state.DeviceID(); }
  void SetDeviceState(const TQ417DeviceState& s) override { state.SetDeviceState(s); }
  void GetDeviceState(TQ417DeviceState& s) override { state.GetDeviceState(s); }
  void SelectDevice(const IDeviceFrame* sender) override { state.SelectDevice(sender == this ? &state : nullptr); }
  void OnKeyPress(char16_t& key) override { state.OnKeyPress(key); }

private:
  TQuietView view;
  TDevicePanelState state{view};
};

class TWindow : public IDeviceFrameHost {
public:
  std::unique_ptr<IDeviceFrame> CreateDeviceFrame(int32_t id, int32_t version) override {
    return std::make_unique<TFrame>(id, version);
  }
  void SizeWindow(size_t) override {}
  void StackFrames(const std::vector<IDeviceFrame*>&) override {}
};

// n devices with ids first, first + 1, ... in reverse order, so that the list has to sort them.
TBytes Packet(int32_t n, int32_t first) {
  TBytes packet;
  BuildNextStateTable(packet, n, [&](int32_t i, TQ417DeviceState& r) {
    r.Q417_DeviceID = first + n - 1 - i;
    r.Q417_VersionID = 0x01020304;
    r.Q417_State = {1, uint8_t(1 << (i % 8)), 1, 25};
  });
  return packet;
}

void Unchanged(benchmark::State& state) {
  const int32_t n = int32_t(state.range(0));
  TWindow window;
  TDeviceFrameList list(window);
  const TBytes packet = Packet(n, 1);
  list.ApplyPacket(packet);
  for (auto _ : state) list.ApplyPacket(packet);
  state.SetComplexityN(n);
}

void Changed(benchmark::State& state) {
  const int32_t n = int32_t(state.range(0));
  TWindow window;
  TDeviceFrameList list(window);
  const TBytes packets[2] = {Packet(n, 1), Packet(n, 1000)}; // no id in common
  size_t next = 0;
  for (auto _ : state) list.ApplyPacket(packets[next++ & 1]);
  state.SetComplexityN(n);
}

} // namespace

BENCHMARK(Unchanged)->RangeMultiplier(8)->Range(1, 512)->Arg(256)->Complexity();
BENCHMARK(Changed)->RangeMultiplier(8)->Range(1, 512)->Arg(256)->Complexity();

BENCHMARK_MAIN();
