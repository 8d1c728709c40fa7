// Pellix.exe started with Q417Client.dll and simulated selectors: the host takes the library's
// device type and name and opens the Q417 selectors, and only those. Needs a display (the host's
// window) and runs alone (the host's mutex is per device type).
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(Q417ClientInHost, HostServesTheQ417DeviceType) {
  const std::wstring folder = ProgramFolder();
  TChildProcess host(folder + L"Pellix.exe", L"\"" + folder + L"Q417Client.dll\"",
                     {{L"NVSERIAL_SIMULATED", L"5, 6:1:0x10, 7, 8"}});
  ASSERT_TRUE(host.Started());
  std::string title, deviceCount;
  bool mutexSeen = false;
  // The host ends by itself soon after without a client, so everything is read while it runs.
  const bool seen = WaitFor(
      [&] {
        if (HWND w = host.FindTopWindow(L"TPellixHostForm")) {
          title = Narrow(WindowText(w));
          deviceCount = Narrow(WindowText(::GetDlgItem(w, 104))); // the device count label
        }
        const win32::THandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Pellix_00000417"));
        mutexSeen |= bool(mutex);
        return (title == "Pellix (Q417)" && deviceCount == "3" && mutexSeen) ||
               ::WaitForSingleObject(host.Handle(), 0) == WAIT_OBJECT_0;
      },
      20000, 5);
  ASSERT_TRUE(seen);
  EXPECT_EQ(title, "Pellix (Q417)");
  EXPECT_EQ(deviceCount, "3") << "the three selectors of type 0x417, not the one of type 0x10";
  EXPECT_TRUE(mutexSeen) << "the instance mutex of type 0x417";
}
