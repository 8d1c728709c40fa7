// The panel list's ApplyPacket for 1 to 256 devices: an unchanged set (every panel updated in
// place) and a changed set (every panel removed and a new one made for each record). The panels
// are the tests' fake panels, the real panel state behind a view that draws nothing, in the fake
// window with its log off, so the figures are the algorithm's cost and the fakes' small part (a
// new panel's view keeps copies of its id and version texts); making windows adds its own.
#include "PanelFakes.h"

#include <benchmark/benchmark.h>

using namespace q417;

namespace {

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
  fakes::TFakeWindow window;
  auto& list = window.list;
  const TBytes packet = Packet(n, 1);
  list.ApplyPacket(packet);
  for (auto _ : state) list.ApplyPacket(packet);
  state.SetComplexityN(n);
}

void Changed(benchmark::State& state) {
  const int32_t n = int32_t(state.range(0));
  fakes::TFakeWindow window;
  auto& list = window.list;
  const TBytes packets[2] = {Packet(n, 1), Packet(n, 1000)}; // no id in common
  size_t next = 0;
  for (auto _ : state) list.ApplyPacket(packets[next++ & 1]);
  state.SetComplexityN(n);
}

} // namespace

BENCHMARK(Unchanged)->RangeMultiplier(8)->Range(1, 512)->Arg(256)->Complexity();
BENCHMARK(Changed)->RangeMultiplier(8)->Range(1, 512)->Arg(256)->Complexity();

BENCHMARK_MAIN();
