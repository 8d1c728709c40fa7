// NVSerial.dll in-process with simulated selectors: opening by device type, the port names, the
// line protocol through NVSerial_Command, and references that are closed or unknown, also while
// another thread is using them.
#include "NVSerialHdr.h"
#include "Q417Device.h"
#include "WinHandles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

// Read once, at the first open of the process.
const bool kSimulated = ::SetEnvironmentVariableW(L"NVSERIAL_SIMULATED", L"3:0x01020304, 5 ; 9:1:0x10") != FALSE;

std::wstring PortName(int32_t ref, int32_t* id = nullptr) {
  wchar_t* name = nullptr;
  int32_t ignored = 0;
  if (NVSerial_DeviceMeta(ref, &name, id ? id : &ignored) != 0) return L"<error>";
  const win32::TCoTaskString owned(name);
  return owned ? owned.Get() : L"<null>";
}

std::string Command(int32_t ref, const char* command, int32_t* result = nullptr) {
  char* reply = nullptr;
  const int32_t r = NVSerial_Command(ref, command, &reply, 1000);
  if (result) *result = r;
  std::string text = reply ? reply : "";
  ::CoTaskMemFree(reply);
  return text;
}

class Devices {
public:
  ~Devices() {
    for (int32_t ref : refs) NVSerial_Close(ref);
  }
  int32_t Open(uint32_t type, int32_t* result = nullptr) {
    int32_t ref = -1;
    const int32_t r = NVSerial_OpenDevice(&ref, type, q417::BaudRate);
    if (result) *result = r;
    if (r == 0) refs.push_back(ref);
    return ref;
  }
  std::vector<int32_t> refs;
};

} // namespace

TEST(NVSerialSimulated, OpensTheDevicesOfATypeOneByOne) {
  ASSERT_TRUE(kSimulated);
  Devices devices;
  int32_t result = -1;
  const int32_t a = devices.Open(q417::DeviceType, &result);
  ASSERT_EQ(result, 0);
  const int32_t b = devices.Open(q417::DeviceType, &result);
  ASSERT_EQ(result, 0);
  devices.Open(q417::DeviceType, &result);
  EXPECT_EQ(result, ERROR_NO_MORE_ITEMS) << "both selectors of the type are open";
  EXPECT_NE(a, b);
  int32_t id = 0;
  EXPECT_EQ(PortName(a, &id), L"SIM1");
  EXPECT_EQ(id, 3);
  EXPECT_EQ(PortName(b), L"SIM2");

  const int32_t other = devices.Open(0x10, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(PortName(other), L"SIM3");

  // A closed device can be opened again, under a new reference.
  ASSERT_EQ(NVSerial_Close(a), 0);
  const int32_t again = devices.Open(q417::DeviceType, &result);
  ASSERT_EQ(result, 0);
  EXPECT_NE(again, a);
  EXPECT_EQ(PortName(again), L"SIM1");
}

TEST(NVSerialSimulated, SpeaksTheSelectorProtocol) {
  Devices devices;
  const int32_t ref = devices.Open(0x10);
  EXPECT_EQ(Command(ref, "HELLO"), "SELECTOR 00000010 9 1");
  EXPECT_EQ(Command(ref, "SET 1 16 1 250"), "STATE 9 1 0 1 16 1 250");
  NVSerial_Close(ref);
  devices.refs.clear();
  const int32_t reopened = devices.Open(0x10);
  EXPECT_EQ(Command(reopened, "GET"), "STATE 9 1 0 1 16 1 250") << "the selector keeps its state";

  const uint8_t line[] = "GET\n";
  ASSERT_EQ(NVSerial_Write(reopened, line, 4, 100), 0);
  uint8_t buffer[64];
  int32_t received = 0;
  ASSERT_EQ(NVSerial_Read(reopened, buffer, sizeof buffer, &received, 100), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size_t(received)), "STATE 9 1 0 1 16 1 250\n");
  EXPECT_EQ(NVSerial_Read(reopened, buffer, sizeof buffer, &received, 50), int32_t(WAIT_TIMEOUT));
  EXPECT_EQ(received, 0);
}

TEST(NVSerialSimulated, ClosedOrUnknownReferencesAreErrors) {
  Devices devices;
  const int32_t ref = devices.Open(q417::DeviceType);
  ASSERT_EQ(NVSerial_Close(ref), 0);
  devices.refs.clear();
  uint8_t buffer[8] = {};
  int32_t received = 7;
  wchar_t* name = reinterpret_cast<wchar_t*>(1);
  char* reply = reinterpret_cast<char*>(1);
  for (const int32_t stale : {ref, 0, -1, 123456}) {
    EXPECT_EQ(NVSerial_Close(stale), ERROR_INVALID_HANDLE) << stale;
    EXPECT_EQ(NVSerial_DeviceMeta(stale, &name, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(NVSerial_Write(stale, buffer, 1, 10), ERROR_INVALID_HANDLE);
    EXPECT_EQ(NVSerial_Read(stale, buffer, 8, &received, 10), ERROR_INVALID_HANDLE);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(NVSerial_Command(stale, "GET", &reply, 10), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reply, nullptr);
  }
  int32_t out = 0;
  EXPECT_EQ(NVSerial_OpenDevice(nullptr, q417::DeviceType, q417::BaudRate), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NVSerial_OpenDevice(&out, q417::DeviceType, 0), ERROR_INVALID_PARAMETER);
}

TEST(NVSerialSimulated, CloseWhileAnotherThreadUsesTheDevice) {
  Devices devices;
  const int32_t ref = devices.Open(q417::DeviceType);
  std::atomic<bool> closed{false};
  std::atomic<int> okAfterClose{0}, unexpected{0}, calls{0};
  std::thread user([&] {
    for (int i = 0; i < 2000; ++i) {
      const bool wasClosed = closed.load();
      int32_t result = -1;
      const std::string answer = Command(ref, "GET", &result);
      ++calls;
      if (result == 0 && answer.rfind("STATE 3 ", 0) != 0) ++unexpected;
      else if (result != 0 && result != ERROR_INVALID_HANDLE) ++unexpected;
      if (wasClosed && result == 0) ++okAfterClose;
    }
  });
  while (calls.load() < 50) ::Sleep(1); // the user is busy on the device
  EXPECT_EQ(NVSerial_Close(ref), 0);
  closed = true;
  devices.refs.clear();
  user.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(okAfterClose.load(), 0) << "a call that starts after the close sees an invalid reference";
}
