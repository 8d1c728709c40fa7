// How much a poll through Q417Client.dll costs beyond the serial library's own calls: polls of
// three simulated selectors through the update entry, measured side by side with the same
// number of GET exchanges made directly through NVSerial_Command. Run by hand under Wine:
//   wine build/windows/testbin/q417client_bench.exe
#include "ClientLibrary.h"
#include "NVSerialHdr.h"
#include "Q417Device.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int main() {
  ::SetEnvironmentVariableW(L"NVSERIAL_SIMULATED", L"5, 6, 7");
  const testing_support::TClientLibrary client(testing_support::ProgramFolder() + L"Q417Client.dll");
  std::vector<int32_t> refs(3);
  for (int32_t& ref : refs)
    if (NVSerial_OpenDevice(&ref, q417::DeviceType, q417::BaudRate) != 0) return std::puts("no simulated selectors"), 1;
  if (!client.Bound()) return std::puts("Q417Client.dll is not beside the program"), 1;

  const TNVSerialRefs serialRefs{refs.data(), int32_t(refs.size())};
  void* slot = nullptr;
  auto poll = [&] {
    TPellixBytes request{nullptr, 0}, response{nullptr, 0};
    const int32_t result = client.update(&request, &response, &serialRefs, &slot);
    ::CoTaskMemFree(response.Data);
    return result == 0 && response.Length == 4 + 3 * 17;
  };
  auto gets = [&] {
    bool ok = true;
    for (const int32_t ref : refs) {
      char* reply = nullptr;
      ok = NVSerial_Command(ref, "GET", &reply, 200) == 0 && ok;
      ::CoTaskMemFree(reply);
    }
    return ok;
  };

  constexpr int Rounds = 5, Calls = 2000;
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < Rounds; ++round) {
    bool ok = true;
    LARGE_INTEGER t0, t1, t2;
    ::QueryPerformanceCounter(&t0);
    for (int i = 0; i < Calls; ++i) ok = poll() && ok;
    ::QueryPerformanceCounter(&t1);
    for (int i = 0; i < Calls; ++i) ok = gets() && ok;
    ::QueryPerformanceCounter(&t2);
    if (!ok) return std::puts("a call failed"), 1;
    best[0] = std::min(best[0], Seconds(t0, t1) / Calls);
    best[1] = std::min(best[1], Seconds(t1, t2) / Calls);
  }
  std::printf("poll of 3 selectors through Q417Client.dll: %8.2f us\n", best[0] * 1e6);
  std::printf("3 GET exchanges through NVSerial_Command:    %8.2f us\n", best[1] * 1e6);
  std::printf("the library's own work per poll:            %8.2f us (ratio %.2f)\n", (best[0] - best[1]) * 1e6,
              best[0] / best[1]);
  for (const int32_t ref : refs) NVSerial_Close(ref);
  return 0;
}
