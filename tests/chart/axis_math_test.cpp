#include "chart/axis_math.h"
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

using namespace axis_math;

namespace {

TEST(AxisMath, NextStepFollowsOneTwoFive) {
  const struct {
    double x, next;
  } cases[] = {{1, 2},     {2, 5},     {5, 10},  {10, 20},  {1.5, 2}, {3, 5},         {7, 10},
               {20, 50},   {50, 100},  {0.1, 0.2}, {0.5, 1}, {0.2, 0.5}, {1e-12, 2e-12}, {2e6, 5e6}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NextStep(c.x), c.next) << c.x;
}

TEST(AxisMath, LabelCountAndSize) {
  // 200-pixel axis, 11-pixel labels, 10 % separation: size 12, 17 labels.
  EXPECT_EQ(MaxLabelCount(200, 11, 10), 17);
  EXPECT_EQ(MaxLabelCount(300, 30, 0), 10);
  EXPECT_EQ(MaxLabelCount(200, 0, 10), 1);
  EXPECT_EQ(MaxLabelCount(5, 40, 10), 0);
  EXPECT_EQ(LabelSizeAlongAxis(true, 0, 30, 11), 30);
  EXPECT_EQ(LabelSizeAlongAxis(true, 90, 30, 11), 11);
  EXPECT_EQ(LabelSizeAlongAxis(false, 0, 30, 11), 11);
  EXPECT_EQ(LabelSizeAlongAxis(false, 180, 30, 11), 11);
  EXPECT_EQ(LabelSizeAlongAxis(false, 270, 30, 11), 30);
}

TEST(AxisMath, NumericIncrementOverRanges) {
  const struct { double range, desired; int maxLabels; double increment; } cases[] = {
      {61, 0, 17, 5},          // 67 .. 6 on a 200-pixel axis: 1 -> 2 -> 5 (12 labels)
      {61, 3, 17, 5},          // a desired step is the start, not the answer
      {61, 20, 17, 20},
      {0, 0, 17, 1e-12},       // equal ends
      {0.5, 0, 5, 0.1},        // small range starts at 1e-12
      {1000, 0, 10, 100},
      {1e9, 0, 10, 1e8},       // quotients beyond the 32-bit range step on
      {1e300, 0, 10, 1e299},
      {-61, 0, 17, 1},         // a reversed scale needs no thinning
      {61, 0, 0, 1e-12},       // no room for any label
      {61, 0, 1, 50},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(NumericIncrement(c.range, c.desired, c.maxLabels), c.increment, c.increment * 1e-9)
        << c.range << " / " << c.maxLabels;
  }
  EXPECT_GE(NumericIncrement(std::numeric_limits<double>::infinity(), 0, 10), 1e-12);
  EXPECT_GE(NumericIncrement(std::nan(""), 0, 10), 1e-12);
}

TEST(AxisMath, DateTimeIncrementWalksTheStepTable) {
  const struct { double range, desired; int maxLabels; double increment; } cases[] = {
      {1, 0, 10, 6.0 / 24},      // one day: hours 1, 2 crowd, 6 fits
      {1, 0, 30, 1.0 / 24},
      {30, 0, 10, 3},
      {30, 0, 5, 7},
      {3650, 0, 5, 730},         // beyond a year the step doubles
      {1, 0, 0, 1.0 / 86400},
      {1e-9, 0, 5, 1.0 / 86400}, // never below a second
      {1e7, 0, 10, 4096 * 365},  // range / 1e6 first, then doubling
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(DateTimeIncrement(c.range, c.desired, c.maxLabels), c.increment, c.increment * 1e-9)
        << c.range << " / " << c.maxLabels;
  }
}

TEST(AxisMath, LabelValues) {
  const LabelRule plain{};
  LabelRule offAxis;
  offAxis.labelsOnAxis = false;
  LabelRule unrounded;
  unrounded.roundFirstLabel = false;
  const struct { double min, max, increment; LabelRule rule; std::vector<double> values; } cases[] = {
      {6, 67, 5, plain, {65, 60, 55, 50, 45, 40, 35, 30, 25, 20, 15, 10}},
      {10, 65, 5, plain, {65, 60, 55, 50, 45, 40, 35, 30, 25, 20, 15, 10}},
      {10, 65, 5, offAxis, {60, 55, 50, 45, 40, 35, 30, 25, 20, 15}},
      {6, 67, 5, unrounded, {67, 62, 57, 52, 47, 42, 37, 32, 27, 22, 17, 12, 7}},
      {-67, -6, 5, plain, {-10, -15, -20, -25, -30, -35, -40, -45, -50, -55, -60, -65}},
      {-3, -3, 1, plain, {-3}},
      {0, 0.3, 0.1, plain, {0.3, 0.2, 0.1, 0}},  // no label lost to binary fractions
      {5, 5, 1e-12, plain, {}},                  // step far too small for the values
      {0, 1e9, 1, plain, {}},                    // more than 10000 labels
      {0, 10, 0, plain, {}},
  };
  for (const auto& c : cases) {
    const auto got = LabelValues(c.min, c.max, c.increment, c.rule);
    ASSERT_EQ(got.size(), c.values.size()) << c.min << ".." << c.max;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.values[i], 1e-9) << i;
  }
}

