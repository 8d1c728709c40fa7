#include "SelectorValues.h"

#include <cstdio>

namespace q417ctl {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, at least one, the value no larger than max (leading zeros free).
std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + uint64_t(c - '0');
    if (value > max) return std::nullopt;
  }
  return value;
}

std::optional<uint8_t> ParseSmall(std::string_view text, unsigned max) {
  const auto value = ParseUnsigned(text, max);
  return value ? std::optional<uint8_t>(uint8_t(*value)) : std::nullopt;
}

// A decimal number without sign: integer digits, optionally '.' and fraction digits, at least
// one digit in all. The integer part saturates above limit (anything larger is out of range
// anyway); the fraction is kept as text so that rounding works on the exact decimal value.
struct TDecimal {
  uint64_t Whole = 0;
  bool WholeTooLarge = false;
  std::string_view Fraction;
};

std::optional<TDecimal> ParseDecimal(std::string_view text, uint64_t limit) {
  TDecimal d;
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  d.Fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() && d.Fraction.empty()) return std::nullopt;
  for (char c : whole) {
    if (!IsDigit(c)) return std::nullopt;
    if (!d.WholeTooLarge) {
      d.Whole = d.Whole * 10 + uint64_t(c - '0');
      d.WholeTooLarge = d.Whole > limit;
    }
  }
  for (char c : d.Fraction)
    if (!IsDigit(c)) return std::nullopt;
  return d;
}

} // namespace

std::optional<int32_t> ParseDeviceId(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const auto magnitude = ParseUnsigned(text, negative ? 2147483648u : 2147483647u);
  if (!magnitude) return std::nullopt;
  return negative ? int32_t(-int64_t(*magnitude)) : int32_t(*magnitude);
}

std::optional<uint8_t> ParseChannel(std::string_view text) {
  if (text == "none") return uint8_t(0);
  const auto channel = ParseSmall(text, 8);
  if (!channel) return std::nullopt;
  return *channel == 0 ? uint8_t(0) : uint8_t(1u << (*channel - 1));
}

std::optional<uint8_t> ParseMode(std::string_view text) {
  if (text == "off") return uint8_t(0);
  return ParseSmall(text, 3);
}

std::optional<uint8_t> ParseIndicator(std::string_view text) {
  if (text == "on" || text == "1") return uint8_t(1);
  if (text == "off" || text == "0") return uint8_t(0);
  return std::nullopt;
}

TDelayParse ParseDelayTenths(std::string_view text, uint16_t& tenths) {
  if (!text.empty() && text[0] == '-') {
    // A negative delay is a number, just not one a selector carries.
    return ParseDecimal(text.substr(1), 65535) ? TDelayParse::OutOfRange : TDelayParse::Malformed;
  }
  const auto d = ParseDecimal(text, 65535);
  if (!d) return TDelayParse::Malformed;
  if (d->WholeTooLarge) return TDelayParse::OutOfRange;
  uint64_t value = d->Whole * 10 + (d->Fraction.empty() ? 0 : uint64_t(d->Fraction[0] - '0'));
  // The rest of the fraction against one half of a tenth: above rounds up, exactly half
  // rounds to the even neighbour.
  const std::string_view rest = d->Fraction.size() > 1 ? d->Fraction.substr(1) : std::string_view{};
  if (!rest.empty()) {
    const bool aboveHalf = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string_view::npos);
    const bool half = rest[0] == '5' && !aboveHalf;
    if (aboveHalf || (half && value % 2 == 1)) ++value;
  }
  if (value > 65535) return TDelayParse::OutOfRange;
  tenths = uint16_t(value);
  return TDelayParse::Ok;
}

std::optional<uint32_t> ParseTimeoutMs(std::string_view text) {
  const auto value = ParseUnsigned(text, 86400000);
  return value ? std::optional<uint32_t>(uint32_t(*value)) : std::nullopt;
}

std::optional<uint64_t> ParseSecondsAsMs(std::string_view text) {
  constexpr uint64_t kYear = 366ull * 24 * 3600;
  const auto d = ParseDecimal(text, kYear);
  if (!d || d->WholeTooLarge) return std::nullopt;
  uint64_t ms = d->Whole * 1000;
  uint64_t scale = 100;
  for (char c : d->Fraction) { // digits past the millisecond add nothing
    ms += uint64_t(c - '0') * scale;
    scale /= 10;
  }
  return ms;
}

std::optional<int> ChannelOfMask(uint8_t select) {
  if (select == 0) return 0;
  for (int k = 1; k <= 8; ++k)
    if (select == 1u << (k - 1)) return k;
  return std::nullopt;
}

std::string ChannelText(uint8_t select) {
  const auto channel = ChannelOfMask(select);
  if (!channel) {
    char text[16];
    std::snprintf(text, sizeof text, "mask 0x%02X", unsigned(select));
    return text;
  }
  return *channel == 0 ? "none" : std::to_string(*channel);
}

std::string IndicatorText(uint8_t indicator) {
  if (indicator == 1) return "on";
  if (indicator == 0) return "off";
  return std::to_string(indicator);
}

std::string DelayMsText(uint16_t tenths) {
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

} // namespace q417ctl
