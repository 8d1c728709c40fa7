#include "DelayField.h"

#include <gtest/gtest.h>

using namespace q417;

namespace {
const TNumberFormat kEnglish = TNumberFormat::FromWindows(u".", u",", u"3;0");
const TNumberFormat kGerman = TNumberFormat::FromWindows(u",", u".", u"3;0");
const TNumberFormat kIndian = TNumberFormat::FromWindows(u".", u",", u"3;2;0");
const TNumberFormat kLastGroupOnly = TNumberFormat::FromWindows(u".", u",", u"3");

std::string Utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }
} // namespace

TEST(DelayField, DisplayFormDropsTrailingZerosAndGroups) {
  const struct { double ms; const TNumberFormat* format; const char16_t* text; } cases[] = {
      {5.0, &kEnglish, u"5"},          {0.5, &kEnglish, u"0.5"},         {1000.0, &kEnglish, u"1,000"},
      {6553.5, &kEnglish, u"6,553.5"}, {0.0, &kEnglish, u"0"},           {-5.0, &kEnglish, u"-5"},
      {-0.04, &kEnglish, u"0"},        {2.25, &kEnglish, u"2.3"},        {1234567.8, &kEnglish, u"1,234,567.8"},
      {1234567.8, &kGerman, u"1.234.567,8"}, {1234567.0, &kIndian, u"12,34,567"}, {1234567.0, &kLastGroupOnly, u"1234,567"},
      {1e20, &kEnglish, u"100,000,000,000,000,000,000"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8(FormatDelayMs(c.ms, *c.format)), Utf8(c.text)) << c.ms;
}

TEST(DelayField, TextReadsAsNumberOrZero) {
  const struct { const char16_t* text; const TNumberFormat* format; double value; } cases[] = {
      {u"2.25", &kEnglish, 2.25}, {u"1,000", &kEnglish, 1000.0}, {u"1.000,5", &kGerman, 1000.5},
      {u"-3", &kEnglish, -3.0},   {u"+3", &kEnglish, 3.0},        {u".5", &kEnglish, 0.5},
      {u"", &kEnglish, 0.0},      {u"-", &kEnglish, 0.0},         {u".", &kEnglish, 0.0},
      {u"1.2.3", &kEnglish, 0.0}, {u"12a", &kEnglish, 0.0},       {u"3-", &kEnglish, 0.0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseDelayMs(c.text, *c.format), c.value) << Utf8(c.text);
  EXPECT_EQ(Utf8(FormatDelayMs(ParseDelayMs(u"1.234.567,8", kGerman), kGerman)), "1.234.567,8") << "display form reads back";
}

TEST(DelayField, OkRoundsTiesToEvenAndNeverWraps) {
  const struct { double ms; int32_t tenths; } cases[] = {
      {2.25, 22}, {2.35, 24}, {0.05, 0}, {0.15, 2}, {0.25, 2}, {2.5, 25}, {0.0, 0},
      {-1.0, 0},  {6553.5, 65535}, {6553.6, 65535}, {7000.0, 65535}, {1e20, 65535},
  };
  for (const auto& c : cases) EXPECT_EQ(DelayTenthsFromMs(c.ms), c.tenths) << c.ms;
}

TEST(DelayField, TypingFilter) {
  const struct { const char16_t* text; size_t selStart, selEnd; char16_t ch; const TNumberFormat* format; bool taken; } cases[] = {
      {u"12", 2, 2, u'7', &kEnglish, true},
      {u"12", 1, 1, u'.', &kEnglish, true},
      {u"1.2", 3, 3, u'.', &kEnglish, false},  // one separator only
      {u"1.2", 0, 3, u'.', &kEnglish, true},   // ... unless the selection replaces it
      {u"12", 1, 1, u',', &kGerman, true},     // the locale's separator
      {u"12", 1, 1, u'.', &kGerman, false},
      {u"12", 0, 0, u'-', &kEnglish, true},
      {u"12", 1, 1, u'-', &kEnglish, false},   // only at the first position
      {u"-12", 0, 0, u'+', &kEnglish, false},  // a sign already there
      {u"-12", 0, 1, u'+', &kEnglish, true},   // ... but selected
      {u"12", 0, 0, u'a', &kEnglish, false},
      {u"12", 0, 0, u' ', &kEnglish, false},
      {u"12", 2, 2, u',', &kEnglish, false},   // grouping is not typed
      {u"12", 2, 2, u'\b', &kEnglish, true},   // editing keys pass
  };
  for (const auto& c : cases)
    EXPECT_EQ(AcceptDelayChar(c.text, c.selStart, c.selEnd, c.ch, *c.format), c.taken)
        << Utf8(c.text) << " [" << c.selStart << "," << c.selEnd << ") " << char(c.ch);
}

TEST(DelayField, PasteIsFilteredLikeTyping) {
  size_t caret = 0;
  EXPECT_EQ(Utf8(PasteIntoDelay(u"", 0, 0, u"-1a2.5.7\r\n", kEnglish, caret)), "-12.57");
  EXPECT_EQ(caret, 6u);
  EXPECT_EQ(Utf8(PasteIntoDelay(u"19", 1, 1, u"-3.4", kEnglish, caret)), "13.49");
  EXPECT_EQ(caret, 4u);
  EXPECT_EQ(Utf8(PasteIntoDelay(u"1.5", 0, 3, u"+2,5", kGerman, caret)), "+2,5");
}
