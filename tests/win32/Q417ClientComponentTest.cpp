// Q417Client.dll in-process, called as the device host calls it, over NVSerial.dll's simulated
// selectors opened here: the device type, polls byte for byte, next-state tables applied and
// refused, requests that are no table, and references that are closed or unknown.
#include "ClientLibrary.h"
#include "HexBytes.h"
#include "NVSerialHdr.h"

#include "Q417ClientCodes.h"
#include "Q417Device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using testing_support::HexBytes;

namespace {

// Read once, at the first open of the process.
const bool kSimulated = ::SetEnvironmentVariableW(L"NVSERIAL_SIMULATED", L"5:0x01020304, -7:0x7F000001, 300:1") != FALSE;

const testing_support::TClientLibrary& Client() {
  static const testing_support::TClientLibrary library(testing_support::ProgramFolder() + L"Q417Client.dll");
  return library;
}

std::string Command(int32_t ref, const char* command) {
  char* reply = nullptr;
  const int32_t result = NVSerial_Command(ref, command, &reply, 1000);
  const win32::TOwner<char*, win32::CoTaskMemTraits<char*>> owned(reply);
  return result == 0 && reply ? reply : "<error " + std::to_string(result) + ">";
}

// The three simulated selectors, opened for each test and set to known states.
class Q417Client : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(kSimulated);
    ASSERT_TRUE(Client().Bound()) << "Q417Client.dll and its two entries";
    for (int32_t& ref : {std::ref(a), std::ref(b), std::ref(c)}) ASSERT_EQ(NVSerial_OpenDevice(&ref, q417::DeviceType, q417::BaudRate), 0);
    ASSERT_EQ(Command(a, "SET 1 4 1 25"), "STATE 5 16909060 0 1 4 1 25");
    ASSERT_EQ(Command(b, "SET 2 128 0 65535"), "STATE -7 2130706433 0 2 128 0 65535");
    ASSERT_EQ(Command(c, "SET 3 16 1 1000"), "STATE 300 1 0 3 16 1 1000");
  }
  void TearDown() override {
    for (const int32_t ref : {a, b, c}) NVSerial_Close(ref);
  }

  // One call as the host makes it: the request in the caller's memory, an empty response that
  // the library fills with COM task memory.
  int32_t Update(const Bytes& request, std::vector<int32_t> refs, Bytes& response) {
    Bytes held = request;
    TPellixBytes in{held.empty() ? nullptr : held.data(), int32_t(held.size())};
    TPellixBytes out{nullptr, 0};
    const TNVSerialRefs serialRefs{refs.empty() ? nullptr : refs.data(), int32_t(refs.size())};
    void* slot = nullptr;
    const int32_t result = Client().update(&in, &out, &serialRefs, &slot);
    EXPECT_EQ(out.Data == nullptr, out.Length == 0) << "Data is NULL exactly when Length is 0";
    response.assign(out.Data, out.Data + (out.Data ? out.Length : 0));
    ::CoTaskMemFree(out.Data);
    EXPECT_EQ(held, request) << "the request is the host's: left as it was";
    return result;
  }
  Bytes Poll() {
    Bytes packet;
    EXPECT_EQ(Update({}, {a, b, c}, packet), 0);
    return packet;
  }

  int32_t a = 0, b = 0, c = 0; // ids 5, -7 and 300
};

const char* const kRecordA = "05 00 00 00  04 03 02 01  00 00 00 00  01 04 01 19 00";
const char* const kRecordB = "F9 FF FF FF  01 00 00 7F  00 00 00 00  02 80 00 FF FF";
const char* const kRecordC = "2C 01 00 00  01 00 00 00  00 00 00 00  03 10 01 E8 03";

} // namespace

TEST_F(Q417Client, MetaReportsTheQ417DeviceType) {
  uint32_t type = 0;
  wchar_t* name = nullptr;
  int32_t baud = 0;
  ASSERT_EQ(Client().meta(&type, &name, &baud), 0);
  const win32::TCoTaskString owned(name); // the host's from now on
  EXPECT_EQ(type, 0x417u);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, L"Q417");
  EXPECT_EQ(baud, 115200);
}

TEST_F(Q417Client, PollAnswersEverySelectorByteForByteInReferenceOrder) {
  Bytes packet;
  ASSERT_EQ(Update({}, {c, a, b}, packet), 0);
  EXPECT_EQ(packet, HexBytes({"03 00 00 00", kRecordC, kRecordA, kRecordB}));

  ASSERT_EQ(Update({}, {}, packet), 0);
  EXPECT_EQ(packet, HexBytes("00 00 00 00")) << "no references: the empty packet";
}

