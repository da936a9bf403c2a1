#pragma once
// Decoding of JPEG pictures with libjpeg, independent of Qt's image plug-ins.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ui {

// The picture in `data`, or a null image when it is no JPEG libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);

// Reads a JPEG file (or a Qt resource such as ":/assets/background.jpg").
QImage LoadJpeg(const QString& path);

}  // namespace ui
