// The SDK's example client library, called as the device host calls it: its device type, the
// reversed request, and the call counter it keeps in the pointer slot. Loads the copy built in
// this tree, or the one named by Q417_EXAMPLE_CLIENT (the standalone build against an installed
// SDK, see sdk_standalone_example.sh).
#include "ClientLibrary.h"
#include "Environment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::wstring ExamplePath() {
  const std::wstring path = win32::EnvironmentVariable(L"Q417_EXAMPLE_CLIENT");
  return path.empty() ? testing_support::ProgramFolder() + L"ExampleClient.dll" : path;
}

} // namespace

TEST(SdkExampleClient, AnswersEachRequestReversedAndCountsItsCalls) {
  const testing_support::TClientLibrary client(ExamplePath());
  ASSERT_TRUE(client.Bound());

  uint32_t type = 0;
  wchar_t* name = nullptr;
  int32_t baud = 0;
  ASSERT_EQ(client.meta(&type, &name, &baud), 0);
  const win32::TCoTaskString owned(name);
  EXPECT_EQ(type, 0xE001u);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, L"EXAMPLE");

  void* slot = nullptr;
  int32_t refData[] = {4, 9};
  const TNVSerialRefs refs{refData, 2};
  for (const std::vector<uint8_t>& request : {std::vector<uint8_t>{1, 2, 3, 250}, std::vector<uint8_t>{},
                                              std::vector<uint8_t>{7}}) {
    std::vector<uint8_t> held = request;
    TPellixBytes in{held.empty() ? nullptr : held.data(), int32_t(held.size())};
    TPellixBytes out{nullptr, 0};
    ASSERT_EQ(client.update(&in, &out, &refs, &slot), 0);
    const std::vector<uint8_t> answer(out.Data, out.Data + out.Length);
    ::CoTaskMemFree(out.Data);
    EXPECT_EQ(answer, std::vector<uint8_t>(request.rbegin(), request.rend()));
    EXPECT_EQ(held, request);
  }
  EXPECT_EQ(reinterpret_cast<uintptr_t>(slot), 3u) << "one count per call";

  TPellixBytes bad{nullptr, 3}, out{nullptr, 0};
  EXPECT_EQ(client.update(&bad, &out, &refs, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(out.Data, nullptr);
}
