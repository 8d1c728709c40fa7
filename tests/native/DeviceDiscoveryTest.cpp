// Discovery over fakes: a registry held in maps, a prober with a set of busy ports, and a serial
// library that opens the devices on the ports it is told about, one per call.
#include "DeviceDiscovery.h"

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <set>

using namespace pellix;

namespace {

const std::wstring Bus = FTDIBusKey;

class FakeRegistry : public IRegistryReader {
public:
  std::vector<std::wstring> busKeys;                          // subkey names of the FTDI bus
  std::map<std::wstring, std::wstring> portNames;             // bus subkey -> PortName
  std::vector<std::pair<std::wstring, std::wstring>> serialComm; // value name -> data, in order
  bool busOpens = true, serialCommOpens = true;

  void AddFTDIPort(const std::wstring& key, const std::wstring& port) {
    busKeys.push_back(key);
    portNames[key] = port;
  }
  void AddFTDIPort(const std::wstring& port) { // a matching key and a map entry for the port
    AddFTDIPort(L"VID_0403+PID_FAA8+FT" + port + L"A", port);
    serialComm.emplace_back(L"\\Device\\VCP" + port, port);
  }
  void RemovePort(const std::wstring& port) {
    std::erase_if(serialComm, [&](const auto& v) { return v.second == port; });
  }

  bool SubKeyNames(const std::wstring& path, std::vector<std::wstring>& names) override {
    if (path != Bus || !busOpens) return false;
    names = busKeys;
    return true;
  }
  bool ValueNames(const std::wstring& path, std::vector<std::wstring>& names) override {
    if (path != SerialCommKey || !serialCommOpens) return false;
    names.clear();
    for (const auto& v : serialComm) names.push_back(v.first);
    return true;
  }
  bool ReadString(const std::wstring& path, const std::wstring& value, std::wstring& data) override {
    if (path == SerialCommKey) {
      for (const auto& v : serialComm)
        if (v.first == value) return data = v.second, true;
      return false;
    }
    for (const auto& [key, port] : portNames)
      if (path == Bus + L"\\" + key + FTDIPortKeySuffix && value == FTDIPortValue) return data = port, true;
    return false;
  }
};

class FakeProber : public IPortProber {
public:
  std::set<std::wstring> busy;
  std::vector<std::wstring> probed;
  bool CanOpenExclusively(const std::wstring& path) override {
    probed.push_back(path);
    return busy.count(path) == 0;
  }
};

class FakeSerial : public ISerialLibrary {
public:
  std::vector<std::wstring> waiting; // ports with a device that the next opens find, in order
  std::map<int32_t, std::wstring> open;
  std::vector<int32_t> closed;
  int openCalls = 0;
  int32_t nextRef = 100;
  uint32_t lastType = 0;
  int32_t lastBaud = 0;

  int32_t OpenDevice(int32_t& ref, uint32_t type, int32_t baud) override {
    ++openCalls;
    lastType = type;
    lastBaud = baud;
    if (waiting.empty()) return 259;
    ref = nextRef++;
    open[ref] = waiting.front();
    waiting.erase(waiting.begin());
    return 0;
  }
  int32_t failNameOf = -1; // naming this reference fails as an allocation does
  std::wstring DevicePortName(int32_t ref) override {
    if (ref == failNameOf) throw std::bad_alloc();
    return open.at(ref);
  }
  void Close(int32_t ref) override {
    closed.push_back(ref);
    open.erase(ref);
  }
};

class FakeOwner : public IDiscoveryOwner {
public:
  std::vector<size_t> counts;
  std::vector<std::vector<int32_t>> handovers;
  void ShowDeviceCount(size_t n) override { counts.push_back(n); }
  void UpdateSerialRefs(const std::vector<int32_t>& refs) override { handovers.push_back(refs); }
};

struct DiscoveryFixture : ::testing::Test {
  FakeRegistry registry;
  FakeProber prober;
  FakeSerial serial;
  FakeOwner owner;
  TDeviceDiscovery discovery{0x417, registry, prober, serial, owner};

  std::vector<std::wstring> UnclaimedPorts() const {
    std::vector<std::wstring> out;
    for (const auto& d : discovery.DevUnkownList()) out.push_back(d.SERPORT);
    return out;
  }
};

using Names = std::vector<std::wstring>;

} // namespace

