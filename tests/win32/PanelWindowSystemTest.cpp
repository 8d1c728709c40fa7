// The control panel's device panels driven from outside: the panels follow the packets, clicks
// at the places of tiles, lamps and captions and typed keys become next-state tables, the delay
// field's OK and Cancel. The test double answers every table with the state it makes.
#include "PanelDriver.h"
#include "PanelRun.h"
#include "WinClipboard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace testing_support;
using namespace panel_driver;

namespace {

std::string Script(const std::vector<TSelector>& selectors) {
  return "init 997 now 0\nstate " + PacketHex(selectors) + "\npoll 997 after:40 state\ntable 997 thread state\n";
}

std::vector<std::wstring> Names(HWND main) {
  std::vector<std::wstring> names;
  for (HWND p : DevicePanels(main)) names.push_back(ObjectName(p));
  return names;
}

bool FillerShown(HWND main) {
  HWND filler = ::FindWindowExW(main, nullptr, L"TQ417Filler", nullptr);
  return filler && ::IsWindowVisible(filler);
}

std::wstring Text(HWND window) { return WindowText(window); }

bool PutOnClipboard(const std::wstring& text) {
  const win32::TClipboard clipboard(nullptr);
  if (!clipboard) return false;
  ::EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  win32::TGlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
  {
    const win32::TGlobalLock<wchar_t> copy(memory.Get());
    if (!copy.Get()) return false;
    std::memcpy(copy.Get(), text.c_str(), bytes);
  }
  if (::SetClipboardData(CF_UNICODETEXT, memory.Get()) == nullptr) return false;
  memory.Release(); // the clipboard's now
  return true;
}

// The worked selector: id 5, version 1.2.3.4, mode 1, channel 3, indicator on, 2.5 ms.
const TSelector kFive{5, 0x01020304, 1, 0x04, 1, 25};

} // namespace

TEST(PanelWindowSystem, PanelsFollowThePacketsInIdOrderAndTheWindowFits) {
  const std::string first = UniqueName("first"), second = UniqueName("second"), third = UniqueName("third");
  const TSelector nine{9, 1, 1, 0, 0, 0}, three{3, 1, 2, 0, 0, 0}, five{5, 1, 3, 0, 0, 0};
  TPanelRun panel("init 997 now 0\npoll 997 event:" + first + " " + PacketHex({nine, three, five}) + "\npoll 997 event:" +
                  second + " " + PacketHex({five, nine}) + "\npoll 997 event:" + third + " 00000000\npoll 997 never\n");
  ASSERT_TRUE(panel.Ready());
  // The first packet waits for the test: the size is read before it can have come.
  EXPECT_EQ(ClientSize(panel.Main()).cy, 219) << "the design size until the first packet";
  SetNamedEvent(first);
  // The window is read from another process while it updates: wait for the whole picture.
  auto shows = [&](const std::vector<std::wstring>& names, long height, bool filler) {
    return WaitFor([&] {
      return Names(panel.Main()) == names && ClientSize(panel.Main()).cy == height && FillerShown(panel.Main()) == filler;
    }, 10000);
  };
  ASSERT_TRUE(shows({L"FDeviceFrame3", L"FDeviceFrame5", L"FDeviceFrame9"}, 565, false))
      << ClientSize(panel.Main()).cy << " " << DevicePanels(panel.Main()).size();
  for (HWND p : DevicePanels(panel.Main())) EXPECT_EQ(ClientSize(p).cx, ClientSize(panel.Main()).cx) << "full width";

  SetNamedEvent(second);
  ASSERT_TRUE(shows({L"FDeviceFrame5", L"FDeviceFrame9"}, 383, false)) << ClientSize(panel.Main()).cy;

  SetNamedEvent(third);
  ASSERT_TRUE(shows({}, 212, true)) << ClientSize(panel.Main()).cy;
  EXPECT_EQ(Narrow(Text(::FindWindowExW(::FindWindowExW(panel.Main(), nullptr, L"TQ417Filler", nullptr), nullptr, L"Static", nullptr))),
            "Waiting ...");
}

TEST(PanelWindowSystem, NegativeIdsGetANamedPanel) {
  TPanelRun panel("init 997 now 0\npoll 997 after:40 " + PacketHex({{-4, 1, 1, 0, 0, 0}, {2, 1, 1, 0, 0, 0}}) + "\n");
  ASSERT_TRUE(panel.Ready());
  ASSERT_TRUE(WaitFor([&] { return Names(panel.Main()) == std::vector<std::wstring>{L"FDeviceFrame_4", L"FDeviceFrame2"}; }, 10000));
  EXPECT_EQ(panel.Status(), "API library Initialised.");
}

