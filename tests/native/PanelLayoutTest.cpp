#include "PanelLayout.h"

#include <gtest/gtest.h>

#include <vector>

using namespace q417::layout;

namespace {

bool Inside(const TDesignRect& inner, const TDesignRect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}

bool Overlap(const TDesignRect& a, const TDesignRect& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

} // namespace

// Other processes decode the answer by these bit positions; the expected numbers are written out
// here so that a change to the encoding cannot pass by changing both sides at once.
TEST(PanelStateQuery, AnswerPacksTheShownStateAtFixedBits) {
  const struct { TShownState shown; uint64_t answer; } cases[] = {
      {{0, 0, 0, 0, false, false}, 0},
      {{2, 0x08, 0, 0, true, false}, 0x100'0000'0802},
      {{1, 0x80, 1, 65535, false, true}, 0x2FF'FF01'8001},
      {{3, 0x01, 1, 25, true, true}, 0x300'1901'0103},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeShownState(c.shown), c.answer) << std::hex << c.answer;
    EXPECT_EQ(DecodeShownState(c.answer), c.shown) << std::hex << c.answer;
  }
  // A value wider than its field is cut to it and leaves the next field alone.
  EXPECT_EQ(EncodeShownState({0x1FF, 0x102, 0x101, 0x1'0005, false, false}), 0x5'0102'FFu);
}

TEST(PanelLayout, ClickableElementsAreDisjointAndInsideThePanel) {
  const TDesignRect panel{0, 0, MainClientWidth, PanelHeight};
  // Each clickable element with the parts drawn on it.
  std::vector<std::vector<TDesignRect>> elements;
  for (int i = 0; i < 8; ++i) elements.push_back({ChannelTile(i), ChannelLamp(i), ChannelCaption(i)});
  for (int m = 0; m < 4; ++m) elements.push_back({ModeTile(m), ModeBar(m), ModePicture(m)});
  elements.push_back({IndicatorTile, IndicatorBar, IndicatorPicture});
  for (size_t e = 0; e < elements.size(); ++e) {
    for (const TDesignRect& part : elements[e]) {
      EXPECT_TRUE(Inside(part, elements[e][0])) << "element " << e << " drawn outside its tile";
      EXPECT_TRUE(Inside(part, panel)) << "element " << e;
      EXPECT_GE(part.y, HeaderHeight) << "element " << e << " reaches into the header";
    }
    for (size_t other = e + 1; other < elements.size(); ++other)
      EXPECT_FALSE(Overlap(elements[e][0], elements[other][0])) << "elements " << e << " and " << other;
    EXPECT_FALSE(Overlap(elements[e][0], DelayGroup)) << "element " << e;
    EXPECT_FALSE(Overlap(elements[e][0], SelectBar)) << "element " << e;
  }
  for (const TDesignRect& control : {DelayEdit, OkButton, CancelButton})
    EXPECT_TRUE(Inside(control, DelayGroup));
  EXPECT_FALSE(Overlap(DelayEdit, OkButton));
  EXPECT_FALSE(Overlap(OkButton, CancelButton));
  EXPECT_TRUE(Inside(WaitingGears, {0, 0, MainClientWidth, WaitingHeight}));
  EXPECT_TRUE(Inside(WaitingLabel, {0, 0, MainClientWidth, WaitingHeight}));
}