TEST(ParseFTDIKeyName, Cases) {
  struct Case {
    const wchar_t* key;
    bool matches;
    const wchar_t* serial;
  };
  const Case cases[] = {
      {L"VID_0403+PID_FAA8+FT12345A", true, L"FT12345"},
      {L"vid_0403+pid_faa8+ft12345a", true, L"FT12345"},
      {L"PID_FAA8+VID_0403+X1A", true, L"X1"},
      {L"  VID_0403+PID_FAA8+ AB\t", true, L"A"}, // trimmed before and after the cuts
      {L"VID_0403+PID_FAA8+A", false, L""},
      {L"VID_0403+PID_FAA8+", false, L""},
      {L"VID_0403+PID_6001+FT12345A", false, L""},
      {L"VID_0404+PID_FAA8+FT12345A", false, L""},
      {L"VID_0403PID_FAA8+FT12345A", false, L""},
      {L"", false, L""},
  };
  for (const Case& c : cases) {
    std::wstring serial = L"stale";
    EXPECT_EQ(ParseFTDIKeyName(c.key, FTDIVendorId, FTDIProductId, serial), c.matches) << std::wstring(c.key).size();
    EXPECT_EQ(serial, c.serial);
  }
  std::wstring serial;
  EXPECT_TRUE(ParseFTDIKeyName(L"VID_12345+PID_0001+SN9Z", 0x12345, 1, serial)) << "at least four digits";
  EXPECT_EQ(serial, L"SN9");
}

TEST_F(DiscoveryFixture, BusScanTakesMatchingKeysWithAPortName) {
  registry.AddFTDIPort(L"VID_0403+PID_FAA8+FT1A", L" com7 ");
  registry.AddFTDIPort(L"VID_0403+PID_6001+FT2A", L"COM8");
  registry.busKeys.push_back(L"VID_0403+PID_FAA8+FT3A"); // no "0000\Device Parameters"
  registry.AddFTDIPort(L"PID_FAA8+VID_0403+FT4A", L"COM9");
  EXPECT_EQ(discovery.ScanFTDIBus(), 2);
  ASSERT_EQ(discovery.DevFTDIList().size(), 2u);
  EXPECT_EQ(discovery.DevFTDIList()[0].SERPORT, L"\\\\.\\COM7");
  EXPECT_EQ(discovery.DevFTDIList()[0].FTDISN, L"FT1");
  EXPECT_EQ(discovery.DevFTDIList()[1].SERPORT, L"\\\\.\\COM9");
  EXPECT_TRUE(discovery.IsFTDIPort(L"\\\\.\\COM9"));
  EXPECT_FALSE(discovery.IsFTDIPort(L"\\\\.\\com9")) << "exact comparison";

  registry.busOpens = false;
  EXPECT_EQ(discovery.ScanFTDIBus(), 0);
  EXPECT_TRUE(discovery.DevFTDIList().empty());
}

TEST_F(DiscoveryFixture, SerialPortScanCollectsFreeFTDIPortsLastValueFirst) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"com4");
  registry.AddFTDIPort(L"COM5");
  registry.serialComm.emplace_back(L"\\Device\\Serial0", L"COM1"); // not an FTDI port
  prober.busy = {L"\\\\.\\COM5"};
  discovery.ScanFTDIBus();
  Names list{L"old"};
  EXPECT_EQ(discovery.ScanSerialComm(list), 2);
  EXPECT_EQ(list, (Names{L"com4", L"COM3"})) << "data unchanged, from the last value to the first";
  EXPECT_EQ(UnclaimedPorts(), (Names{L"\\\\.\\COM4", L"\\\\.\\COM3"}));
  EXPECT_EQ(discovery.DevUnkownList()[0].TMR, 20000);
  EXPECT_TRUE(discovery.DevUnkownList()[0].FTDISN.empty());
  EXPECT_EQ(prober.probed, (Names{L"\\\\.\\COM5", L"\\\\.\\COM4", L"\\\\.\\COM3"})) << "COM1 is never probed";

  registry.serialCommOpens = false;
  EXPECT_EQ(discovery.ScanSerialComm(list), 0);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(discovery.DevUnkownList().empty());
}

TEST_F(DiscoveryFixture, FirstDiscoveryOpensEveryDeviceAndClaimsItsPort) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"COM4");
  serial.waiting = {L"COM4", L"COM3"};
  discovery.FirstDiscovery();
  EXPECT_EQ(discovery.CommList(), (Names{L"COM4", L"COM3"}));
  EXPECT_EQ(discovery.refSerial(), (std::vector<int32_t>{100, 101}));
  EXPECT_EQ(discovery.DevCommList(), (Names{L"COM4", L"COM3"}));
  EXPECT_TRUE(discovery.DevUnkownList().empty());
  EXPECT_EQ(serial.openCalls, 3) << "until the library has no more";
  EXPECT_EQ(serial.lastType, 0x417u);
  EXPECT_EQ(serial.lastBaud, 115200);
  EXPECT_EQ(owner.counts, std::vector<size_t>{2});
  EXPECT_TRUE(owner.handovers.empty()) << "the first list goes to the listener when it is created";
}