TEST(AxisMath, CalendarLabels) {
  // 2023-03-15 (a Wednesday) is serial day 45000.
  const struct { double value, step, boundary; } cases[] = {
      {45000.7, 1, 45000},  {45000.7, 3, 45000},  {45000.7, 7, 44998},   // Monday 13th
      {45000.7, 15, 44986}, {45002, 15, 45001},                          // 1st, 16th
      {45000.7, 30, 44986}, {45000.7, 90, 44927}, {45000.7, 182, 44927}, // month, quarter, half year
      {45000.7, 365, 44927}, {45000.7, 730, 44562},                      // 2023-01-01, 2022-01-01
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeBoundary(c.value, c.step), c.boundary) << c.value << "/" << c.step;
  LabelRule dates;
  dates.dateTime = true;
  const auto months = LabelValues(44927, 45017, 30, dates);  // Jan 1 .. Apr 1
  EXPECT_EQ(months, (std::vector<double>{45017, 44986, 44958, 44927}));
}

TEST(AxisMath, DateTimeText) {
  EXPECT_EQ(DateTimeText("", 45000, 30), "2023-03-15");
  EXPECT_EQ(DateTimeText("", 45000.5, 0.5), "12:00");
  EXPECT_EQ(DateTimeText("", -1, 30), "");
  EXPECT_EQ(DateTimeText("dd.mm.yyyy hh:nn", 45000.75, 30), "15.03.2023 18:00");
  EXPECT_EQ(DateTimeText("mmmm yy", 45000, 30), "März 23");
  EXPECT_EQ(DateTimeText("ddd d/m", 45000, 30), "Mi 15-3");
  EXPECT_EQ(DateTimeText("h:mm am/pm", 45000.75, 1), "6:00 pm");
  EXPECT_EQ(DateTimeText("'Tag' d", 45000, 30), "Tag 15");
}

