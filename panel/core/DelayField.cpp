#include "DelayField.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace q417 {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Groups a string of integer digits with the locale's rule.
std::u16string Group(const std::u16string& digits, const TNumberFormat& f) {
  if (f.Grouping.empty() || f.ThousandSeparator.empty()) return digits;
  std::u16string out;
  size_t end = digits.size(); // digits not yet emitted: [0, end)
  std::vector<std::u16string> parts;
  size_t g = 0;
  while (end > 0) {
    int size = g < f.Grouping.size() ? f.Grouping[g] : (f.RepeatLastGroup ? f.Grouping.back() : 0);
    if (size <= 0 || size_t(size) >= end) {
      parts.push_back(digits.substr(0, end));
      break;
    }
    parts.push_back(digits.substr(end - size, size));
    end -= size;
    ++g;
  }
  for (size_t i = parts.size(); i-- > 0;) {
    out += parts[i];
    if (i > 0) out += f.ThousandSeparator;
  }
  return out;
}

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

} // namespace

TNumberFormat TNumberFormat::FromWindows(std::u16string decimal, std::u16string thousand, const std::u16string& grouping) {
  TNumberFormat f;
  f.DecimalSeparator = decimal.empty() ? u"." : std::move(decimal);
  f.ThousandSeparator = std::move(thousand);
  f.Grouping.clear();
  f.RepeatLastGroup = false;
  int value = 0;
  bool any = false;
  for (char16_t c : grouping + u";") {
    if (IsDigit(c)) {
      value = value * 10 + (c - u'0');
      any = true;
    } else if (c == u';') {
      if (!any) continue;
      if (value == 0) f.RepeatLastGroup = true;
      else f.Grouping.push_back(value);
      value = 0;
      any = false;
    }
  }
  if (f.Grouping.empty()) f.Grouping = {3}, f.RepeatLastGroup = true;
  return f;
}

std::u16string FormatDelayMs(double ms, const TNumberFormat& f) {
  if (!std::isfinite(ms)) ms = 0;
  const bool negative = ms < 0;
  const double magnitude = std::fabs(ms) * 10.0;
  std::u16string whole, tenth;
  if (magnitude < 9e15) {
    const long long tenths = std::llround(magnitude); // half away from zero, as displays round
    whole = Ascii(std::to_string(tenths / 10).c_str());
    if (tenths % 10 != 0) tenth = Ascii(std::to_string(tenths % 10).c_str());
    if (tenths == 0) return u"0";
  } else {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", magnitude / 10.0);
    whole = Ascii(buffer);
  }
  std::u16string out = negative ? u"-" : u"";
  out += Group(whole, f);
  if (!tenth.empty()) out += f.DecimalSeparator + tenth;
  return out;
}

double ParseDelayMs(const std::u16string& text, const TNumberFormat& f) {
  std::string ascii;
  bool seenDigit = false, seenDecimal = false;
  for (size_t i = 0; i < text.size();) {
    const char16_t c = text[i];
    if (!f.ThousandSeparator.empty() && text.compare(i, f.ThousandSeparator.size(), f.ThousandSeparator) == 0 &&
        f.ThousandSeparator != f.DecimalSeparator) {
      i += f.ThousandSeparator.size();
      continue;
    }
    if (text.compare(i, f.DecimalSeparator.size(), f.DecimalSeparator) == 0) {
      if (seenDecimal) return 0;
      seenDecimal = true;
      ascii += '.';
      i += f.DecimalSeparator.size();
      continue;
    }
    if ((c == u'+' || c == u'-') && ascii.empty()) {
      if (c == u'-') ascii += '-';
      else ascii += '+';
    } else if (IsDigit(c)) {
      ascii += char(c);
      seenDigit = true;
    } else if (c == u' ' && (i == 0 || i + 1 == text.size())) {
      // blanks around the number are harmless
    } else {
      return 0;
    }
    ++i;
  }
  if (!seenDigit) return 0;
  const char* begin = ascii.c_str();
  if (*begin == '+') ++begin;
  double value = 0;
  const auto [end, error] = std::from_chars(begin, ascii.c_str() + ascii.size(), value);
  if (error != std::errc() || end != ascii.c_str() + ascii.size()) return 0;
  return value;
}

int32_t DelayTenthsFromMs(double ms) {
  if (!(ms > 0)) return 0; // negative, zero and not-a-number
  const double tenths = std::nearbyint(ms * 10.0); // the default rounding mode: ties to even
  return tenths >= MaxDelayTenths ? MaxDelayTenths : int32_t(tenths);
}

bool AcceptDelayChar(const std::u16string& text, size_t selStart, size_t selEnd, char16_t ch, const TNumberFormat& f) {
  if (selStart > selEnd) std::swap(selStart, selEnd);
  selEnd = std::min(selEnd, text.size());
  selStart = std::min(selStart, selEnd);
  if (ch < 0x20 || ch == 0x7F) return true;
  if (IsDigit(ch)) return true;
  const std::u16string rest = text.substr(0, selStart) + text.substr(selEnd);
  if (f.DecimalSeparator.size() == 1 && ch == f.DecimalSeparator[0])
    return rest.find(f.DecimalSeparator) == std::u16string::npos;
  if (ch == u'+' || ch == u'-') {
    if (selStart != 0) return false;
    const bool hasSign = text.find_first_of(u"+-") != std::u16string::npos;
    const size_t sign = text.find_first_of(u"+-");
    const bool selectionCoversSign = hasSign && sign >= selStart && sign < selEnd;
    return !hasSign || selectionCoversSign;
  }
  return false;
}

std::u16string PasteIntoDelay(const std::u16string& text, size_t selStart, size_t selEnd, const std::u16string& pasted,
                              const TNumberFormat& f, size_t& caret) {
  if (selStart > selEnd) std::swap(selStart, selEnd);
  selEnd = std::min(selEnd, text.size());
  selStart = std::min(selStart, selEnd);
  std::u16string result = text.substr(0, selStart) + text.substr(selEnd);
  caret = selStart;
  for (char16_t c : pasted) {
    if (c < 0x20 || c == 0x7F) continue; // line breaks and tabs of the clipboard are not text here
    if (!AcceptDelayChar(result, caret, caret, c, f)) continue;
    result.insert(result.begin() + caret, c);
    ++caret;
  }
  return result;
}

} // namespace q417
