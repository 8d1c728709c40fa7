// The delay field's rules, given the user's number format: how a delay in milliseconds is
// shown, which typed or pasted characters are taken, how text reads as a number, and how an
// entry becomes the tenths of a millisecond that a selector carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace q417 {

// The locale's separators and digit grouping (Windows form: "3;0" repeats groups of three,
// "3;2;0" groups three then twos, "3" groups only the last three digits).
struct TNumberFormat {
  std::u16string DecimalSeparator = u".";
  std::u16string ThousandSeparator = u",";
  std::vector<int> Grouping = {3};
  bool RepeatLastGroup = true;

  // From the Windows grouping text, e.g. "3;2;0".
  static TNumberFormat FromWindows(std::u16string decimal, std::u16string thousand, const std::u16string& grouping);
};

// The largest delay a selector carries: 65535 tenths, 6553.5 ms.
inline constexpr int32_t MaxDelayTenths = 65535;

// The display form: one decimal, grouped, trailing zeros (and a bare separator) dropped.
// 5.0 -> "5", 0.5 -> "0.5", 1000 -> "1,000".
std::u16string FormatDelayMs(double milliseconds, const TNumberFormat& format);

// Reads the field's text; grouping separators are skipped. Empty or unreadable text is 0.
double ParseDelayMs(const std::u16string& text, const TNumberFormat& format);

// What OK stores: the value times ten, rounded to the nearest integer with ties to even,
// clamped to what a selector carries (0 to 65535) so that no entry wraps around.
int32_t DelayTenthsFromMs(double milliseconds);

// Whether a typed character is taken when it replaces text[selStart, selEnd). Digits always;
// the decimal separator while the rest of the text holds none; '+' or '-' only at the first
// position while the text holds no sign or the selection covers it. Control characters
// (editing keys) pass; every other printable character is refused.
bool AcceptDelayChar(const std::u16string& text, size_t selStart, size_t selEnd, char16_t ch,
                     const TNumberFormat& format);

// Pasting: the selection is replaced by the pasted characters that the typing rule takes,
// one by one. Returns the new text; caret receives the position after the inserted text.
std::u16string PasteIntoDelay(const std::u16string& text, size_t selStart, size_t selEnd,
                              const std::u16string& pasted, const TNumberFormat& format, size_t& caret);

} // namespace q417
