// The control panel's windows as the program lays them out and as tools and tests find, click
// and read them from outside: places in design pixels (96 DPI, scaled by the window's DPI), the
// control ids of a device panel's delay group, and the answer a device panel gives to the state
// query. Portable: no platform headers.
#pragma once

#include <cstdint>

namespace q417::layout {

struct TDesignRect {
  int x, y, w, h;
};

// The main window's client area until the first packet, and the status line along its bottom.
inline constexpr int MainClientWidth = 449;
inline constexpr int MainClientHeight = 219;
inline constexpr int StatusHeight = 19;

// The waiting display, top-aligned while no device panel is shown.
inline constexpr int WaitingHeight = 193;
inline constexpr TDesignRect WaitingGears{168, 48, 102, 102};
inline constexpr TDesignRect WaitingLabel{192, 156, 60, 14};

// A device panel: full width, stacked from the top, this high. Places are within the panel; its
// body starts below the header strip.
inline constexpr int PanelHeight = 182;
inline constexpr int HeaderHeight = 25;
inline constexpr TDesignRect DeviceIdLabel{8, 6, 62, 14};
inline constexpr TDesignRect DeviceIdText{70, 6, 120, 14};
inline constexpr TDesignRect VersionText{244, 6, 200, 14}; // right-aligned: grows to the left
inline constexpr TDesignRect SelectBar{8, HeaderHeight + 8, 10, 137};
// Channel i is 0 to 7 (channel 1 to 8), mode m 0 to 3.
constexpr TDesignRect ChannelTile(int i) { return {29 + 52 * i, HeaderHeight + 7, 46, 66}; }
constexpr TDesignRect ChannelLamp(int i) { return {39 + 52 * i, HeaderHeight + 40, 25, 25}; }
constexpr TDesignRect ChannelCaption(int i) { return {46 + 52 * i, HeaderHeight + 13, 12, 19}; }
constexpr TDesignRect ModeTile(int m) { return {29 + 52 * m, HeaderHeight + 79, 46, 66}; }
constexpr TDesignRect ModeBar(int m) { return {33 + 52 * m, HeaderHeight + 88, 38, 10}; }
constexpr TDesignRect ModePicture(int m) { return {32 + 52 * m, HeaderHeight + 101, 40, 40}; }
inline constexpr TDesignRect IndicatorTile{393, HeaderHeight + 79, 46, 66};
inline constexpr TDesignRect IndicatorBar{397, HeaderHeight + 88, 38, 10};
inline constexpr TDesignRect IndicatorPicture{396, HeaderHeight + 101, 40, 40};
// The delay group and its controls.
inline constexpr TDesignRect DelayGroup{247, HeaderHeight + 86, 129, 50};
inline constexpr TDesignRect DelayEdit{247 + 12, HeaderHeight + 86 + 19, 50, 21};
inline constexpr TDesignRect OkButton{247 + 68, HeaderHeight + 86 + 18, 25, 25};
inline constexpr TDesignRect CancelButton{247 + 96, HeaderHeight + 86 + 18, 25, 25};

// The delay group's child windows, for assistive tools and tests.
enum TControlId : int { DelayGroupId = 100, DelayEditId = 101, OkButtonId = 102, CancelButtonId = 103 };

// The state query: a registered window message of this name that any process may send to a
// device panel. The answer packs what the panel shows: mode | select << 8 | indicator << 16 |
// delay << 24 | selected << 40 | editing << 41.
inline constexpr const wchar_t* StateQueryMessageName = L"Q417PanelState";

struct TShownState {
  int Mode = -1, Select = -1, Indicator = -1, Delay = -1;
  bool Selected = false, Editing = false;
  bool operator==(const TShownState&) const = default;
};

constexpr uint64_t EncodeShownState(const TShownState& s) {
  const auto field = [](int value, uint32_t mask, int shift) { return uint64_t(uint32_t(value) & mask) << shift; };
  return field(s.Mode, 0xFF, 0) | field(s.Select, 0xFF, 8) | field(s.Indicator, 0xFF, 16) |
         field(s.Delay, 0xFFFF, 24) | uint64_t(s.Selected) << 40 | uint64_t(s.Editing) << 41;
}

constexpr TShownState DecodeShownState(uint64_t v) {
  return {int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24 & 0xFFFF), (v >> 40 & 1) != 0,
          (v >> 41 & 1) != 0};
}

} // namespace q417::layout