TEST_F(DiscoveryFixture, ADeviceThatCannotBeListedIsClosedAndTheListsStayInStep) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"COM4");
  serial.waiting = {L"COM3", L"COM4"};
  serial.failNameOf = 101;
  EXPECT_THROW(discovery.FirstDiscovery(), std::bad_alloc);
  EXPECT_EQ(serial.closed, std::vector<int32_t>{101});
  EXPECT_EQ(discovery.refSerial(), std::vector<int32_t>{100});
  EXPECT_EQ(discovery.DevCommList(), Names{L"COM3"});

  // A later rescan finds the port again; the vanished-device check reads both lists together.
  serial.failNameOf = -1;
  serial.waiting = {L"COM4"};
  discovery.RescanDevices();
  EXPECT_EQ(discovery.refSerial(), (std::vector<int32_t>{100, 102}));
  EXPECT_EQ(discovery.DevCommList(), (Names{L"COM3", L"COM4"}));
}

TEST_F(DiscoveryFixture, DropUnknownPortRemovesOnlyTheFirstMatch) {
  registry.AddFTDIPort(L"COM3");
  registry.serialComm.emplace_back(L"\\Device\\Dup", L"COM3");
  registry.AddFTDIPort(L"COM4");
  discovery.FirstDiscovery();
  ASSERT_EQ(UnclaimedPorts(), (Names{L"\\\\.\\COM4", L"\\\\.\\COM3", L"\\\\.\\COM3"}));
  EXPECT_TRUE(discovery.DropUnknownPort(L" com3"));
  EXPECT_EQ(UnclaimedPorts(), (Names{L"\\\\.\\COM4", L"\\\\.\\COM3"}));
  EXPECT_TRUE(discovery.DropUnknownPort(L"COM9"));
  EXPECT_EQ(UnclaimedPorts().size(), 2u);
  discovery.DropUnknownPort(L"COM3");
  EXPECT_FALSE(discovery.DropUnknownPort(L"COM4"));
}

TEST_F(DiscoveryFixture, RescanClosesVanishedDevicesAndHandsOverEveryTime) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"COM4");
  registry.AddFTDIPort(L"COM5");
  serial.waiting = {L"COM3", L"COM4", L"COM5"};
  discovery.FirstDiscovery();

  registry.RemovePort(L"COM4");
  discovery.DeviceChange(DBT_DEVNODES_CHANGED_Value);
  EXPECT_EQ(serial.closed, std::vector<int32_t>{101});
  EXPECT_EQ(discovery.refSerial(), (std::vector<int32_t>{100, 102}));
  EXPECT_EQ(discovery.DevCommList(), (Names{L"COM3", L"COM5"}));
  ASSERT_EQ(owner.handovers.size(), 1u);
  EXPECT_EQ(owner.handovers[0], (std::vector<int32_t>{100, 102}));
  EXPECT_EQ(owner.counts.back(), 2u);

  discovery.DeviceChange(DBT_DEVNODES_CHANGED_Value);
  EXPECT_EQ(owner.handovers.size(), 2u) << "handed over whether or not anything changed";
  for (const uint32_t other : {0x8000u, 0x8004u, 0x18u})
    discovery.DeviceChange(other); // arrival, removal and others are ignored
  EXPECT_EQ(owner.handovers.size(), 2u);
  EXPECT_EQ(serial.closed.size(), 1u);
}

TEST_F(DiscoveryFixture, RescanKeepsDevicesByCaseInsensitiveNameButNotWithBlanks) {
  registry.AddFTDIPort(L"VID_0403+PID_FAA8+A1X", L"com7");
  registry.serialComm.emplace_back(L"v7", L"com7");
  registry.AddFTDIPort(L"VID_0403+PID_FAA8+A2X", L"COM8");
  registry.serialComm.emplace_back(L"v8", L" COM8 ");
  serial.waiting = {L"COM7", L"COM8"};
  discovery.FirstDiscovery();
  EXPECT_TRUE(discovery.DevUnkownList().empty()) << "blanks are trimmed for the device path";

  discovery.RescanDevices();
  EXPECT_EQ(discovery.DevCommList(), Names{L"COM7"}) << "the collected name ' COM8 ' keeps its blanks";
  EXPECT_EQ(serial.closed, std::vector<int32_t>{101});
}

