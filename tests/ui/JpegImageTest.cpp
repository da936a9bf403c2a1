#include "ui/JpegImage.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <cstdlib>

namespace {

QString SourcePath(const char* relative) {
  const char* root = std::getenv("DM_SOURCE_DIR");
  if (root == nullptr || *root == '\0') root = DM_SOURCE_DIR_DEFAULT;
  return QString::fromLocal8Bit(root) + QLatin1Char('/') + QLatin1String(relative);
}

TEST(Jpeg, BackgroundPictureDecodesAtItsSizeAndIsBlue) {
  const QImage image = ui::LoadJpeg(SourcePath("assets/background.jpg"));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(598, 430));
  // Sample a spot away from the title: mostly blue.
  const QColor c = image.pixelColor(20, 300);
  EXPECT_GT(c.blue(), c.red() + 40);
  EXPECT_GT(c.blue(), c.green());
}

TEST(Jpeg, WhatLibjpegCannotReadGivesANullImage) {
  const QByteArray inputs[] = {
      QByteArray(),
      QByteArray("not a picture at all"),
      QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10),  // a header that stops short
  };
  for (const QByteArray& data : inputs) EXPECT_TRUE(ui::DecodeJpeg(data).isNull());
  EXPECT_TRUE(ui::LoadJpeg(SourcePath("assets/no-such-picture.jpg")).isNull());
}

TEST(Jpeg, RoundTripOfASmallPictureKeepsItsColours) {
  QImage original(16, 8, QImage::Format_RGB32);
  original.fill(QColor(0, 0, 200));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!original.save(&buffer, "JPG", 95)) GTEST_SKIP() << "no JPEG writer in this Qt";
  const QImage decoded = ui::DecodeJpeg(bytes);
  ASSERT_EQ(decoded.size(), original.size());
  const QColor c = decoded.pixelColor(8, 4);
  EXPECT_NEAR(c.blue(), 200, 6);
  EXPECT_LE(c.red(), 6);
}

}  // namespace