TEST(PanelWindowSystem, ClicksOnTilesLampsAndCaptionsSendTheWholeState) {
  TPanelRun panel(Script({kFive}));
  ASSERT_TRUE(panel.Ready());
  HWND five = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (five = DevicePanel(panel.Main(), L"FDeviceFrame5")) != nullptr; }, 10000));

  const struct { const char* what; POINT at; TSelector sent; } clicks[] = {
      {"channel 5 tile (the worked example)", ChannelTile(5), {5, 0, 1, 0x10, 1, 25}},
      {"channel 5 lamp clears it", ChannelLamp(5), {5, 0, 1, 0x00, 1, 25}},
      {"channel 5 caption sets it again", ChannelCaption(5), {5, 0, 1, 0x10, 1, 25}},
      {"mode 0 bar keeps the lit channel", ModeBar(0), {5, 0, 0, 0x10, 1, 25}},
      {"indicator after the device's mode-0 answer", IndicatorTile(), {5, 0, 0, 0x00, 0, 25}},
      {"mode 2 picture", ModePicture(2), {5, 0, 2, 0x00, 0, 25}},
      {"mode 1 tile", ModeTile(1), {5, 0, 1, 0x00, 0, 25}},
  };
  size_t sent = 0;
  for (const auto& c : clicks) {
    SCOPED_TRACE(c.what);
    Click(five, c.at);
    EXPECT_EQ(panel.WaitTable(sent), PacketHex({c.sent}, true));
    ++sent;
    ASSERT_TRUE(panel.WaitAnswerApplied());
  }
  // The header reacts to nothing; a channel click in mode 1 then shows that nothing was sent.
  Click(five, Background());
  Click(five, ChannelTile(2));
  EXPECT_EQ(panel.WaitTable(sent), PacketHex({{5, 0, 1, 0x02, 0, 25}}, true));
  EXPECT_EQ(panel.Tables().size(), sent + 1);
}

TEST(PanelWindowSystem, DigitKeysGoToTheSelectedPanelOnly) {
  TPanelRun panel(Script({{3, 1, 1, 0, 0, 0}, {5, 1, 2, 0, 0, 0}, {9, 1, 1, 0, 0, 0}}));
  ASSERT_TRUE(panel.Ready());
  ASSERT_TRUE(WaitFor([&] { return DevicePanels(panel.Main()).size() == 3; }, 10000));
  HWND five = DevicePanel(panel.Main(), L"FDeviceFrame5");

  PostChars(panel.Main(), L"4");    // no panel selected: nobody uses it
  Click(five, ChannelTile(1));      // mode 2: the click only selects
  PostChars(panel.Main(), L"4");    // the selected panel sets channel 4
  EXPECT_EQ(panel.WaitTable(0), PacketHex({{3, 0, 1, 0, 0, 0}, {5, 0, 2, 0x08, 0, 0}, {9, 0, 1, 0, 0, 0}}, true));
  ASSERT_TRUE(panel.WaitAnswerApplied());
  TPanelState shown;
  ASSERT_TRUE(QueryState(five, shown));
  EXPECT_EQ(shown, (TPanelState{2, 0x08, 0, 0, true, false})) << "what the panel shows, as tools read it";
  PostChars(panel.Main(), L"90");   // '9' is no channel; '0' clears
  EXPECT_EQ(panel.WaitTable(1), PacketHex({{3, 0, 1, 0, 0, 0}, {5, 0, 2, 0x00, 0, 0}, {9, 0, 1, 0, 0, 0}}, true));
  EXPECT_EQ(panel.Tables().size(), 2u);
}

TEST(PanelWindowSystem, DelayFieldOkCancelAndEscape) {
  TPanelRun panel(Script({kFive}));
  ASSERT_TRUE(panel.Ready());
  HWND five = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (five = DevicePanel(panel.Main(), L"FDeviceFrame5")) != nullptr; }, 10000));
  const std::wstring sep(1, DecimalSeparator());
  HWND edit = DelayEdit(five);
  EXPECT_TRUE(WaitFor([&] { return Text(edit) == L"2" + sep + L"5"; }, 5000)) << Narrow(Text(edit));

  TypeIntoDelay(five, L"2" + sep + L"2x5"); // the letter is refused
  ASSERT_TRUE(WaitFor([&] { return Text(edit) == L"2" + sep + L"25"; }, 5000)) << Narrow(Text(edit));
  ::PostMessageW(OkButton(five), BM_CLICK, 0, 0);
  EXPECT_EQ(panel.WaitTable(0), PacketHex({{5, 0, 1, 0x04, 1, 22}}, true)) << "2.25 ms stores 22 tenths";
  ASSERT_TRUE(panel.WaitAnswerApplied());
  EXPECT_TRUE(WaitFor([&] { return Text(edit) == L"2" + sep + L"2"; }, 5000)) << Narrow(Text(edit));

  TypeIntoDelay(five, L"7");
  ASSERT_TRUE(WaitFor([&] { return Text(edit) == L"7"; }, 5000));
  PostChars(edit, L"\x1b"); // Escape puts back what the panel last showed
  EXPECT_TRUE(WaitFor([&] { return Text(edit) == L"2" + sep + L"2"; }, 5000)) << Narrow(Text(edit));

  TypeIntoDelay(five, L"9");
  ASSERT_TRUE(WaitFor([&] { return Text(edit) == L"9"; }, 5000));
  ::PostMessageW(CancelButton(five), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(edit) == L"2" + sep + L"2"; }, 5000)) << Narrow(Text(edit));
  Click(five, IndicatorTile()); // the next table still carries the stored delay
  EXPECT_EQ(panel.WaitTable(1), PacketHex({{5, 0, 1, 0x04, 0, 22}}, true));
  EXPECT_EQ(panel.Tables().size(), 2u) << "Cancel sends nothing";

  // Pasted text is filtered as typing is.
  ASSERT_TRUE(PutOnClipboard(L"-1a2" + sep + L"5" + sep + L"x"));
  TypeIntoDelay(five, L"");
  ::PostMessageW(edit, WM_PASTE, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(edit) == L"-12" + sep + L"5"; }, 5000)) << Narrow(Text(edit));

  TypeIntoDelay(five, L"7000"); // beyond what a selector carries: clamped, never wrapped
  ::PostMessageW(OkButton(five), BM_CLICK, 0, 0);
  EXPECT_EQ(panel.WaitTable(2), PacketHex({{5, 0, 1, 0x04, 0, 65535}}, true));
}
