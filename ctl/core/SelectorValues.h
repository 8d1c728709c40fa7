// The values a script names for a selector's fields, and how a selector's state reads back as
// those values. Every parser takes the whole text or nothing: a value with anything left over
// is malformed, never cut short, and a value outside its range is an error, never clamped.
#pragma once

#include "Q417Records.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace q417ctl {

// A selector id in signed decimal ("5", "-3"), any 32-bit value.
std::optional<int32_t> ParseDeviceId(std::string_view text);

// channel=0..8|none: the one-bit mask of the channel (channel k is 1 << (k - 1)), 0 for none.
std::optional<uint8_t> ParseChannel(std::string_view text);
// mode=0..3|off
std::optional<uint8_t> ParseMode(std::string_view text);
// indicator=on|off|1|0
std::optional<uint8_t> ParseIndicator(std::string_view text);

enum class TDelayParse { Ok, Malformed, OutOfRange };
// delay=MS: a decimal number of milliseconds with '.' as the separator. Rounded to tenths with
// ties to even, on the exact decimal text (2.25 -> 22, 2.35 -> 24, 0.05 -> 0), as the panel's
// delay entry rounds; the rounded value must lie within 0 to 6553.5 ms.
TDelayParse ParseDelayTenths(std::string_view text, uint16_t& tenths);

// A whole number of milliseconds for --timeout, up to a day.
std::optional<uint32_t> ParseTimeoutMs(std::string_view text);
// A number of seconds for --for, decimals allowed, up to a year; in milliseconds.
std::optional<uint64_t> ParseSecondsAsMs(std::string_view text);

// The channel that a mask selects: 1 to 8 for exactly one channel bit, 0 for none, nothing for
// any other mask (several bits).
std::optional<int> ChannelOfMask(uint8_t select);

// The field values as they are written on a command line, so that a message can show what was
// asked for and what a selector reports in the same words: "3", "none", "on", "2.5".
std::string ChannelText(uint8_t select); // a mask of several bits reads "mask 0x03"
std::string IndicatorText(uint8_t indicator); // values other than 0 and 1 as numbers
std::string DelayMsText(uint16_t tenths);     // "2.5", "20", "6553.5"

} // namespace q417ctl