TEST_F(DiscoveryFixture, APortHeldElsewhereClosesItsDeviceAndTheSameRescanMayReopenIt) {
  // On Windows the serial library's own open handle makes the exclusive probe fail. Wine does
  // not enforce exclusive opens of COM ports, so this rule can be shown only here.
  registry.AddFTDIPort(L"COM3");
  serial.waiting = {L"COM3"};
  discovery.FirstDiscovery();
  prober.busy = {L"\\\\.\\COM3"};
  serial.waiting = {L"COM3"};
  discovery.RescanDevices();
  EXPECT_EQ(serial.closed, std::vector<int32_t>{100});
  EXPECT_EQ(discovery.refSerial(), std::vector<int32_t>{101});
  EXPECT_TRUE(discovery.DevUnkownList().empty());
}

TEST_F(DiscoveryFixture, EmptyRegistryOnRescanClosesEverything) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"COM4");
  serial.waiting = {L"COM3", L"COM4"};
  discovery.FirstDiscovery();
  registry.serialCommOpens = false;
  discovery.RescanDevices();
  EXPECT_EQ(serial.closed, (std::vector<int32_t>{101, 100})) << "closed from the last to the first";
  EXPECT_TRUE(discovery.refSerial().empty());
  EXPECT_TRUE(discovery.DevCommList().empty());
  EXPECT_EQ(owner.counts.back(), 0u);
}

TEST_F(DiscoveryFixture, DiscoverTimerRetriesAnUnclaimedPortForTenTicks) {
  registry.AddFTDIPort(L"COM3");
  discovery.FirstDiscovery(); // listed and free, but no device answers yet
  ASSERT_EQ(UnclaimedPorts().size(), 1u);
  const int callsAfterScan = serial.openCalls;
  for (int tick = 1; tick <= 9; ++tick) {
    discovery.DiscoverTimerTick();
    ASSERT_EQ(UnclaimedPorts().size(), 1u) << tick;
    EXPECT_EQ(discovery.DevUnkownList()[0].TMR, 20000 - 2000 * tick);
  }
  discovery.DiscoverTimerTick();
  EXPECT_TRUE(UnclaimedPorts().empty()) << "dropped on the tenth tick";
  EXPECT_EQ(serial.openCalls, callsAfterScan + 10);
  discovery.DiscoverTimerTick();
  EXPECT_EQ(serial.openCalls, callsAfterScan + 10) << "no unclaimed port: the timer calls nothing";
  EXPECT_TRUE(owner.handovers.empty());
}

TEST_F(DiscoveryFixture, DiscoverTimerHandsOverOnlyWhenAPortIsClaimed) {
  registry.AddFTDIPort(L"COM3");
  registry.AddFTDIPort(L"COM4");
  discovery.FirstDiscovery();
  ASSERT_EQ(UnclaimedPorts().size(), 2u);

  serial.waiting = {L"COM9"}; // a device on a port without an unclaimed entry
  discovery.DiscoverTimerTick();
  EXPECT_EQ(discovery.refSerial().size(), 1u);
  EXPECT_EQ(owner.counts.back(), 1u);
  EXPECT_TRUE(owner.handovers.empty()) << "the unclaimed list kept its length";

  serial.waiting = {L"COM3"};
  discovery.DiscoverTimerTick();
  ASSERT_EQ(owner.handovers.size(), 1u);
  EXPECT_EQ(owner.handovers[0], (std::vector<int32_t>{100, 101}));
  EXPECT_EQ(UnclaimedPorts(), Names{L"\\\\.\\COM4"});
  EXPECT_EQ(discovery.DevUnkownList()[0].TMR, 20000 - 2 * 2000) << "claimed before the countdown of that tick";
}

TEST_F(DiscoveryFixture, CountdownFollowsTheGivenPeriod) {
  TDeviceDiscovery fast(0x417, registry, prober, serial, owner, 7000);
  registry.AddFTDIPort(L"COM3");
  fast.FirstDiscovery();
  fast.DiscoverTimerTick();
  fast.DiscoverTimerTick();
  EXPECT_EQ(fast.DevUnkownList().at(0).TMR, 6000);
  fast.DiscoverTimerTick();
  EXPECT_TRUE(fast.DevUnkownList().empty());
}