TEST_F(Q417Client, TableChangesTheSelectorsItNames) {
  const Bytes table = HexBytes({"03 00 00 00",
                                "2C 01 00 00  00 00 00 00  00 00 00 00  02 80 00 0A 00",   // 300: mode 2, channel 8, off, 1.0 ms
                                "63 00 00 00  00 00 00 00  00 00 00 00  01 01 01 01 00",   // 99: no such selector
                                "05 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 00"}); // 5: off
  const char* const newA = "05 00 00 00  04 03 02 01  00 00 00 00  00 00 00 00 00";
  const char* const newC = "2C 01 00 00  01 00 00 00  00 00 00 00  02 80 00 0A 00";
  const Bytes expected = HexBytes({"03 00 00 00", newA, kRecordB, newC});
  Bytes packet;
  ASSERT_EQ(Update(table, {a, b, c}, packet), 0);
  EXPECT_EQ(packet, expected);
  EXPECT_EQ(Poll(), expected);
  EXPECT_EQ(Command(a, "GET"), "STATE 5 16909060 0 0 0 0 0");
  EXPECT_EQ(Command(b, "GET"), "STATE -7 2130706433 0 2 128 0 65535");
  EXPECT_EQ(Command(c, "GET"), "STATE 300 1 0 2 128 0 10");
}

TEST_F(Q417Client, TableForUnknownIdsChangesNothing) {
  const Bytes before = Poll();
  Bytes packet;
  ASSERT_EQ(Update(HexBytes("01 00 00 00  06 00 00 00  00 00 00 00  00 00 00 00  03 01 01 01 00"), {a, b, c}, packet), 0);
  EXPECT_EQ(packet, before);
  EXPECT_EQ(Poll(), before);
}

TEST_F(Q417Client, RefusedSetIsReportedAndTheOthersApplied) {
  // Select 3 is two channels at once: selector 5 refuses it and keeps its state.
  const Bytes table = HexBytes({"02 00 00 00",
                                "05 00 00 00  00 00 00 00  00 00 00 00  01 03 01 19 00",
                                "F9 FF FF FF  00 00 00 00  00 00 00 00  01 01 01 00 00"});
  Bytes packet;
  EXPECT_EQ(Update(table, {a, b, c}, packet), Q417CLIENT_SET_REFUSED);
  EXPECT_EQ(packet, HexBytes({"03 00 00 00", kRecordA, "F9 FF FF FF  01 00 00 7F  00 00 00 00  01 01 01 00 00",
                              kRecordC}));
  EXPECT_EQ(Command(a, "GET"), "STATE 5 16909060 0 1 4 1 25");
  EXPECT_EQ(Command(b, "GET"), "STATE -7 2130706433 0 1 1 1 0");
}

TEST_F(Q417Client, RequestsThatAreNoTableAreRefusedUntouched) {
  const Bytes before = Poll();
  for (const char* request : {"01", "01 00", "01 00 00", "FF FF FF FF",
                              "FF FF FF FF  05 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 00"}) {
    Bytes packet{1};
    EXPECT_EQ(Update(HexBytes(request), {a, b, c}, packet), Q417CLIENT_BAD_REQUEST) << request;
    EXPECT_TRUE(packet.empty()) << request;
  }
  EXPECT_EQ(Poll(), before);

  // Calls that break the boundary's rules are refused before anything is read.
  TPellixBytes request{nullptr, 0}, response{nullptr, 0}, bad{nullptr, 4};
  const TNVSerialRefs refs{&a, 1}, badRefs{nullptr, 2};
  void* slot = nullptr;
  EXPECT_EQ(Client().update(nullptr, &response, &refs, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Client().update(&request, nullptr, &refs, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Client().update(&request, &response, nullptr, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Client().update(&bad, &response, &refs, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Client().update(&request, &response, &badRefs, &slot), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(response.Data, nullptr);
}

TEST_F(Q417Client, ClosedAndUnknownReferencesAreLeftOut) {
  ASSERT_EQ(NVSerial_Close(b), 0);
  Bytes packet;
  EXPECT_EQ(Update({}, {a, b, 999999, c}, packet), Q417CLIENT_SELECTOR_LEFT_OUT);
  EXPECT_EQ(packet, HexBytes({"02 00 00 00", kRecordA, kRecordC}));

  // A table that names the closed selector still reaches the open ones.
  const Bytes table = HexBytes({"02 00 00 00",
                                "F9 FF FF FF  00 00 00 00  00 00 00 00  01 01 01 00 00",
                                "2C 01 00 00  00 00 00 00  00 00 00 00  01 01 01 00 00"});
  EXPECT_EQ(Update(table, {a, b, c}, packet), Q417CLIENT_SELECTOR_LEFT_OUT);
  EXPECT_EQ(packet, HexBytes({"02 00 00 00", kRecordA, "2C 01 00 00  01 00 00 00  00 00 00 00  01 01 01 00 00"}));
  EXPECT_EQ(Command(c, "GET"), "STATE 300 1 0 1 1 1 0");
}
