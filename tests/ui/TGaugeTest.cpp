#include "ui/TGauge.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

using ui::TGauge;

TEST(Gauge, RepaintsOnlyWhenThePercentageChanges) {
  TGauge gauge;
  const int before = gauge.RepaintRequests();
  gauge.SetPercent(0);
  EXPECT_EQ(gauge.RepaintRequests(), before);
  gauge.SetPercent(140);  // kept at 100
  gauge.SetPercent(100);
  EXPECT_EQ(gauge.Percent(), 100);
  EXPECT_EQ(gauge.RepaintRequests(), before + 1);
}

// The percentage text is drawn inverted: white where it lies over the blue bar, blue where it
// lies over the white part.
TEST(Gauge, TextStaysReadableOverTheFilledAndTheEmptyPart) {
  TGauge gauge;
  gauge.resize(369, 23);
  gauge.SetPercent(50);
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
