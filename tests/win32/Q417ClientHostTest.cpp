// Pellix.exe started with Q417Client.dll and simulated selectors, driven through its pipe as a
// device API library drives it: the host takes the library's device type and name, opens only
// the Q417 selectors, and answers polls and next-state tables with the library's packets and
// result codes. Needs a display (the host's window) and runs alone (one host per device type).
#include "HexBytes.h"
#include "HostRun.h"
#include "PipeClient.h"
#include "Q417Device.h"
#include "TestSupport.h"

#include "Q417ClientCodes.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

TEST(Q417ClientInHost, PipeClientsReachTheSelectorsThroughTheLibrary) {
  const std::wstring folder = ProgramFolder();
  // Its acknowledge event, pipe and mutex are those of every Q417 host: one left by an earlier
  // test (ended if need be; that test reports it) would answer in its place.
  WaitNoHostOfType(q417::DeviceType, 30000);
  TChildProcess host(folder + L"Pellix.exe", L"\"" + folder + L"Q417Client.dll\"",
                     {{L"NVSERIAL_SIMULATED", L"5:0x01020304, 6:1:0x10, -7:0x7F000001, 300:1"}});
  ASSERT_TRUE(host.Started());
  ASSERT_TRUE(WaitForAck(L"PELLIX_ACK_Q417CLIENT.DLL", 20000));
  TPipeClient client; // keeps the host from ending while the test runs
  ASSERT_TRUE(client.Connect(L"\\\\.\\pipe\\PELLIX_PIPE_Q417", 10000)) << "the pipe is named after the library's name";

  const win32::THandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Pellix_00000417"));
  EXPECT_TRUE(mutex) << "the instance mutex of type 0x417";
  const HWND window = host.FindTopWindow(L"TPellixHostForm");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Narrow(WindowText(window)), "Pellix (Q417)");
  EXPECT_EQ(Narrow(WindowText(::GetDlgItem(window, 104))), "3") << "the selectors of type 0x417, not the one of 0x10";

  // A poll: the selectors in the host's opening order, as they start.
  TBytes reply = client.Request(1, "");
  EXPECT_EQ(Result(reply), 0);
  EXPECT_EQ(Payload(reply), HexBytes({"03 00 00 00",
                                           "05 00 00 00  04 03 02 01  00 00 00 00  00 00 00 00 00",
                                           "F9 FF FF FF  01 00 00 7F  00 00 00 00  00 00 00 00 00",
                                           "2C 01 00 00  01 00 00 00  00 00 00 00  00 00 00 00 00"}));

  // A table that sets selector 5 and asks selector 300 for two channels at once.
  const TBytes table = HexBytes({"02 00 00 00",
                                      "05 00 00 00  00 00 00 00  00 00 00 00  01 04 01 19 00",
                                      "2C 01 00 00  00 00 00 00  00 00 00 00  01 03 01 19 00"});
  const TBytes changed = HexBytes({"03 00 00 00",
                                        "05 00 00 00  04 03 02 01  00 00 00 00  01 04 01 19 00",
                                        "F9 FF FF FF  01 00 00 7F  00 00 00 00  00 00 00 00 00",
                                        "2C 01 00 00  01 00 00 00  00 00 00 00  00 00 00 00 00"});
  ASSERT_TRUE(client.Write(Frame(2, table)));
  ASSERT_EQ(client.Read(reply, 10000), TPipeClient::TRead::Message);
  EXPECT_EQ(Tag(reply), 2u);
  EXPECT_EQ(Result(reply), Q417CLIENT_SET_REFUSED);
  EXPECT_EQ(Payload(reply), changed);

  reply = client.Request(3, "");
  EXPECT_EQ(Result(reply), 0);
  EXPECT_EQ(Payload(reply), changed) << "the next poll sees the change";

  reply = client.Request(4, "xy");
  EXPECT_EQ(Result(reply), Q417CLIENT_BAD_REQUEST);
  EXPECT_TRUE(Payload(reply).empty());
}