TEST(AxisMath, PositionsAndTheirInverse) {
  // minimum, maximum, logarithmic, inverted, horizontal; plot (10, 20, 310, 220)
  const ScaleGeometry h{0, 100, false, false, true, 10, 20, 310, 220};
  const ScaleGeometry v{0, 100, false, false, false, 10, 20, 310, 220};
  const ScaleGeometry hi{0, 100, false, true, true, 10, 20, 310, 220};
  const ScaleGeometry vi{0, 100, false, true, false, 10, 20, 310, 220};
  const ScaleGeometry flat{0, 0, false, false, true, 10, 20, 310, 220};
  const ScaleGeometry flatV{7, 7, false, false, false, 10, 20, 310, 220};
  const ScaleGeometry log{1, 100, true, false, true, 10, 20, 310, 220};
  const ScaleGeometry logFlat{1, 1, true, false, true, 10, 20, 310, 220};
  const struct { const ScaleGeometry* g; double value; int pixel; } cases[] = {
      {&h, 0, 10},     {&h, 100, 310},  {&h, 25, 85},    {&h, 50, 160},
      {&hi, 25, 235},  {&hi, 0, 310},   {&v, 0, 220},    {&v, 100, 20},
      {&v, 25, 170},   {&vi, 25, 70},   {&vi, 100, 220}, {&flat, 123, 160},
      {&flatV, 7, 120}, {&log, 10, 160}, {&log, 100, 310}, {&log, 1, 10},
      {&log, 0, 10},   {&log, -5, 10},  {&logFlat, 10, 160},
      {&h, 0.5, 12},   // 1.5 -> 2 (ties to even)
      {&h, 2.5 / 3, 12},
  };
  for (const auto& c : cases) EXPECT_EQ(CalcPosValue(*c.g, c.value), c.pixel) << c.value;
  for (const ScaleGeometry* g : {&h, &v, &hi, &vi, &log}) {
    for (double value : {1.0, 10.0, 50.0, 100.0}) {
      const double back = CalcPosPoint(*g, CalcPosValue(*g, value));
      EXPECT_NEAR(back, value, value * 0.03 + 0.5) << value;
    }
  }
  EXPECT_EQ(CalcPosPoint(ScaleGeometry{0, 100, false, false, true, 10, 20, 10, 220}, 50), 0);  // no width
  // Wild values stay within what the surface can take.
  EXPECT_LT(std::abs(CalcPosValue(h, 1e300)), 1 << 25);
  EXPECT_LT(std::abs(CalcPosValue(v, -1e300)), 1 << 25);
  EXPECT_EQ(CalcPosValue(h, std::nan("")), 10);
  EXPECT_EQ(CalcDepthPosValue(0, 4, 60, 2), 30);
  EXPECT_EQ(CalcDepthPosValue(-0.5, 0.5, 45, 0), 22);  // 22.5 -> 22
  EXPECT_EQ(CalcDepthPosValue(3, 3, 60, 3), 60);
}

TEST(AxisMath, MarginsWidenTheScale) {
  const struct { double min, max; int extent, minSide, maxSide; bool log; double newMin, newMax; } cases[] = {
      {0, 4, 300, 36, 36, false, -0.631578947368421, 4.631578947368421},  // 36 of 228 pixels: 0.63
      {0, 100, 200, 0, 20, false, 0, 111.111111111111},                    // 20 of 180 pixels: 11.1
      {5, 5, 300, 36, 36, false, 5, 5},    // no range: every value stays in the centre
      {0, 4, 60, 30, 30, false, 0, 4},     // no pixels left
      {1, 100, 300, 0, 100, true, 1, 1000},
      {0, 100, 300, 10, 10, true, 0, 100}, // no logarithm of 0
  };
  for (const auto& c : cases) {
    double lo = c.min, hi = c.max;
    WidenScale(lo, hi, c.extent, c.minSide, c.maxSide, c.log);
    EXPECT_NEAR(lo, c.newMin, 1e-9) << c.min << ".." << c.max;
    EXPECT_NEAR(hi, c.newMax, 1e-9) << c.min << ".." << c.max;
  }
  // The old ends land exactly the margins inside the extent.
  ScaleGeometry g{0, 4, false, false, true, 0, 0, 300, 0};
  WidenScale(g.minimum, g.maximum, 300, 36, 36, false);
  EXPECT_EQ(CalcPosValue(g, 0), 36);
  EXPECT_EQ(CalcPosValue(g, 4), 264);
}

TEST(AxisMath, TextLabelsSkipOverlaps) {
  // 40-pixel labels with 10 % separation take 44 pixels, half 22.
  LabelOverlap overlap(10);
  const struct {
    int position;
    bool drawn;
  } steps[] = {{0, true}, {30, false}, {50, true}, {60, false}, {94, true}, {-100, true}};
  for (const auto& s : steps) EXPECT_EQ(overlap.Accept(s.position, 40), s.drawn) << s.position;
  LabelOverlap none(0);
  for (int p : {0, 1, 2}) EXPECT_TRUE(none.Accept(p, 40));
  EXPECT_EQ(MultiLineLabelRise(12, 1), 6);
  EXPECT_EQ(MultiLineLabelRise(12, 2), 12);
  EXPECT_EQ(SplitLines("a\r\nb\rc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(MultiLineText("sehr gut"), "sehr\rgut");
}

}  // namespace
