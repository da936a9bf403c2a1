#include "ui/TGauge.h"

#include <gtest/gtest.h>

#include <QImage>
#include <climits>

namespace {

using ui::TGauge;

struct PercentCase {
  int min, max, progress;
  int expectedProgress;
  int expectedPercent;
};

class GaugePercent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(GaugePercent, ProgressIsClampedAndPercentIsTheWholePart) {
  const PercentCase c = GetParam();
  TGauge gauge;
  gauge.SetMinValue(c.min);
  gauge.SetMaxValue(c.max);
  gauge.SetProgress(c.progress);
  EXPECT_EQ(gauge.Progress(), c.expectedProgress);
  EXPECT_EQ(gauge.Percent(), c.expectedPercent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GaugePercent,
    ::testing::Values(PercentCase{0, 100, 0, 0, 0},       // as designed
                      PercentCase{0, 0, 0, 0, 0},         // a restore with no files
                      PercentCase{0, 0, 5, 0, 0},         // a step past an empty range
                      PercentCase{0, 15, 1, 1, 6},        // 6.67 -> 6
                      PercentCase{0, 15, 14, 14, 93},     // 93.3 -> 93
                      PercentCase{0, 15, 15, 15, 100},
                      PercentCase{0, 15, 16, 15, 100},    // past the maximum
                      PercentCase{0, 15, -3, 0, 0},       // below the minimum
                      PercentCase{10, 20, 15, 15, 50},
                      PercentCase{-10, 10, 0, 0, 50},
                      // a span that overflows 32-bit arithmetic when multiplied by 100
                      PercentCase{INT_MIN, INT_MAX, INT_MAX, INT_MAX, 100},
                      PercentCase{INT_MIN, INT_MAX, 0, 0, 50}));

TEST(Gauge, DefaultsAreZeroToHundredAtZero) {
  TGauge gauge;
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_EQ(gauge.Progress(), 0);
}

TEST(Gauge, NewRangeLimitsPullTheProgressAlong) {
  TGauge gauge;
  gauge.SetProgress(80);
  gauge.SetMaxValue(50);
  EXPECT_EQ(gauge.Progress(), 50);
  EXPECT_EQ(gauge.Percent(), 100);

  gauge.SetMinValue(0);
  gauge.SetProgress(10);
  gauge.SetMinValue(20);
  EXPECT_EQ(gauge.Progress(), 20);
  EXPECT_EQ(gauge.Percent(), 0);
}

TEST(Gauge, RangeNeverTurnsOver) {
  TGauge gauge;
  gauge.SetMinValue(150);
  EXPECT_EQ(gauge.MaxValue(), 150);
  EXPECT_EQ(gauge.Percent(), 0);
  gauge.SetMaxValue(-5);
  EXPECT_EQ(gauge.MinValue(), -5);
  EXPECT_EQ(gauge.Progress(), -5);
}

TEST(Gauge, RepaintsOnlyWhenTheWholePercentageChanges) {
  TGauge gauge;
  gauge.SetMaxValue(300);
  const int afterSetup = gauge.RepaintRequests();

  gauge.SetProgress(1);  // 0.33 % -> still 0
  gauge.SetProgress(2);
  EXPECT_EQ(gauge.RepaintRequests(), afterSetup);
  gauge.SetProgress(3);  // 1 %
  EXPECT_EQ(gauge.RepaintRequests(), afterSetup + 1);
  gauge.SetProgress(4);  // still 1 %
  gauge.SetProgress(5);
  EXPECT_EQ(gauge.RepaintRequests(), afterSetup + 1);
  gauge.SetProgress(1000);  // clamped: 100 %
  gauge.SetProgress(2000);  // still 100 %
  EXPECT_EQ(gauge.RepaintRequests(), afterSetup + 2);
}

TEST(Gauge, SettingALimitToItsPresentValueDoesNothing) {
  TGauge gauge;
  gauge.SetProgress(40);
  const int before = gauge.RepaintRequests();
  gauge.SetMinValue(0);
  gauge.SetMaxValue(100);
  EXPECT_EQ(gauge.RepaintRequests(), before);
  EXPECT_EQ(gauge.Progress(), 40);

  gauge.SetMaxValue(200);  // a real change repaints, though the percentage moves too
  EXPECT_EQ(gauge.RepaintRequests(), before + 1);
}

// The percentage text is drawn inverted: white where it lies over the blue bar, blue where it
// lies over the white part.
TEST(Gauge, TextStaysReadableOverTheFilledAndTheEmptyPart) {
  TGauge gauge;
  gauge.resize(369, 23);
  gauge.SetProgress(50);
  QImage image(gauge.size(), QImage::Format_RGB32);
  gauge.render(&image);

  const QColor blue(0, 0, 255), white(255, 255, 255);
  EXPECT_EQ(image.pixelColor(5, 11), blue);     // bar, left of the text
  EXPECT_EQ(image.pixelColor(360, 11), white);  // empty part, right of the text
  EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 0));  // single-line border

  const int edge = 1 + 367 * 50 / 100;  // first pixel right of the bar
  int whiteOnBar = 0, blueOnWhite = 0;
  for (int y = 2; y < 21; ++y) {
    for (int x = 150; x < edge; ++x)
      if (image.pixelColor(x, y).blue() > 200 && image.pixelColor(x, y).red() > 200) ++whiteOnBar;
    for (int x = edge; x < 220; ++x)
      if (image.pixelColor(x, y).blue() > 200 && image.pixelColor(x, y).red() < 60) ++blueOnWhite;
  }
  EXPECT_GT(whiteOnBar, 10) << "no text pixels over the bar";
  EXPECT_GT(blueOnWhite, 10) << "no text pixels over the empty part";
}

}  // namespace
